// The yield report: the yield figures (records/yield_figures.h) as one HTML file that any browser
// opens offline and prints. Charts are inline SVG beside tables of the same figures; the file
// holds no script and loads nothing (no font, picture or style from elsewhere). Every text from
// the records (station ids, the location) is escaped.
//
// Each chart element carries its figures in data attributes (data-figure names the chart), so
// that what the browser shows can be read back and compared with the store's aggregates:
// - the summary: data-figure="summary" with data-runs, data-finished, data-passed,
//   data-first-runs, data-first-passed, data-hidden-simulated;
// - the trend: a bar data-figure="pass-rate" and one data-figure="first-pass-yield" per period,
//   with data-period (its first day, YYYY-MM-DD), data-runs, data-finished, data-passed,
//   data-first-runs, data-first-passed and data-percent (the bar's value, 0 to 100);
// - the failures: data-figure="failures" per procedure (data-procedure, its stored id;
//   data-count; data-cumulative-percent) holding one data-figure="failure-outcome" per outcome
//   (data-outcome, data-count);
// - the stations: data-figure="station" per station (data-station and the trend's counts).
// Numbers are written with "." whatever the locale.
#pragma once

#include <string>

#include "records/yield_figures.h"

namespace records {

struct YieldReportHeading {
  std::string records;    // where the records are, as a person reads it (no password)
  std::string selection;  // which runs, in words (selection_text())
  TimePoint made{};       // when the figures were read
  std::string program;    // the program and its version
};

// The clock a selection's days are told on: UTC (the command line's whole days), or the local
// time the records window's dates are chosen in.
enum class DayClock { utc, local };

// The runs `filter` selects, in words: "Runs started from 2024-05-01 to 2024-05-31 (UTC) at
// station B-bench; simulated runs left out." A time not at the clock's midnight is told to the
// minute ("from 2024-05-01 19:00 before 2024-05-02 19:00 (local time)").
std::string selection_text(const RecordFilter& filter, DayClock clock = DayClock::utc);

std::string yield_report_html(const YieldFigures& figures, const YieldReportHeading& heading);

// Writes the report to `file`, whole or not at all. Returns an empty text when it worked, else
// why it did not.
std::string write_yield_report(const YieldFigures& figures, const YieldReportHeading& heading,
                               const std::string& file);

}  // namespace records
