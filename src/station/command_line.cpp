#include "station/command_line.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstring>
#include <map>
#include <string_view>

#include "records/server_location.h"

#ifndef QUOR_STATION_VERSION
#error "QUOR_STATION_VERSION must come from the project's version"
#endif

namespace station {
namespace {

constexpr const char* kProgram = "quor_station";

QString text_of(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string text_of(const QString& text) { return text.toStdString(); }

std::string dashed(const OptionDescription& option) { return "--" + std::string(option.name); }

// The parser's options, one for each row of kOptions.
class Options {
 public:
  Options() {
    for (const OptionDescription& row : kOptions) {
      QStringList names;
      if (!row.short_name.empty()) names << text_of(row.short_name);
      names << text_of(row.name);
      by_option_.emplace(row.option,
                         QCommandLineOption(names, text_of(row.help), text_of(row.value_name)));
    }
  }

  const QCommandLineOption& operator[](Option option) const { return by_option_.at(option); }

  QList<QCommandLineOption> all() const {
    QList<QCommandLineOption> options;
    for (const OptionDescription& row : kOptions) options << by_option_.at(row.option);
    return options;
  }

 private:
  std::map<Option, QCommandLineOption> by_option_;
};

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

  const auto is_set = [&](Option option) { return parser.isSet(options[option]); };
  const auto value_of = [&](Option option) -> std::optional<std::string> {
    if (!is_set(option)) return std::nullopt;
    return text_of(parser.value(options[option]));
  };

  if (is_set(Option::help)) return print(help_text(parser));
  if (is_set(Option::version)) return print(version_text());
  if (!parser.positionalArguments().isEmpty()) {
    return refuse("unexpected argument \"" + text_of(parser.positionalArguments().first()) + "\"");
  }

  CommandLine command;
  StationOptions& chosen = command.options;
  const QStringList faults = parser.values(options[Option::fault]);
  if (faults.contains("help")) {
    return print("Faults for --fault NAME[@LA] (LA: a logical address, 8 when left out):\n" +
                 sim::fault_list_text());
  }
  for (const QString& fault : faults) {
    const sim::ParsedFault parsed = sim::parse_fault(fault.toStdString());
    if (!parsed.request) return refuse(parsed.error);
    chosen.faults.push_back(*parsed.request);
  }
  // Every option that takes a value needs one; --since's is a day.
  for (const OptionDescription& row : kOptions) {
    if (row.value_name.empty() || row.option == Option::fault || row.option == Option::since ||
        row.option == Option::until) {
      continue;
    }
    const std::optional<std::string> value = value_of(row.option);
    if (value && value->empty()) return refuse(dashed(row) + " needs a value");
  }
  chosen.visa_path = value_of(Option::visa);
  chosen.simulate = is_set(Option::simulate);
  chosen.trace_file = value_of(Option::trace);
  chosen.virtual_time = is_set(Option::virtual_time);
  chosen.records_path = value_of(Option::records);
  chosen.station_id = value_of(Option::station_id);
  chosen.export_file = value_of(Option::export_records);
  chosen.serial = value_of(Option::serial);
  chosen.station = value_of(Option::station);
  chosen.include_simulated = is_set(Option::include_simulated);
  chosen.setup_records_server = is_set(Option::setup_records_server);
  chosen.station_role = value_of(Option::station_role);
  chosen.yield_report_file = value_of(Option::yield_report);

  if (chosen.visa_path && chosen.simulate) {
    return refuse("--visa and --simulate exclude each other: choose one");
  }
  for (const OptionDescription& row : kOptions) {
    if (row.needs_simulate && is_set(row.option) && !chosen.simulate) {
      return refuse(dashed(row) + " works on the simulated chassis only: add --simulate");
    }
  }
  if (const std::optional<std::string> since = value_of(Option::since)) {
    chosen.since = records::parse_utc_date(*since);
    if (!chosen.since) return refuse("--since needs a day as YYYY-MM-DD, not \"" + *since + "\"");
  }
  if (const std::optional<std::string> until = value_of(Option::until)) {
    const std::optional<records::TimePoint> day = records::parse_utc_date(*until);
    if (!day) return refuse("--until needs a day as YYYY-MM-DD, not \"" + *until + "\"");
    chosen.until = *day + std::chrono::hours(24);
    if (!chosen.yield_report_file) return refuse("--until works with --yield-report only");
    if (chosen.since && *chosen.since >= *chosen.until) {
      return refuse("--until names a day before --since's");
    }
  }
  const bool list_resources = is_set(Option::list_resources);
  if (chosen.yield_report_file &&
      (list_resources || chosen.export_file || chosen.setup_records_server)) {
    return refuse(
        "--yield-report works alone: leave --list-resources, --export-records and "
        "--setup-records-server out");
  }
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
  if (chosen.yield_report_file) command.action = CommandAction::YieldReport;
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
