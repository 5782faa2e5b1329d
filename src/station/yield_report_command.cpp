#include "station/yield_report_command.h"

#include <filesystem>

#include "records/server_location.h"
#include "records/yield_figures.h"
#include "records/yield_report.h"
#include "station/messages.h"
#include "station/records_commands.h"

namespace station {

records::RecordFilter yield_report_filter(const StationOptions& options) {
  records::RecordFilter filter;
  filter.started_from = options.since;
  filter.started_before = options.until;
  filter.station = options.station.value_or(std::string());
  filter.include_simulated = options.include_simulated;
  return filter;
}

int run_yield_report(const StationOptions& options, std::ostream& out, std::ostream& err) {
  const std::string file = options.yield_report_file.value_or(std::string());
  const records::RecordsLocation where = records_location(options);
  if (!where.error.empty()) {
    err << complaint(where.error, "correct the records named by --records or QUOR_RECORDS");
    return kUsageStatus;
  }
  std::error_code ignored;
  if (!records::is_server_location(where.path) &&
      !std::filesystem::is_regular_file(where.path, ignored)) {
    err << complaint("there is no record file at " + where.path,
                     "name the station's record file with --records PATH");
    return 1;
  }
  records::RecordStore store(where.path, records::OpenMode::reader);
  if (!store.open()) {
    err << complaint(store.status_text(), "check the record file or the server line");
    return 1;
  }
  const records::RecordFilter filter = yield_report_filter(options);
  const records::ReadResult<records::YieldFigures> figures =
      records::read_yield_figures(store, filter);
  if (!figures.error.empty()) {
    err << complaint("no yield report was written: " + figures.error,
                     "check the record file or the server line");
    return 1;
  }
  const records::YieldReportHeading heading{store.location_text(), records::selection_text(filter),
                                            records::now(),
                                            version_text().substr(0, version_text().size() - 1)};
  if (const std::string error = records::write_yield_report(figures.value, heading, file);
      !error.empty()) {
    err << complaint("no yield report was written to " + file + ": " + error,
                     "check that the report's folder exists and can be written");
    return 1;
  }
  const auto runs_text = [](std::size_t count) {
    return std::to_string(count) + (count == 1 ? " run" : " runs");
  };
  out << report_line("wrote the yield report of " + runs_text(figures.value.total.count) + " to " +
                     file);
  if (const std::size_t left_out = figures.value.hidden_simulated; left_out > 0) {
    out << report_line(runs_text(left_out) + " on the simulated chassis " +
                       (left_out == 1 ? "was" : "were") +
                       " left out: add --include-simulated to report them as well");
  }
  return 0;
}

}  // namespace station
