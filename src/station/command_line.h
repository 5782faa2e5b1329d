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
};

enum class CommandAction {
  RunStation,     // the windows
  ListResources,  // --list-resources, without a display
  ExportRecords,  // --export-records, without a display
  PrintText,      // --help, --version, --fault help: print `text` and end with status 0
  Refuse,         // a wrong option or value: `text` says which, status kUsageStatus
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

}  // namespace station
