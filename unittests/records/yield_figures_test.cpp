#include "records/yield_figures.h"
#include "records/yield_report.h"

#include <gtest/gtest.h>

#include <time.h>

#include <QByteArray>
#include <future>

#include "record_samples.h"
#include "records/records_reader.h"
#ifdef QUOR_TEST_ON_SERVER
#include "test_server.h"
#endif

namespace records {
namespace {

using samples::at;
using samples::kMorning;  // a Wednesday, 08:00 UTC

constexpr long long kHour = 3'600'000;
constexpr long long kDay = 24 * kHour;

struct YieldRun {
  const char* id;
  const char* station;
  long long ms;
  Procedure procedure;
  Outcome outcome;
  const char* serial;
  bool simulated = false;
};

// count, finished, passed, first runs, first runs passed
using Counts = YieldCounts;

struct Expected {
  Counts total;
  YieldPeriod period = YieldPeriod::day;
  std::vector<std::pair<std::string, Counts>> trend;  // the period's first day
  std::vector<std::pair<Procedure, std::vector<OutcomeCount>>> failures;
  std::vector<std::pair<std::string, Counts>> stations;
  std::size_t hidden_simulated = 0;
  std::size_t unit_results = 0;
  std::size_t unit_results_passed = 0;
  std::vector<StepFailureCount> step_failures = {};
};

struct YieldUnit {
  const char* id;
  long long ms;
  UnitVerdict verdict;
  std::optional<Procedure> deciding;
  const char* serial = "QB1";
  bool simulated = false;
};

struct YieldCase {
  const char* label;
  std::vector<YieldRun> runs;
  RecordFilter filter;
  Expected expected;
  // Written after `runs`: a run of the same id completes or changes it, another arrives late.
  std::vector<YieldRun> later = {};
  std::vector<YieldUnit> units = {};
};
void PrintTo(const YieldCase& row, std::ostream* out) { *out << row.label; }

RecordFilter make_filter(auto&& set) {
  RecordFilter filter;
  set(filter);
  return filter;
}

// The runs of one station on one day, for the cases that are about counting.
const std::vector<YieldRun> kRetests = {
    {"a", "s1", kMorning, Procedure::rec, Outcome::failed, "QB1"},
    {"b", "s1", kMorning + kHour, Procedure::rec, Outcome::passed, "QB1"},
    {"c", "s1", kMorning + 2 * kHour, Procedure::rec, Outcome::passed, "QB2"},
    {"d", "s1", kMorning + 3 * kHour, Procedure::self_test, Outcome::passed, "QB2"},
    {"e", "s1", kMorning + 4 * kHour, Procedure::rec, Outcome::stopped, "QB3"},
    {"f", "s1", kMorning + 5 * kHour, Procedure::rec, Outcome::passed, "QB3"},
    // A later failure leaves QB2's first REC run a pass.
    {"g", "s1", kMorning + 6 * kHour, Procedure::rec, Outcome::failed, "QB2"},
};

const std::vector<YieldRun> kSimulated = {
    {"a", "s1", kMorning, Procedure::rec, Outcome::failed, "QB1", true},
    {"b", "s1", kMorning + kHour, Procedure::rec, Outcome::passed, "QB1"},
    {"c", "s1", kMorning + 2 * kHour, Procedure::rec, Outcome::passed, "QB2", true},
};

// QB1 fails its first REC run on one station and passes it on the other. Upper case sorts first.
const std::vector<YieldRun> kStations = {
    {"a", "a-line", kMorning, Procedure::rec, Outcome::failed, "QB1"},
    {"b", "a-line", kMorning + kHour, Procedure::rec, Outcome::passed, "QB2"},
    {"c", "B-bench", kMorning + 2 * kHour, Procedure::rec, Outcome::passed, "QB1"},
    {"d", "B-bench", kMorning + 3 * kHour, Procedure::rec, Outcome::failure_limit, "QB3"},
    {"e", "B-bench", kMorning + 4 * kHour, Procedure::self_test, Outcome::passed, "QB3"},
};

class Yield : public ::testing::TestWithParam<YieldCase> {
 protected:
#ifdef QUOR_TEST_ON_SERVER
  void SetUp() override { QUOR_NEED_TEST_SERVER(database_); }
  std::string path() const { return database_.line(); }
  test_server::Database database_;
#else
  std::string path() const { return folder_.file("records.sqlite"); }
#endif
  samples::Folder folder_;
};

std::string day_text(TimePoint time) { return utc_text(time).substr(0, 10); }

TEST_P(Yield, FiguresCountedByTheStore) {
  const YieldCase& row = GetParam();
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  for (const auto* runs : {&row.runs, &row.later}) {
    for (const YieldRun& run : *runs) {
      RunRecord record = samples::bare_record(run.id, run.procedure, run.outcome, run.ms,
                                              run.serial, {}, run.simulated);
      record.station_id = run.station;
      ASSERT_TRUE(run.outcome == Outcome::running ? store.begin_run(record)
                                                  : store.complete_run(record));
    }
  }
  for (const YieldUnit& unit : row.units) {
    UnitResult result = samples::full_unit_result(unit.id);
    result.started = at(unit.ms);
    result.station_id = "s1";
    result.top_serial = unit.serial;
    result.simulated = unit.simulated;
    result.verdict = unit.verdict;
    result.deciding_procedure = unit.deciding;
    ASSERT_TRUE(unit.verdict == UnitVerdict::running ? store.begin_unit_result(result)
                                                     : store.complete_unit_result(result));
  }
  const ReadResult<YieldFigures> figures_read = read_yield_figures(store, row.filter);
  ASSERT_EQ(figures_read.error, "");
  const YieldFigures& figures = figures_read.value;
  const Expected& expected = row.expected;
  EXPECT_EQ(figures.total, expected.total);
  EXPECT_EQ(figures.period, expected.period);
  std::vector<std::pair<std::string, Counts>> trend;
  for (const YieldBucket& bucket : figures.trend) {
    trend.emplace_back(day_text(bucket.start), bucket.counts);
    EXPECT_EQ(bucket.end - bucket.start,
              std::chrono::milliseconds((expected.period == YieldPeriod::week ? 7 : 1) * kDay));
  }
  EXPECT_EQ(trend, expected.trend);
  std::vector<std::pair<Procedure, std::vector<OutcomeCount>>> failures;
  for (const FailureCount& failure : figures.failures) {
    failures.emplace_back(failure.procedure, failure.outcomes);
    std::size_t sum = 0;
    for (const OutcomeCount& outcome : failure.outcomes) sum += outcome.count;
    EXPECT_EQ(failure.count, sum);
  }
  EXPECT_EQ(failures, expected.failures);
  std::vector<std::pair<std::string, Counts>> stations;
  for (const StationYield& station : figures.stations) {
    stations.emplace_back(station.station_id, station.counts);
  }
  EXPECT_EQ(stations, expected.stations);
  EXPECT_EQ(figures.hidden_simulated, expected.hidden_simulated);
  EXPECT_EQ(figures.unit_results, expected.unit_results);
  EXPECT_EQ(figures.unit_results_passed, expected.unit_results_passed);
  EXPECT_EQ(figures.step_failures, expected.step_failures);

  // The counts kept by day as the runs are written agree with the runs counted one by one.
  const ReadResult<YieldFigures> from_runs =
      read_yield_figures(store, row.filter, YieldSource::runs);
  EXPECT_EQ(from_runs.error, "");
  EXPECT_EQ(from_runs.value, figures) << "counted from the runs themselves";

  // The records window's summary line counts the same runs.
  const ReadResult<Summary> summary = store.summarize(row.filter);
  EXPECT_EQ(summary.value.first_runs, figures.total.first_runs);
  EXPECT_EQ(summary.value.first_runs_passed, figures.total.first_runs_passed);
  EXPECT_EQ(summary.value.passed, figures.total.passed);
  ASSERT_EQ(summary.value.stations.size(), figures.stations.size());
  for (std::size_t i = 0; i < figures.stations.size(); ++i) {
    EXPECT_EQ(summary.value.stations[i].station_id, figures.stations[i].station_id);
    EXPECT_EQ(summary.value.stations[i].passed, figures.stations[i].counts.passed);
  }

  // And the window's reader hands over the same figures from its own thread.
  RecordsReader reader(path(), nullptr);
  std::promise<ReadResult<YieldFigures>> delivered;
  reader.read_yield(
      row.filter, [&](ReadResult<YieldFigures> result) { delivered.set_value(std::move(result)); });
  const ReadResult<YieldFigures> from_reader = delivered.get_future().get();
  EXPECT_EQ(from_reader.error, "");
  EXPECT_EQ(from_reader.value, figures);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Yield,
    ::testing::Values(
        YieldCase{"retests_count_once_per_unit_and_procedure",
                  kRetests,
                  {},
                  {{7, 7, 4, 4, 2},
                   YieldPeriod::day,
                   {{"2024-05-01", {7, 7, 4, 4, 2}}},
                   {{Procedure::rec, {{Outcome::failed, 2}, {Outcome::stopped, 1}}}},
                   {{"s1", {7, 7, 4, 4, 2}}}}},
        YieldCase{
            "refused_running_and_serial_less_runs",
            {
                {"a", "s1", kMorning, Procedure::rec, Outcome::refused, ""},
                {"b", "s1", kMorning + kHour, Procedure::rec, Outcome::running, "QB1"},
                {"c", "s1", kMorning + 2 * kHour, Procedure::rec, Outcome::passed, "QB1"},
                {"d", "s1", kMorning + 3 * kHour, Procedure::self_test, Outcome::aborted, "QB1"},
                {"e", "s1", kMorning + 4 * kHour, Procedure::rec, Outcome::passed, ""},
            },
            {},
            {{5, 4, 2, 2, 1},
             YieldPeriod::day,
             {{"2024-05-01", {5, 4, 2, 2, 1}}},
             // Equal counts: in the procedures' order.
             {{Procedure::rec, {{Outcome::refused, 1}}},
              {Procedure::self_test, {{Outcome::aborted, 1}}}},
             {{"s1", {5, 4, 2, 2, 1}}}}},
        YieldCase{
            "an_error_is_not_a_pass_even_first",
            {
                {"a", "s1", kMorning, Procedure::self_test, Outcome::error, "QB1"},
                {"b", "s1", kMorning + kHour, Procedure::self_test, Outcome::passed, "QB1"},
                {"c", "s1", kMorning + 2 * kHour, Procedure::rec, Outcome::error, "QB2"},
                {"d", "s1", kMorning + 3 * kHour, Procedure::rec, Outcome::failed, "QB3"},
                {"e", "s1", kMorning + 4 * kHour, Procedure::self_test, Outcome::passed, "QB2"},
            },
            {},
            {{5, 5, 2, 4, 1},
             YieldPeriod::day,
             {{"2024-05-01", {5, 5, 2, 4, 1}}},
             // Most first; the errors beside the failures.
             {{Procedure::rec, {{Outcome::failed, 1}, {Outcome::error, 1}}},
              {Procedure::self_test, {{Outcome::error, 1}}}},
             {{"s1", {5, 5, 2, 4, 1}}}}},
        YieldCase{"simulated_runs_hidden_are_counted",
                  kSimulated,
                  {},
                  {{1, 1, 1, 1, 1},
                   YieldPeriod::day,
                   {{"2024-05-01", {1, 1, 1, 1, 1}}},
                   {},
                   {{"s1", {1, 1, 1, 1, 1}}},
                   2}},
        // A simulated unit is another unit than the real one of its serial number.
        YieldCase{"simulated_runs_included",
                  kSimulated,
                  make_filter([](RecordFilter& f) { f.include_simulated = true; }),
                  {{3, 3, 2, 3, 2},
                   YieldPeriod::day,
                   {{"2024-05-01", {3, 3, 2, 3, 2}}},
                   {{Procedure::rec, {{Outcome::failed, 1}}}},
                   {{"s1", {3, 3, 2, 3, 2}}}}},
        YieldCase{"hidden_simulated_runs_within_the_other_conditions",
                  kSimulated,
                  make_filter([](RecordFilter& f) { f.serial = "qb2"; }),
                  {{}, YieldPeriod::day, {}, {}, {}, 1}},
        YieldCase{"stations_side_by_side_first_runs_where_they_ran",
                  kStations,
                  {},
                  {{5, 5, 3, 4, 2},
                   YieldPeriod::day,
                   {{"2024-05-01", {5, 5, 3, 4, 2}}},
                   {{Procedure::rec, {{Outcome::failed, 1}, {Outcome::failure_limit, 1}}}},
                   {{"B-bench", {3, 3, 2, 2, 1}}, {"a-line", {2, 2, 1, 2, 1}}}}},
        // QB1's pass on B-bench is a retest: its first REC run failed on a-line.
        YieldCase{"one_station_the_units_first_runs_anywhere",
                  kStations,
                  make_filter([](RecordFilter& f) { f.station = "B-bench"; }),
                  {{3, 3, 2, 2, 1},
                   YieldPeriod::day,
                   {{"2024-05-01", {3, 3, 2, 2, 1}}},
                   {{Procedure::rec, {{Outcome::failure_limit, 1}}}},
                   {{"B-bench", {3, 3, 2, 2, 1}}}}},
        YieldCase{"a_later_day_alone_shows_a_retest_as_no_first_run",
                  {
                      {"a", "s1", kMorning, Procedure::rec, Outcome::failed, "QB1"},
                      {"b", "s1", kMorning + kDay, Procedure::rec, Outcome::passed, "QB1"},
                      {"c", "s1", kMorning + kDay + kHour, Procedure::rec, Outcome::passed, "QB2"},
                  },
                  make_filter([](RecordFilter& f) {
                    f.started_from = at(kMorning + kDay - 8 * kHour);
                    f.started_before = at(kMorning + 2 * kDay - 8 * kHour);
                  }),
                  {{2, 2, 2, 1, 1},
                   YieldPeriod::day,
                   {{"2024-05-02", {2, 2, 2, 1, 1}}},
                   {},
                   {{"s1", {2, 2, 2, 1, 1}}}}},
        YieldCase{"the_same_read_from_the_runs_where_a_day_is_cut",
                  {
                      {"a", "s1", kMorning, Procedure::rec, Outcome::failed, "QB1"},
                      {"b", "s1", kMorning + kDay, Procedure::rec, Outcome::passed, "QB1"},
                      {"c", "s1", kMorning + kDay + kHour, Procedure::rec, Outcome::passed, "QB2"},
                  },
                  make_filter([](RecordFilter& f) { f.started_from = at(kMorning + kHour); }),
                  {{2, 2, 2, 1, 1},
                   YieldPeriod::day,
                   {{"2024-05-02", {2, 2, 2, 1, 1}}},
                   {},
                   {{"s1", {2, 2, 2, 1, 1}}}}},
        // Local days: the whole UTC day between counted by day, the cut ends from the runs.
        YieldCase{"a_span_cutting_its_first_and_last_days",
                  {
                      {"a", "s1", kMorning - 3 * kHour, Procedure::rec, Outcome::passed, "QB1"},
                      {"b", "s1", kMorning, Procedure::rec, Outcome::failed, "QB2"},
                      {"c", "s2", kMorning + kDay, Procedure::rec, Outcome::passed, "QB3"},
                      {"d", "s1", kMorning + 2 * kDay, Procedure::rec, Outcome::passed, "QB2"},
                      {"e", "s1", kMorning + 2 * kDay + 2 * kHour, Procedure::rec, Outcome::failed,
                       "QB4"},
                  },
                  make_filter([](RecordFilter& f) {
                    f.started_from = at(kMorning - 2 * kHour);
                    f.started_before = at(kMorning + 2 * kDay + kHour);
                  }),
                  {{3, 3, 2, 2, 1},
                   YieldPeriod::day,
                   {{"2024-05-01", {1, 1, 0, 1, 0}},
                    {"2024-05-02", {1, 1, 1, 1, 1}},
                    {"2024-05-03", {1, 1, 1, 0, 0}}},
                   {{Procedure::rec, {{Outcome::failed, 1}}}},
                   {{"s1", {2, 2, 1, 1, 0}}, {"s2", {1, 1, 1, 1, 1}}}}},
        // A run that ends, and a run that arrives after a later one of its unit (another
        // station's, forwarded late), move the first run.
        YieldCase{"runs_completed_and_arriving_late_renumber",
                  {
                      {"a", "s1", kMorning, Procedure::rec, Outcome::running, "QB1"},
                      {"b", "s1", kMorning + kHour, Procedure::rec, Outcome::passed, "QB1"},
                      {"c", "s2", kMorning + 3 * kHour, Procedure::rec, Outcome::failed, "QB2"},
                  },
                  {},
                  {{4, 4, 2, 2, 1},
                   YieldPeriod::day,
                   {{"2024-05-01", {4, 4, 2, 2, 1}}},
                   {{Procedure::rec, {{Outcome::failed, 2}}}},
                   {{"s1", {3, 3, 2, 2, 1}}, {"s2", {1, 1, 0, 0, 0}}}},
                  {
                      {"a", "s1", kMorning, Procedure::rec, Outcome::failed, "QB1"},
                      {"d", "s1", kMorning + 2 * kHour, Procedure::rec, Outcome::passed, "QB2"},
                  }},
        YieldCase{"unit_results_and_the_steps_that_failed_them",
                  {},
                  {},
                  {{},
                   YieldPeriod::day,
                   {},
                   {},
                   {},
                   0,
                   4,
                   1,
                   {{Procedure::memory_test, 1, 1}, {Procedure::rec, 1, 0}}},
                  {},
                  {
                      {"u1", kMorning, UnitVerdict::pass, std::nullopt},
                      {"u2", kMorning + kHour, UnitVerdict::fail, Procedure::rec},
                      {"u3", kMorning + 2 * kHour, UnitVerdict::fail, Procedure::memory_test},
                      {"u4", kMorning + 3 * kHour, UnitVerdict::error, Procedure::memory_test},
                      {"u5", kMorning + 4 * kHour, UnitVerdict::running, std::nullopt},
                      {"u6", kMorning + 5 * kHour, UnitVerdict::fail, Procedure::rec, "QB9", true},
                  }},
        YieldCase{"days_by_utc_date_without_empty_ones",
                  {
                      {"a", "s1", kMorning + 15 * kHour, Procedure::rec, Outcome::passed, "QB1"},
                      {"b", "s1", kMorning + 17 * kHour, Procedure::rec, Outcome::failed, "QB2"},
                      {"c", "s1", kMorning + 3 * kDay, Procedure::rec, Outcome::passed, "QB2"},
                  },
                  {},
                  {{3, 3, 2, 2, 1},
                   YieldPeriod::day,
                   {{"2024-05-01", {1, 1, 1, 1, 1}},
                    {"2024-05-02", {1, 1, 0, 1, 0}},
                    {"2024-05-04", {1, 1, 1, 0, 0}}},
                   {{Procedure::rec, {{Outcome::failed, 1}}}},
                   {{"s1", {3, 3, 2, 2, 1}}}}},
        YieldCase{"weeks_from_monday_when_the_filter_spans_more_than_62_days",
                  {
                      {"a", "s1", kMorning - 2 * kDay, Procedure::rec, Outcome::passed, "QB1"},
                      {"b", "s1", kMorning + 4 * kDay, Procedure::rec, Outcome::failed, "QB2"},
                      {"c", "s1", kMorning + 5 * kDay, Procedure::rec, Outcome::passed, "QB2"},
                      {"d", "s1", kMorning + 40 * kDay, Procedure::rec, Outcome::passed, "QB3"},
                  },
                  make_filter([](RecordFilter& f) {
                    f.started_from = at(kMorning - 61 * kDay);
                    f.started_before = at(kMorning + 31 * kDay);
                  }),
                  {{3, 3, 2, 2, 1},
                   YieldPeriod::week,
                   {{"2024-04-29", {2, 2, 1, 2, 1}}, {"2024-05-06", {1, 1, 1, 0, 0}}},
                   {{Procedure::rec, {{Outcome::failed, 1}}}},
                   {{"s1", {3, 3, 2, 2, 1}}}}},
        YieldCase{"days_when_the_runs_span_62_days",
                  {
                      {"a", "s1", kMorning, Procedure::rec, Outcome::passed, "QB1"},
                      {"b", "s1", kMorning + 61 * kDay, Procedure::rec, Outcome::passed, "QB2"},
                  },
                  {},
                  {{2, 2, 2, 2, 2},
                   YieldPeriod::day,
                   {{"2024-05-01", {1, 1, 1, 1, 1}}, {"2024-07-01", {1, 1, 1, 1, 1}}},
                   {},
                   {{"s1", {2, 2, 2, 2, 2}}}}},
        YieldCase{"nothing_selected", {}, {}, {}}),
    [](const auto& row) { return std::string(row.param.label); });

}  // namespace
}  // namespace records

namespace records {
namespace {

// The words a yield report's heading gives its selection, on the command line's UTC days and on
// the local days the records window's dates are chosen in (here five hours behind UTC).
TEST(SelectionText, SaysWhichRunsOnWhichClock) {
  const QByteArray zone = qgetenv("TZ");
  qputenv("TZ", "EST5");
  tzset();
  struct Row {
    RecordFilter filter;
    DayClock clock;
    std::string text;
  };
  const Row rows[] = {
      {{}, DayClock::utc, "All runs; simulated runs left out."},
      {make_filter([](RecordFilter& f) {
         f.started_from = at(kMorning - 8 * kHour);
         f.started_before = at(kMorning + 16 * kHour);
         f.station = "B-bench";
         f.include_simulated = true;
       }),
       DayClock::utc,
       "Runs started from 2024-05-01 to 2024-05-01 (UTC) at station B-bench; simulated runs "
       "included."},
      // The window's days: local midnights, 05:00 UTC.
      {make_filter([](RecordFilter& f) {
         f.started_from = at(kMorning - 3 * kHour);
         f.started_before = at(kMorning + 45 * kHour);
       }),
       DayClock::local,
       "Runs started from 2024-05-01 to 2024-05-02 (local time); simulated runs "
       "left out."},
      // A UTC day (a click on the trend) told on local time, to the minute.
      {make_filter([](RecordFilter& f) {
         f.started_from = at(kMorning - 8 * kHour);
         f.procedure = Procedure::rec;
         f.in_unit_result = true;
       }),
       DayClock::local,
       "Runs started from 2024-04-30 19:00 on (local time) of REC that are steps of unit "
       "results; simulated runs left out."},
  };
  for (const Row& row : rows) EXPECT_EQ(selection_text(row.filter, row.clock), row.text);
  if (zone.isNull()) {
    qunsetenv("TZ");
  } else {
    qputenv("TZ", zone);
  }
  tzset();
}

}  // namespace
}  // namespace records
