#include "records/records_location.h"

#include <QStandardPaths>
#include <QString>
#include <cstdlib>

#include "records/server_location.h"

namespace records {

RecordsLocation resolve_records_location(const std::optional<std::string>& option,
                                         const std::optional<std::string>& environment,
                                         std::string_view app_data_folder) {
  std::optional<std::string> chosen = option;
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

RecordsLocation records_location(const std::optional<std::string>& option) {
  std::optional<std::string> environment;
  if (const char* value = std::getenv(std::string(kRecordsVariable).c_str())) {
    environment = value;
  }
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  return resolve_records_location(option, environment, folder.toStdString());
}

}  // namespace records
