// The Quor Bus final-test and calibration station.
#include <QApplication>

#include "app/display_form.h"
#include "app/qt_event_pump.h"
#include "app/qt_operator.h"
#include "app/station.h"
#include "app/visa_selection.h"
#include "visa/visa_loader.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("QuorBusTest");

  app::VisaChoice visa_choice = app::choose_visa(visa::vendor_library_candidates());
  app::QtOperator person;
  app::QtEventPump pump;
  app::Station station(*visa_choice.library, person, pump, visa_choice.in_use);

  app::DisplayForm form(station);
  pump.set_delay_timer(form.DelayTimer);
  form.show();
  return QApplication::exec();
}
