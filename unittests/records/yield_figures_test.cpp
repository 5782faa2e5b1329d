#include "records/yield_figures.h"

#include <gtest/gtest.h>

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
};

struct YieldCase {
  const char* label;
  std::vector<YieldRun> runs;
  RecordFilter filter;
  Expected expected;
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
  for (const YieldRun& run : row.runs) {
    RunRecord record = samples::bare_record(run.id, run.procedure, run.outcome, run.ms, run.serial,
                                            {}, run.simulated);
    record.station_id = run.station;
    ASSERT_TRUE(run.outcome == Outcome::running ? store.begin_run(record)
                                                : store.complete_run(record));
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

  // The records window's summary line counts the same runs.
  const ReadResult<Summary> summary = store.summarize(row.filter);
  EXPECT_EQ(summary.value.first_runs, figures.total.first_runs);
  EXPECT_EQ(summary.value.first_runs_passed, figures.total.first_runs_passed);
  EXPECT_EQ(summary.value.passed, figures.total.passed);

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
        YieldCase{"simulated_runs_included",
                  kSimulated,
                  make_filter([](RecordFilter& f) { f.include_simulated = true; }),
                  {{3, 3, 2, 2, 1},
                   YieldPeriod::day,
                   {{"2024-05-01", {3, 3, 2, 2, 1}}},
                   {{Procedure::rec, {{Outcome::failed, 1}}}},
                   {{"s1", {3, 3, 2, 2, 1}}}}},
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
        YieldCase{"one_station_its_own_first_runs",
                  kStations,
                  make_filter([](RecordFilter& f) { f.station = "B-bench"; }),
                  {{3, 3, 2, 3, 2},
                   YieldPeriod::day,
                   {{"2024-05-01", {3, 3, 2, 3, 2}}},
                   {{Procedure::rec, {{Outcome::failure_limit, 1}}}},
                   {{"B-bench", {3, 3, 2, 3, 2}}}}},
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
