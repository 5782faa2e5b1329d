#include "records/records_location.h"

#include <QStandardPaths>
#include <QString>
#include <cstdlib>

#include "records/server_location.h"

namespace records {

OptionValue option_value(const std::vector<std::string>& arguments, std::string_view name) {
  OptionValue found;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (argument == name) {
      if (i + 1 < arguments.size()) {
        found = {arguments[i + 1], false};
        ++i;
      } else {
        found = {std::nullopt, true};
      }
    } else if (argument.size() > name.size() && argument.starts_with(name) &&
               argument[name.size()] == '=') {
      const auto value = argument.substr(name.size() + 1);
      found =
          value.empty() ? OptionValue{std::nullopt, true} : OptionValue{std::string(value), false};
    }
  }
  return found;
}

RecordsLocation resolve_records_location(const std::vector<std::string>& arguments,
                                         const std::optional<std::string>& environment,
                                         std::string_view app_data_folder) {
  const OptionValue option = option_value(arguments, kRecordsOption);
  if (option.missing_value) {
    return {{}, std::string(kRecordsOption) + " needs the name of a record file", {}};
  }
  std::optional<std::string> chosen = option.value;
  if (!chosen && environment && !environment->empty()) chosen = environment;
  std::string station_file;
  if (!app_data_folder.empty()) {
    station_file = app_data_folder;
    if (station_file.back() != '/') station_file += '/';
    station_file += kRecordsFileName;
  }
  if (chosen) {
    if (!is_server_location(*chosen)) return {*chosen, {}, *chosen};
    const ParsedServerLocation server = parse_server_location(*chosen);
    if (!server.location) {
      return {{},
              "the records server line " + redacted_location(*chosen) +
                  " is not valid: " + server.error,
              {}};
    }
    if (station_file.empty()) {
      return {
          {}, "there is no application data folder to keep the runs waiting for the server in", {}};
    }
    return {*chosen, {}, station_file};
  }
  if (station_file.empty()) {
    return {{}, "there is no application data folder to keep the records in", {}};
  }
  return {station_file, {}, station_file};
}

RecordsLocation records_location(const std::vector<std::string>& arguments) {
  std::optional<std::string> environment;
  if (const char* value = std::getenv(std::string(kRecordsVariable).c_str())) {
    environment = value;
  }
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  return resolve_records_location(arguments, environment, folder.toStdString());
}

}  // namespace records
