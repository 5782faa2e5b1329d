// The yield of the runs a filter selects, as the records window's charts and the yield report
// show it. Every figure is counted by the store (GROUP BY in its SQL, on a station's file and on
// a line's server alike); the client only adds up the few grouped rows, never the runs.
//
// The figures, over the runs the filter selects (its page ignored):
// - A run is finished unless it is still running. It passed when its outcome is "passed"; every
//   other finished outcome (failed, error, stopped, failure limit, aborted, refused, interrupted)
//   counts as not passed.
// - Pass rate: passed runs of the finished runs.
// - First-pass yield: a unit is known by the serial number of its UUT's identity reply (a
//   simulated unit apart from a real one). For each pair of a unit and a procedure, the pair's
//   first run is its earliest finished run in the store, whatever the filter; the yield is the
//   share of the first runs the filter selects that passed (Summary's rule: a unit that failed and
//   passed later counts as not passing first time, also where the filter shows the later run
//   alone). Runs without a serial number are left out of it.
// - The trend: the runs grouped by the UTC day they started in, or by the UTC week (Monday to
//   Sunday) when the span is longer than kMostDays days. The span runs from the filter's start
//   (or, without one, the first selected run's day) to its end (or the last selected run's day).
//   A first run counts in the period and at the station of that run. Periods without runs are
//   left out.
// - The failures: the finished runs that did not pass, per procedure and outcome, the procedure
//   with the most first (ties in the procedures' table order).
// - Per station: the same counts for each station's runs, ordered by station id byte by byte.
// - Unit results: those the filter's span, stations, simulated choice, text, serial and unit
//   result select (its procedure and outcome are the runs'), finished; the passed ones; and per
//   step procedure, the failed and error ones it decided, the most first.
// - Hidden simulated runs: when the filter leaves simulated runs out, how many it would select
//   with them in.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "records/record_store.h"

namespace records {

// The counts the figures are made of, for all the runs or for a part of them.
struct YieldCounts {
  std::size_t count = 0;     // runs
  std::size_t finished = 0;  // of them, those not running
  std::size_t passed = 0;
  std::size_t first_runs = 0;  // first runs of a unit and a procedure (see above)
  std::size_t first_runs_passed = 0;

  std::size_t not_passed() const { return finished - passed; }
  double pass_rate() const { return finished == 0 ? 0.0 : double(passed) / double(finished); }
  double first_pass_yield() const {
    return first_runs == 0 ? 0.0 : double(first_runs_passed) / double(first_runs);
  }
  YieldCounts& operator+=(const YieldCounts& other);
  bool operator==(const YieldCounts&) const = default;
};

enum class YieldPeriod { day, week };

// The longest span, in days, the trend shows day by day.
inline constexpr int kMostDays = 62;

// One day or week of the trend.
struct YieldBucket {
  TimePoint start{};  // 00:00 UTC of the day, or of the week's Monday
  TimePoint end{};    // the next period's start
  YieldCounts counts;
  bool operator==(const YieldBucket&) const = default;
};

struct OutcomeCount {
  Outcome outcome{};
  std::size_t count = 0;
  bool operator==(const OutcomeCount&) const = default;
};

// A procedure's finished runs that did not pass.
struct FailureCount {
  Procedure procedure{};
  std::size_t count = 0;
  std::vector<OutcomeCount> outcomes;  // in the outcomes' order, none with a count of 0
  bool operator==(const FailureCount&) const = default;
};

struct StationYield {
  std::string station_id;
  YieldCounts counts;
  bool operator==(const StationYield&) const = default;
};

// The unit results that did not pass because of one step: the step's procedure and how many
// unit results it failed or ended in error (records/unit_result.h).
struct StepFailureCount {
  Procedure procedure{};
  std::size_t failed = 0;
  std::size_t errors = 0;

  std::size_t count() const { return failed + errors; }
  bool operator==(const StepFailureCount&) const = default;
};

struct YieldFigures {
  YieldCounts total;
  YieldPeriod period = YieldPeriod::day;
  std::vector<YieldBucket> trend;      // oldest first
  std::vector<FailureCount> failures;  // the most first
  std::vector<StationYield> stations;
  // The unit results in the filter's span, stations and simulated choice, and among them those
  // that passed; the steps that decided the others, the most first.
  std::size_t unit_results = 0;
  std::size_t unit_results_passed = 0;
  std::vector<StepFailureCount> step_failures;
  // Runs left out because they are simulated; 0 when the filter includes them.
  std::size_t hidden_simulated = 0;
  bool operator==(const YieldFigures&) const = default;
};

// The period of the trend over [first, last] (the days holding the span's ends).
YieldPeriod period_for(TimePoint first, TimePoint last);
// The start of the day or week holding `time`, UTC.
TimePoint period_start(YieldPeriod period, TimePoint time);
TimePoint period_end(YieldPeriod period, TimePoint start);

// Where the figures are counted from: the runs counted by day for the whole UTC days the filter
// selects, when those hold what it asks (no text, serial or unit result), and the runs for the
// rest; or always the runs (the suites compare the two).
enum class YieldSource { fastest, runs };

// Reads the figures of the runs `filter` selects, in one view of the store (read_together()).
// Call it on the store's thread: the records window's reader does (RecordsReader::read_yield).
ReadResult<YieldFigures> read_yield_figures(RecordStore& store, const RecordFilter& filter,
                                            YieldSource from = YieldSource::fastest);

}  // namespace records
