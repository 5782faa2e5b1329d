// The station's command line: what it asks for (the VISA library, the simulated chassis with
// its faults and virtual time, a trace file, the records) and what the program does first (run,
// list the resources, export records, set up the line's records server, or print help, version
// or the faults and end). Read once, without a display, into plain values that main(), the
// records and the commands without a display take as they are.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/run_record.h"
#include "sim/fault_catalogue.h"

namespace station {

enum class Option {
  help,
  version,
  visa,
  simulate,
  list_resources,
  trace,
  fault,
  virtual_time,
  records,
  station_id,
  export_records,
  since,
  serial,
  station,
  include_simulated,
  setup_records_server,
  station_role,
  final_test,
  top_serial,
  sub_serial,
  technician,
  uut,
  qcu,
  sequence,
  yes,
  report,
  junit,
  reports,
  yield_report,
  until,
};

// What an option is about: the group it belongs to in the option table.
enum class OptionGroup {
  program,
  visa_library,
  training_and_simulation,
  records_and_the_line,
  final_test,
  exports,
  diagnostics,
};

constexpr std::string_view group_name(OptionGroup group) {
  switch (group) {
    case OptionGroup::program:
      return "the program";
    case OptionGroup::visa_library:
      return "choosing the VISA library";
    case OptionGroup::training_and_simulation:
      return "training and simulation";
    case OptionGroup::records_and_the_line:
      return "records and the line";
    case OptionGroup::final_test:
      return "a unit's final test";
    case OptionGroup::exports:
      return "exports";
    case OptionGroup::diagnostics:
      return "diagnostics";
  }
  return {};
}

// What --help, the manual page and README add to an option that needs --simulate.
inline constexpr std::string_view kNeedsSimulate = "(needs --simulate)";

struct OptionDescription {
  Option option;
  std::string_view name;        // "visa": --visa (a single dash, -visa, reads the same)
  std::string_view short_name;  // "h": -h; empty: none
  std::string_view value_name;  // "PATH"; empty: the option takes no value
  std::string_view help;        // its one line in --help
  OptionGroup group;
  bool needs_simulate;  // refused without --simulate
};

// Every option the station takes, in the order --help lists them. The parser is built from this
// table and from nothing else.
inline constexpr OptionDescription kOptions[] = {
    {Option::help, "help", "h", "", "Show these options and exit.", OptionGroup::program, false},
    {Option::version, "version", "", "", "Print the program's version and exit.",
     OptionGroup::program, false},
    {Option::visa, "visa", "", "PATH", "Use this VISA library; exit if it cannot be used.",
     OptionGroup::visa_library, false},
    {Option::simulate, "simulate", "", "", "Use the built-in simulated chassis.",
     OptionGroup::training_and_simulation, false},
    {Option::list_resources, "list-resources", "", "", "Print the VXI resources found and exit.",
     OptionGroup::diagnostics, false},
    {Option::trace, "trace", "", "FILE", "Write every VISA call to FILE.", OptionGroup::diagnostics,
     false},
    {Option::fault, "fault", "", "NAME[@LA]", "Put a fault on a simulated module (repeatable).",
     OptionGroup::training_and_simulation, true},
    {Option::virtual_time, "virtual-time", "", "", "Simulated waits cost no real time.",
     OptionGroup::training_and_simulation, true},
    {Option::records, "records", "", "PATH",
     "Keep the run records in this file, or on a server: postgresql://USER@HOST/DATABASE.",
     OptionGroup::records_and_the_line, false},
    {Option::station_id, "station-id", "", "NAME", "Name this station in its run records.",
     OptionGroup::records_and_the_line, false},
    {Option::export_records, "export-records", "", "FILE", "Export run records (.csv/.json/.xml).",
     OptionGroup::exports, false},
    {Option::since, "since", "", "YYYY-MM-DD", "Export only runs from this day on.",
     OptionGroup::exports, false},
    {Option::serial, "serial", "", "TEXT", "Export only units whose serial holds TEXT.",
     OptionGroup::exports, false},
    {Option::station, "station", "", "NAME", "Export only this station's runs.",
     OptionGroup::exports, false},
    {Option::include_simulated, "include-simulated", "", "", "Export simulated runs as well.",
     OptionGroup::exports, false},
    {Option::setup_records_server, "setup-records-server", "", "",
     "Set up the line's records server; exit.", OptionGroup::records_and_the_line, false},
    {Option::station_role, "station-role", "", "NAME", "The role the stations log in with.",
     OptionGroup::records_and_the_line, false},
    {Option::final_test, "final-test", "", "", "Run a unit's final test without windows; exit.",
     OptionGroup::final_test, false},
    {Option::top_serial, "top-serial", "", "S", "The unit's top assembly serial (--final-test).",
     OptionGroup::final_test, false},
    {Option::sub_serial, "sub-serial", "", "S", "The unit's sub assembly serial (--final-test).",
     OptionGroup::final_test, false},
    {Option::technician, "technician", "", "T", "Who tests the unit (--final-test).",
     OptionGroup::final_test, false},
    {Option::uut, "uut", "", "RESOURCE", "The UUT's VISA resource (--final-test).",
     OptionGroup::final_test, false},
    {Option::qcu, "qcu", "", "RESOURCE", "The QCU's VISA resource (--final-test).",
     OptionGroup::final_test, false},
    {Option::sequence, "sequence", "", "FILE", "The final test's steps, one a line, from FILE.",
     OptionGroup::final_test, false},
    {Option::yes, "yes", "", "", "Take every cabling as connected (--final-test).",
     OptionGroup::final_test, false},
    {Option::report, "report", "", "FILE.pdf", "Write the unit report there (--final-test).",
     OptionGroup::final_test, false},
    {Option::junit, "junit", "", "FILE.xml", "Write the unit result as JUnit (--final-test).",
     OptionGroup::final_test, false},
    {Option::reports, "reports", "", "DIR", "Write the unit reports (PDF) into DIR.",
     OptionGroup::final_test, false},
    {Option::yield_report, "yield-report", "", "FILE", "Write the yield report (HTML) and exit.",
     OptionGroup::exports, false},
    {Option::until, "until", "", "YYYY-MM-DD", "Report only runs up to this day.",
     OptionGroup::exports, false},
};

struct StationOptions {
  std::optional<std::string> visa_path;   // --visa PATH: that library or nothing
  bool simulate = false;                  // --simulate
  std::optional<std::string> trace_file;  // --trace FILE
  std::vector<sim::FaultRequest> faults;  // --fault NAME[@LA], in the order given
  bool virtual_time = false;              // --virtual-time
  // The records (--records PATH, --station-id NAME) and their export (--export-records FILE
  // with --since, --serial, --station, --include-simulated).
  std::optional<std::string> records_path;
  std::optional<std::string> station_id;
  std::optional<std::string> export_file;
  std::optional<records::TimePoint> since;  // the start of that day (UTC)
  std::optional<std::string> serial;
  std::optional<std::string> station;
  bool include_simulated = false;
  // --setup-records-server with --station-role NAME: the line's server set up by its owner.
  bool setup_records_server = false;
  std::optional<std::string> station_role;
  // --final-test with the unit (--top-serial, --sub-serial, --technician, --uut, --qcu), its
  // sequence (--sequence FILE), --yes, and the files it writes (--report, --junit).
  bool final_test = false;
  std::optional<std::string> top_serial;
  std::optional<std::string> sub_serial;
  std::optional<std::string> technician;
  std::optional<std::string> uut_resource;
  std::optional<std::string> qcu_resource;
  std::optional<std::string> sequence_file;
  bool yes = false;
  std::optional<std::string> report_file;
  std::optional<std::string> junit_file;
  // --reports DIR: the folder of the unit reports; unset: the application data folder's.
  std::optional<std::string> reports_dir;
  // --yield-report FILE with --since, --until, --station, --include-simulated.
  std::optional<std::string> yield_report_file;
  std::optional<records::TimePoint> until;  // the start of the day after it (UTC)
};
enum class CommandAction {
  RunStation,          // the windows
  ListResources,       // --list-resources, without a display
  ExportRecords,       // --export-records, without a display
  SetupRecordsServer,  // --setup-records-server, without a display
  YieldReport,         // --yield-report, without a display
  PrintText,           // --help, --version, --fault help: print `text` and end with status 0
  Refuse,              // a wrong option or value: `text` says which, status kUsageStatus
};

// Exit status for a wrong command line.
inline constexpr int kUsageStatus = 2;

struct CommandLine {
  CommandAction action = CommandAction::RunStation;
  StationOptions options;
  std::string text;
  int exit_status = 0;
};

// `arguments` as main() got them, the program's name first.
CommandLine parse_command_line(const std::vector<std::string>& arguments);

// "quor_station 1.0".
std::string version_text();

// Overwrites in place, with '*', every password a server line among the arguments writes
// (argv[1] on), so that the process's command line as others read it (ps, /proc/PID/cmdline) no
// longer shows it; what was read before keeps it. Returns how many passwords it hid.
int hide_passwords(int argc, char* argv[]);

// What the station says on standard error when it hid a password.
std::string password_file_advice();

}  // namespace station
