// The Quor Bus final-test and calibration station.
#include <QApplication>
#include <cstdlib>

#include "app/qt_event_pump.h"
#include "app/qt_operator.h"
#include "app/station.h"
#include "app/visa_selection.h"
#include "station/station_windows.h"
#include "visa/visa_loader.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("QuorBusTest");
  // The installed desktop entry (packaging/), so that a desktop shows the station's icon and name.
  QApplication::setDesktopFileName("org.quorbus.Station");

  app::VisaChoice visa_choice = app::choose_visa(visa::vendor_library_candidates());
  app::QtOperator person;
  app::QtEventPump pump;
  app::Station station(*visa_choice.library, person, pump, visa_choice.in_use);

  // The configuration load's failure path ends the program at once, as the technician was told.
  station::StationWindows windows(station, [] { std::_Exit(EXIT_FAILURE); });
  pump.set_delay_timer(windows.form().DelayTimer);
  windows.form().show();
  app::announce_visa_choice(visa_choice, person);
  return QApplication::exec();
}
