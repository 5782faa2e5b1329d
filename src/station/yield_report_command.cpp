#include "station/yield_report_command.h"

#include <filesystem>

#include "records/server_location.h"
#include "records/yield_figures.h"
#include "records/yield_report.h"
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
    err << "quor_station: " << where.error << "\n";
    return kUsageStatus;
  }
  std::error_code ignored;
  if (!records::is_server_location(where.path) &&
      !std::filesystem::is_regular_file(where.path, ignored)) {
    out << "There is no record file at " << where.path << ".\n";
    return 1;
  }
  records::RecordStore store(where.path, records::OpenMode::reader);
  if (!store.open()) {
    out << store.status_text() << '\n';
    return 1;
  }
  const records::RecordFilter filter = yield_report_filter(options);
  const records::ReadResult<records::YieldFigures> figures =
      records::read_yield_figures(store, filter);
  if (!figures.error.empty()) {
    out << "No yield report was written: " << figures.error << ".\n";
    return 1;
  }
  const records::YieldReportHeading heading{store.location_text(), records::selection_text(filter),
                                            records::now(),
                                            version_text().substr(0, version_text().size() - 1)};
  if (const std::string error = records::write_yield_report(figures.value, heading, file);
      !error.empty()) {
    out << "No yield report was written to " << file << ": " << error << ".\n";
    return 1;
  }
  const std::size_t runs = figures.value.total.count;
  out << "Wrote the yield report of " << runs << (runs == 1 ? " run" : " runs") << " to " << file
      << ".\n";
  return 0;
}

}  // namespace station
