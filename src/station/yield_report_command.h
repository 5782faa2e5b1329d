// --yield-report FILE: the yield report of the records (records/yield_report.h) written without a
// display, over the runs --since, --until, --station and --include-simulated select.
#pragma once

#include <ostream>

#include "records/record_store.h"
#include "station/command_line.h"

namespace station {

// The runs the report covers.
records::RecordFilter yield_report_filter(const StationOptions& options);

// Writes the report, saying what it did on `out` and a wrong command line on `err`; returns the
// exit status: 0 written, 1 not written (the records could not be read, the file not written),
// kUsageStatus for records named wrongly.
int run_yield_report(const StationOptions& options, std::ostream& out, std::ostream& err);

}  // namespace station
