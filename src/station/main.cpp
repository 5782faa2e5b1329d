// The Quor Bus final-test and calibration station.
#include <QApplication>
#include <cstdlib>

#include "app/qt_event_pump.h"
#include "app/qt_operator.h"
#include "core/station.h"
#include "station/visa_selection.h"
#include "station/station_windows.h"
#include "visa/visa_loader.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("QuorBusTest");

  station::VisaChoice visa_choice = station::choose_visa(visa::vendor_library_candidates());
  app::QtOperator person;
  app::QtEventPump pump;
  core::Station station(*visa_choice.library, person, pump, visa_choice.in_use);

  // The configuration load's failure path ends the program at once, as the technician was told.
  station::StationWindows windows(station, [] { std::_Exit(EXIT_FAILURE); });
  pump.set_delay_timer(windows.form().DelayTimer);
  windows.form().show();
  station::announce_visa_choice(visa_choice, person);
  return QApplication::exec();
}
