// The station's command line: what it asks for (the VISA library, the simulated chassis with
// its faults and virtual time, a trace file, the records) and what the program does first (run,
// list the resources, export records, or print help, version or the faults and end).
// Parsed without a display, into plain values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/fault_catalogue.h"

namespace station {

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
  std::optional<std::string> since;
  std::optional<std::string> serial;
  std::optional<std::string> station;
  bool include_simulated = false;
  // --setup-records-server with --station-role NAME: the line's server set up by its owner.
  bool setup_records_server = false;
  std::optional<std::string> station_role;
};

enum class CommandAction {
  RunStation,          // the windows
  ListResources,       // --list-resources, without a display
  ExportRecords,       // --export-records, without a display
  SetupRecordsServer,  // --setup-records-server, without a display
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
inline constexpr const char* kPasswordFileAdvice =
    "quor_station: a password on the command line can be read by other users of this computer "
    "until the station has hidden it; a password file (~/.pgpass, or the file PGPASSFILE names) "
    "is the safer way.\n";

}  // namespace station
