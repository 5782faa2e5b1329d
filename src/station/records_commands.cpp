#include "station/records_commands.h"

#include <filesystem>
#include <numeric>
#include <sstream>

#include "records/record_store.h"
#include "records/server_location.h"
#include "records/server_setup.h"
#include "station/messages.h"

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

namespace {

std::string runs_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " run" : " runs");
}

// The runs the filter selects on the simulated chassis, counted by the store (never read one by
// one): all the runs the filter selects with simulated ones, less those without.
records::ReadResult<std::size_t> simulated_runs(records::RecordStore& store,
                                                records::RecordFilter filter) {
  records::ReadResult<std::size_t> result;
  const auto total = [&](bool simulated_too, std::size_t& runs) {
    filter.include_simulated = simulated_too;
    const records::ReadResult<std::vector<records::RunGroup>> groups = store.group(filter);
    runs =
        std::accumulate(groups.value.begin(), groups.value.end(), std::size_t{0},
                        [](std::size_t sum, const records::RunGroup& g) { return sum + g.count; });
    return groups.error;
  };
  result.error = store.read_together([&] {
    std::size_t with = 0;
    std::size_t without = 0;
    std::string error = total(true, with);
    if (error.empty()) error = total(false, without);
    result.value = with - without;
    return error;
  });
  return result;
}

}  // namespace

int run_export(const StationOptions& options, std::ostream& out, std::ostream& err) {
  const records::RecordsLocation where = records_location(options);
  if (!where.error.empty()) {
    err << complaint(where.error, "correct the records named by --records or QUOR_RECORDS");
    return records::kExportUsage;
  }
  const records::ExportRequest request = export_request(options, where);
  if (!records::export_format_for(request.file)) {
    err << complaint(
        "cannot export to " + request.file + ": the file name must end in .csv, .json or .xml",
        "name the export file so");
    return records::kExportUsage;
  }
  std::error_code ignored;
  if (!records::is_server_location(request.records_path) &&
      !std::filesystem::is_regular_file(request.records_path, ignored)) {
    err << complaint("there is no record file at " + request.records_path,
                     "name the station's record file with --records PATH");
    return records::kExportFailed;
  }
  records::RecordStore store(request.records_path, records::OpenMode::reader);
  if (!store.open()) {
    err << complaint(store.status_text(), "check the record file or the server line");
    return records::kExportFailed;
  }
  records::RecordFilter filter;
  filter.include_simulated = request.include_simulated;
  filter.started_from = request.since;
  if (request.serial) filter.serial = *request.serial;
  if (request.station) filter.station = *request.station;
  std::size_t count = 0;
  if (const std::string error = records::export_records(store, filter, request.file, &count);
      !error.empty()) {
    err << complaint("nothing was exported: " + error,
                     "check that the export file's folder exists and can be written");
    return records::kExportFailed;
  }
  out << report_line("exported " + runs_text(count) + " to " + request.file);
  if (!request.include_simulated) {
    const records::ReadResult<std::size_t> left_out = simulated_runs(store, filter);
    if (!left_out.error.empty()) {
      err << complaint("the simulated runs left out could not be counted: " + left_out.error,
                       "add --include-simulated to export them as well");
    } else if (left_out.value > 0) {
      out << report_line(runs_text(left_out.value) + " on the simulated chassis " +
                         (left_out.value == 1 ? "was" : "were") +
                         " left out: add --include-simulated to export them as well");
    }
  }
  return records::kExportDone;
}

int run_server_setup(const StationOptions& options, std::ostream& out, std::ostream& err) {
  const records::RecordsLocation where = records_location(options);
  if (!where.error.empty()) {
    err << complaint(where.error, "correct the server line given with --records");
    return records::kSetupUsage;
  }
  if (!records::is_server_location(where.path)) {
    err << complaint("--setup-records-server needs --records with a server line",
                     "name the line's server as --records postgresql://OWNER@HOST/DATABASE");
    return records::kSetupUsage;
  }
  // The set-up names the program and says what to do in its messages; the hint ends them here.
  std::ostringstream said;
  const int status =
      records::setup_records_server(where.path, options.station_role.value_or(""), out, said);
  err << said.str();
  if (!said.str().empty() && status != 0) err << kHelpHint << "\n";
  return status;
}

}  // namespace station
