// The Quor Bus final-test and calibration station.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_event_pump.h"
#include "app/qt_operator.h"
#include "app/station_log.h"
#include "core/station.h"
#include "station/command_line.h"
#include "station/records_commands.h"
#include "station/records_wiring.h"
#include "station/resource_listing.h"
#include "station/station_windows.h"
#include "station/virtual_time_pump.h"
#include "station/visa_options.h"
#include "station/yield_report_command.h"
#include "visa/visa_call_trace.h"
#include "visa/visa_trace_file.h"

namespace {

constexpr const char* kApplicationName = "QuorBusTest";

// --export-records, without a display.
int export_records(int argc, char* argv[], const station::StationOptions& options) {
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(kApplicationName);
  return station::run_export(options, std::cout, std::cerr);
}

// --setup-records-server, without a display.
int setup_records_server(int argc, char* argv[], const station::StationOptions& options) {
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(kApplicationName);
  return station::run_server_setup(options, std::cout, std::cerr);
}

// --yield-report, without a display.
int yield_report(int argc, char* argv[], const station::StationOptions& options) {
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(kApplicationName);
  return station::run_yield_report(options, std::cout, std::cerr);
}

// --list-resources, without a display.
int list_resources(int argc, char* argv[], const station::StationOptions& options) {
  QCoreApplication application(argc, argv);
  station::OptionVisa chosen = station::choose_visa_for(options);
  if (!chosen.error.empty()) {
    std::cerr << "quor_station: " << chosen.error << "\n";
    return EXIT_FAILURE;
  }
  std::cout << "VISA: " << chosen.choice.in_use.description << "\n";
  return station::list_resources(*chosen.choice.library, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv, argv + argc);
  // Read: from here on only `arguments` (and what the command line took from them) holds a
  // server line's password.
  if (station::hide_passwords(argc, argv) > 0) std::fputs(station::kPasswordFileAdvice, stderr);
  const station::CommandLine command = station::parse_command_line(arguments);
  switch (command.action) {
    case station::CommandAction::PrintText:
      std::fputs(command.text.c_str(), stdout);
      return EXIT_SUCCESS;
    case station::CommandAction::Refuse:
      std::fputs(command.text.c_str(), stderr);
      return command.exit_status;
    case station::CommandAction::ListResources:
      return list_resources(argc, argv, command.options);
    case station::CommandAction::ExportRecords:
      return export_records(argc, argv, command.options);
    case station::CommandAction::SetupRecordsServer:
      return setup_records_server(argc, argv, command.options);
    case station::CommandAction::YieldReport:
      return yield_report(argc, argv, command.options);
    case station::CommandAction::RunStation:
      break;
  }
  const station::StationOptions& options = command.options;

  // --visa never falls back: a library that cannot be used ends the program, before any window
  // (and with or without a display).
  station::OptionVisa chosen = station::choose_visa_for(options);
  if (!chosen.error.empty()) {
    std::fprintf(stderr, "quor_station: %s\n", chosen.error.c_str());
    return EXIT_FAILURE;
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(kApplicationName);
  // The installed desktop entry (packaging/), so that a desktop shows the station's icon and name.
  QApplication::setDesktopFileName("org.quorbus.Station");
  station::VisaChoice& visa_choice = chosen.choice;
  qCInfo(lcStation).noquote() << "VISA:" << QString::fromStdString(visa_choice.in_use.description);
  for (const std::string& refused : visa_choice.refused) {
    qCInfo(lcStation).noquote() << "not used:" << QString::fromStdString(refused);
  }

  // Every VISA call passes the trace; it describes them only to the sinks that are on: the log
  // when quor.visa is enabled, the --trace file, the trace window while it is shown.
  visa::TracingVisa traced(*visa_choice.library);
  visa::TraceSinks trace_sinks(traced);
  const visa::StatusDescriber describe_status =
      visa::library_status_describer(*visa_choice.library);
  app::LoggingVisaSink visa_log;
  if (lcVisa().isDebugEnabled()) trace_sinks.add(&visa_log);
  std::unique_ptr<visa::TraceFileSink> trace_file;
  if (options.trace_file) {
    std::string error;
    trace_file = visa::TraceFileSink::open(*options.trace_file, describe_status, error);
    if (!trace_file) {
      std::fprintf(stderr, "quor_station: %s\n", error.c_str());
      return station::kUsageStatus;
    }
    trace_sinks.add(trace_file.get());
  }

  app::QtOperator person;
  app::QtEventPump pump;
  // On virtual time the waits cost no real time: their ticks come from the virtual clock.
  std::unique_ptr<station::VirtualTimePump> virtual_pump;
  if (chosen.virtual_clock != nullptr) {
    virtual_pump = std::make_unique<station::VirtualTimePump>(*chosen.virtual_clock);
  }
  driver::EventPump& station_pump =
      virtual_pump ? static_cast<driver::EventPump&>(*virtual_pump) : pump;
  core::Station station(traced, person, station_pump, visa_choice.in_use);
  if (virtual_pump) virtual_pump->count_ticks_in(station.driver_state);
  app::LoggingProcedureObserver procedure_log;
  station.procedure.observers.push_back(&procedure_log);

  // The configuration load's failure path ends the program at once, as the technician was told.
  station::StationWindows windows(station, [] { std::_Exit(EXIT_FAILURE); });
  windows.attach_trace(trace_sinks, describe_status);
  pump.set_delay_timer(windows.form().DelayTimer);
  windows.form().show();
  station::announce_visa_choice(visa_choice, person);
  // Production records: --records PATH, else QUOR_RECORDS, else the application data folder.
  station::RecordsWiring records(
      station, windows, station::records_options(options, station::records_location(options)));
  const int status = QApplication::exec();
  qCInfo(lcStation) << "closed";
  return status;
}
