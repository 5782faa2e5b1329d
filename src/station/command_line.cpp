#include "station/command_line.h"

#include <QCommandLineParser>
#include <QDate>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <string_view>

#include "records/server_location.h"

#ifndef QUOR_STATION_VERSION
#error "QUOR_STATION_VERSION must come from the project's version"
#endif

namespace station {
namespace {

constexpr const char* kProgram = "quor_station";

struct Options {
  QCommandLineOption help{{"h", "help"}, "Show these options and exit."};
  QCommandLineOption version{"version", "Print the program's version and exit."};
  QCommandLineOption visa{"visa", "Use this VISA library; exit if it cannot be used.", "PATH"};
  QCommandLineOption simulate{"simulate", "Use the built-in simulated chassis."};
  QCommandLineOption list{"list-resources", "Print the VXI resources found and exit."};
  QCommandLineOption trace{"trace", "Write every VISA call to FILE.", "FILE"};
  QCommandLineOption fault{"fault", "Put a fault on a simulated module (repeatable).", "NAME[@LA]"};
  QCommandLineOption virtual_time{"virtual-time", "Simulated waits cost no real time."};
  QCommandLineOption records{"records", "Keep the run records in this file or on this server.",
                             "PATH"};
  QCommandLineOption station_id{"station-id", "Name this station in its run records.", "NAME"};
  QCommandLineOption export_records{"export-records", "Export run records (.csv/.json/.xml).",
                                    "FILE"};
  QCommandLineOption since{"since", "Export only runs from this day on.", "YYYY-MM-DD"};
  QCommandLineOption serial{"serial", "Export only units whose serial holds TEXT.", "TEXT"};
  QCommandLineOption station{"station", "Export only this station's runs.", "NAME"};
  QCommandLineOption include_simulated{"include-simulated", "Export simulated runs as well."};
  QCommandLineOption setup_server{"setup-records-server",
                                  "Set up the line's records server; exit."};
  QCommandLineOption station_role{"station-role", "The role the stations log in with.", "NAME"};

  QList<QCommandLineOption> all() const {
    return {help,           version,     visa,         simulate, list,
            trace,          fault,       virtual_time, records,  station_id,
            export_records, since,       serial,       station,  include_simulated,
            setup_server,   station_role};
  }
};

std::string text_of(const QString& text) { return text.toStdString(); }

std::optional<std::string> value_of(const QCommandLineParser& parser,
                                    const QCommandLineOption& option) {
  if (!parser.isSet(option)) return std::nullopt;
  return text_of(parser.value(option));
}

CommandLine refuse(std::string message) {
  CommandLine command;
  command.action = CommandAction::Refuse;
  command.text =
      kProgram + std::string(": ") + message + "\n" + kProgram + ": --help lists the options.\n";
  command.exit_status = kUsageStatus;
  return command;
}

CommandLine print(std::string text) {
  CommandLine command;
  command.action = CommandAction::PrintText;
  command.text = std::move(text);
  return command;
}

std::string help_text(const QCommandLineParser& parser) {
  QString text = parser.helpText();
  // The first line names the program as it was started (or not at all without an application).
  text = text.mid(text.indexOf('\n') + 1);
  return "Usage: " + std::string(kProgram) + " [options]\n" + text_of(text) +
         "\nFaults for --fault (LA: a logical address, 8 when left out):\n" +
         sim::fault_list_text();
}

bool is_day(const std::string& text) {
  return text.size() == 10 &&
         QDate::fromString(QString::fromStdString(text), "yyyy-MM-dd").isValid();
}

}  // namespace

std::string version_text() { return std::string(kProgram) + " " + QUOR_STATION_VERSION + "\n"; }

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
  const Options options;
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The Quor Bus final-test and calibration station. Without options it uses an installed "
      "VISA library, else the built-in simulated chassis.");
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOptions(options.all());

  QStringList list;
  for (const std::string& argument : arguments) list << QString::fromLocal8Bit(argument.c_str());
  if (list.isEmpty()) list << kProgram;
  if (!parser.parse(list)) return refuse(text_of(parser.errorText()));

  if (parser.isSet(options.help)) return print(help_text(parser));
  if (parser.isSet(options.version)) return print(version_text());
  if (!parser.positionalArguments().isEmpty()) {
    return refuse("unexpected argument \"" + text_of(parser.positionalArguments().first()) + "\"");
  }

  CommandLine command;
  StationOptions& chosen = command.options;
  const QStringList faults = parser.values(options.fault);
  if (faults.contains("help")) {
    return print("Faults for --fault NAME[@LA] (LA: a logical address, 8 when left out):\n" +
                 sim::fault_list_text());
  }
  for (const QString& fault : faults) {
    const sim::ParsedFault parsed = sim::parse_fault(fault.toStdString());
    if (!parsed.request) return refuse(parsed.error);
    chosen.faults.push_back(*parsed.request);
  }
  chosen.visa_path = value_of(parser, options.visa);
  chosen.simulate = parser.isSet(options.simulate);
  chosen.trace_file = value_of(parser, options.trace);
  chosen.virtual_time = parser.isSet(options.virtual_time);
  chosen.records_path = value_of(parser, options.records);
  chosen.station_id = value_of(parser, options.station_id);
  chosen.export_file = value_of(parser, options.export_records);
  chosen.since = value_of(parser, options.since);
  chosen.serial = value_of(parser, options.serial);
  chosen.station = value_of(parser, options.station);
  chosen.include_simulated = parser.isSet(options.include_simulated);
  chosen.setup_records_server = parser.isSet(options.setup_server);
  chosen.station_role = value_of(parser, options.station_role);

  for (const auto& [option, value] :
       {std::pair{"--visa", &chosen.visa_path}, std::pair{"--trace", &chosen.trace_file},
        std::pair{"--records", &chosen.records_path}, std::pair{"--station-id", &chosen.station_id},
        std::pair{"--export-records", &chosen.export_file}, std::pair{"--station", &chosen.station},
        std::pair{"--station-role", &chosen.station_role}}) {
    if (*value && (*value)->empty()) return refuse(std::string(option) + " needs a value");
  }
  if (chosen.visa_path && chosen.simulate) {
    return refuse("--visa and --simulate exclude each other: choose one");
  }
  if (!chosen.faults.empty() && !chosen.simulate) {
    return refuse("--fault works on the simulated chassis only: add --simulate");
  }
  if (chosen.virtual_time && !chosen.simulate) {
    return refuse("--virtual-time works on the simulated chassis only: add --simulate");
  }
  if (chosen.since && !is_day(*chosen.since)) {
    return refuse("--since needs a day as YYYY-MM-DD, not \"" + *chosen.since + "\"");
  }
  const bool list_resources = parser.isSet(options.list);
  if (list_resources && chosen.export_file) {
    return refuse("--list-resources and --export-records exclude each other: choose one");
  }
  if (chosen.setup_records_server && (list_resources || chosen.export_file)) {
    return refuse(
        "--setup-records-server works alone: leave --list-resources and "
        "--export-records out");
  }
  if (chosen.setup_records_server && !chosen.station_role) {
    return refuse(
        "--setup-records-server needs --station-role NAME, the role the stations log "
        "in with");
  }
  if (chosen.station_role && !chosen.setup_records_server) {
    return refuse("--station-role works with --setup-records-server only");
  }
  if (list_resources) command.action = CommandAction::ListResources;
  if (chosen.export_file) command.action = CommandAction::ExportRecords;
  if (chosen.setup_records_server) command.action = CommandAction::SetupRecordsServer;
  return command;
}

}  // namespace station

namespace station {

int hide_passwords(int argc, char* argv[]) {
  int hidden = 0;
  for (int i = 1; i < argc; ++i) {
    char* argument = argv[i];
    if (argument == nullptr) continue;
    // The line alone ("--records" LINE) or after an option's '=' ("--records=LINE").
    const std::string_view whole(argument);
    std::size_t start = 0;
    if (!records::is_server_location(whole)) {
      const std::size_t equals = whole.find('=');
      if (equals == std::string_view::npos ||
          !records::is_server_location(whole.substr(equals + 1))) {
        continue;
      }
      start = equals + 1;
    }
    for (const auto& [offset, length] : records::password_spans(whole.substr(start))) {
      std::memset(argument + start + offset, '*', length);
      ++hidden;
    }
  }
  return hidden;
}

}  // namespace station
