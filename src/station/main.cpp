// The Quor Bus final-test and calibration station.
#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QSysInfo>
#include <QThreadPool>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_event_pump.h"
#include "app/qt_operator.h"
#include "app/station_log.h"
#include "app/unit_report.h"
#include "core/station.h"
#include "station/command_line.h"
#include "station/final_test_command.h"
#include "station/messages.h"
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

// What to do when the options' VISA cannot be used: another library, or (the simulated chassis
// refusing a fault) a module it has.
const char* visa_advice(const station::StationOptions& options) {
  return options.visa_path
             ? "name a VISA library that can be used with --visa PATH, or train on --simulate"
             : "put the fault on a module of the simulated chassis (--simulate --list-resources "
               "lists them)";
}

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
    std::cerr << station::complaint(chosen.error, visa_advice(options));
    return EXIT_FAILURE;
  }
  std::cout << station::report_line("VISA: " + chosen.choice.in_use.description);
  return station::list_resources(*chosen.choice.library, chosen.choice.in_use.simulated, std::cout,
                                 std::cerr);
}

// --final-test, without a display. The unit report (--report) is laid out with the fonts of a
// GUI application, on the offscreen platform: no display is needed.
int final_test(int argc, char* argv[], const station::StationOptions& options) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  QCoreApplication::setApplicationName(kApplicationName);
  const station::RecordsOptions records =
      station::records_options(options, station::records_location(options));
  const std::string station_id =
      records.station_id.empty() ? QSysInfo::machineHostName().toStdString() : records.station_id;
  station::FinalTestOutputs outputs;
  outputs.report = [station_id](const procedures::FinalTestResult& result,
                                const core::VisaInUse& visa, const std::string& path) {
    return app::write_unit_report_pdf(
        {result, {station_id, QUOR_PROGRAM_VERSION, visa.description, visa.simulated}}, path);
  };
  return station::run_final_test(options, outputs, std::cin, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv, argv + argc);
  // Read: from here on only `arguments` (and what the command line took from them) holds a
  // server line's password.
  if (station::hide_passwords(argc, argv) > 0) {
    std::fputs(station::password_file_advice().c_str(), stderr);
  }
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
  if (options.final_test) return final_test(argc, argv, options);
  // The Final Test window's sequence; a wrong file ends the program before any window.
  station::CommandSequence sequence = station::chosen_sequence(options);
  if (!sequence.sequence) {
    std::fputs(
        station::complaint(sequence.error, "correct the sequence file named by --sequence").c_str(),
        stderr);
    return station::kUsageStatus;
  }

  // --visa never falls back: a library that cannot be used ends the program, before any window
  // (and with or without a display).
  station::OptionVisa chosen = station::choose_visa_for(options);
  if (!chosen.error.empty()) {
    std::fputs(station::complaint(chosen.error, visa_advice(options)).c_str(), stderr);
    return EXIT_FAILURE;
  }

  station::VisaChoice& visa_choice = chosen.choice;
  // Every VISA call passes the trace (a trace file that cannot be written ends the program before
  // any window); it describes them only to the sinks that are on: the log
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
      std::fputs(
          station::complaint(error, "name a file that can be written with --trace FILE").c_str(),
          stderr);
      return station::kUsageStatus;
    }
    trace_sinks.add(trace_file.get());
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(kApplicationName);
  // The installed desktop entry (packaging/), so that a desktop shows the station's icon and name.
  QApplication::setDesktopFileName("org.quorbus.Station");
  qCInfo(lcStation).noquote() << "VISA:" << QString::fromStdString(visa_choice.in_use.description);
  for (const std::string& refused : visa_choice.refused) {
    qCInfo(lcStation).noquote() << "not used:" << QString::fromStdString(refused);
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
  station::RecordsOptions records_options =
      station::records_options(options, station::records_location(options));
  // The Final Test window files each unit's report under --reports DIR, else the data folder's.
  app::FinalTestWindow::Options final_test;
  final_test.reports_folder = options.reports_dir.value_or(app::default_reports_folder());
  final_test.sequence = std::move(*sequence.sequence);
  final_test.station = {
      records_options.station_id.empty() ? QSysInfo::machineHostName().toStdString()
                                         : records_options.station_id,
      QUOR_PROGRAM_VERSION, visa_choice.in_use.description, visa_choice.in_use.simulated};
  app::FinalTestWindow& final_test_window = windows.attach_final_test(std::move(final_test));
  station::RecordsWiring records(station, windows, std::move(records_options));
  // Each unit is kept as one unit result, and its time left estimated from this station's runs.
  final_test_window.runner().add_observer(records.unit_results());
  final_test_window.runner().set_expected_duration(records.expected_duration());
  const int status = QApplication::exec();
  // A unit's report still being written is finished, and kept, before the window system goes.
  QThreadPool::globalInstance()->waitForDone();
  qCInfo(lcStation) << "closed";
  return status;
}
