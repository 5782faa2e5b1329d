#include "station/records_commands.h"

#include "records/server_location.h"
#include "records/server_setup.h"

namespace station {

records::RecordsLocation records_location(const StationOptions& options) {
  return records::records_location(options.records_path);
}

RecordsOptions records_options(const StationOptions& options,
                               const records::RecordsLocation& where) {
  const bool on_server = records::is_server_location(where.path);
  return {where.station_file, options.station_id.value_or(std::string()),
          on_server ? where.path : std::string(),
          on_server ? records::redacted_location(where.path) : std::string()};
}

records::ExportRequest export_request(const StationOptions& options,
                                      const records::RecordsLocation& where) {
  return {options.export_file.value_or(std::string()),
          where.path,
          options.since,
          options.serial,
          options.include_simulated,
          options.station};
}

int run_export(const StationOptions& options, std::ostream& out, std::ostream& err) {
  const records::RecordsLocation where = records_location(options);
  if (!where.error.empty()) {
    err << "quor_station: " << where.error << "\n";
    return records::kExportUsage;
  }
  return records::export_records_main(export_request(options, where), out);
}

int run_server_setup(const StationOptions& options, std::ostream& out, std::ostream& err) {
  const records::RecordsLocation where = records_location(options);
  if (!where.error.empty()) {
    err << "quor_station: " << where.error << "\n";
    return records::kSetupUsage;
  }
  return records::setup_records_server(where.path, options.station_role.value_or(""), out, err);
}

}  // namespace station
