// The Quor Bus final-test and calibration station.
#include <QApplication>
#include <cstdlib>

#include "app/qt_event_pump.h"
#include "app/qt_operator.h"
#include "app/station_log.h"
#include "core/station.h"
#include "records/records_location.h"
#include "station/records_wiring.h"
#include "station/station_windows.h"
#include "station/visa_selection.h"
#include "visa/visa_call_trace.h"
#include "visa/visa_loader.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("QuorBusTest");
  // The installed desktop entry (packaging/), so that a desktop shows the station's icon and name.
  QApplication::setDesktopFileName("org.quorbus.Station");

  station::VisaChoice visa_choice = station::choose_visa(visa::vendor_library_candidates());
  qCInfo(lcStation).noquote() << "VISA:" << QString::fromStdString(visa_choice.in_use.description);
  for (const std::string& refused : visa_choice.refused) {
    qCInfo(lcStation).noquote() << "not used:" << QString::fromStdString(refused);
  }

  // Every VISA call passes the trace; it describes them only when quor.visa is enabled.
  app::LoggingVisaSink visa_log;
  visa::TracingVisa traced(*visa_choice.library, lcVisa().isDebugEnabled() ? &visa_log : nullptr);

  app::QtOperator person;
  app::QtEventPump pump;
  core::Station station(traced, person, pump, visa_choice.in_use);
  app::LoggingProcedureObserver procedure_log;
  station.procedure.observers.push_back(&procedure_log);

  // The configuration load's failure path ends the program at once, as the technician was told.
  station::StationWindows windows(station, [] { std::_Exit(EXIT_FAILURE); });
  pump.set_delay_timer(windows.form().DelayTimer);
  windows.form().show();
  station::announce_visa_choice(visa_choice, person);
  // Production records: --records PATH, else QUOR_RECORDS, else the application data folder.
  const QStringList arguments = QApplication::arguments().mid(1);
  std::vector<std::string> args;
  for (const QString& argument : arguments) args.push_back(argument.toStdString());
  station::RecordsWiring records(station, windows,
                                 {records::records_location(args).path, std::string()});
  const int status = QApplication::exec();
  qCInfo(lcStation) << "closed";
  return status;
}
