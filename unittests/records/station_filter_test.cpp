// Runs of several stations in one store: the station filter selects exactly one station's runs
// (list, scan, summary and every export format), the summary counts each station's runs, the
// stations to choose from are listed once each, and the reads of one view do not see what another
// connection writes meanwhile.
#include <gtest/gtest.h>

#include <QFile>
#include <map>
#include <string>
#include <vector>

#include "record_samples.h"
#include "records/record_export.h"
#include "records/record_store.h"

namespace records {
namespace {

using samples::bare_record;
using samples::Folder;

// Ten runs over five stations (one without an id, one whose id reads like SQL) and a simulated
// run on a sixth; newest last.
std::vector<RunRecord> line_runs() {
  struct Made {
    const char* id;
    const char* station;
    Procedure procedure;
    Outcome outcome;
    bool simulated = false;
  };
  const Made made[] = {
      {"a1", "LINE-A", Procedure::rec, Outcome::passed},
      {"a2", "LINE-A", Procedure::rec, Outcome::failed},
      {"a3", "LINE-A", Procedure::self_test, Outcome::passed},
      {"a4", "LINE-A", Procedure::self_test, Outcome::running},
      {"a5", "LINE-A", Procedure::rec, Outcome::passed, true},
      {"b1", "LINE-B", Procedure::rec, Outcome::passed},
      {"b2", "LINE-B", Procedure::memory_test, Outcome::aborted},
      {"c1", "bench-2", Procedure::self_test, Outcome::stopped},
      {"n1", "", Procedure::rec, Outcome::passed},
      {"q1", "O'Hara; --", Procedure::rec, Outcome::failed},
      {"s1", "SIM-BENCH", Procedure::stamp, Outcome::passed, true},
  };
  std::vector<RunRecord> runs;
  long long ms = samples::kMorning;
  for (const Made& m : made) {
    ms += 90'000;
    RunRecord r =
        bare_record(m.id, m.procedure, m.outcome, ms, std::string("QB") + m.id, "", m.simulated);
    r.station_id = m.station;
    r.ended = m.outcome == Outcome::running ? std::nullopt
                                            : std::optional(r.started + std::chrono::seconds{40});
    r.report = std::string("run ") + m.id + "\r\n";
    runs.push_back(std::move(r));
  }
  // A clock set back during the run: it counts for no time.
  runs[1].ended = runs[1].started - std::chrono::seconds{5};
  return runs;
}

class StationStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.import_runs(line_runs()));
  }

  static std::vector<std::string> ids_of(const std::vector<RunRecord>& runs) {
    std::vector<std::string> ids;
    for (const RunRecord& run : runs) ids.push_back(run.id);
    return ids;
  }

  std::string contents(const std::string& name) const {
    QFile read(QString::fromStdString(folder.file(name)));
    if (!read.open(QIODevice::ReadOnly)) return "(missing)";
    return read.readAll().toStdString();
  }

  Folder folder;
  RecordStore store{folder.file("records.sqlite")};
};

struct StationCase {
  const char* label;
  std::string station;
  bool include_simulated;
  std::vector<std::string> ids;  // newest first
};

class StationFilterTest : public StationStore, public ::testing::WithParamInterface<StationCase> {
 protected:
  RecordFilter filter() const {
    RecordFilter f;
    f.station = GetParam().station;
    f.include_simulated = GetParam().include_simulated;
    return f;
  }
};

TEST_P(StationFilterTest, ListScanAndSummarySelectExactlyThatStationsRuns) {
  const auto listed = store.query(filter(), Detail::list);
  ASSERT_EQ(listed.error, "");
  EXPECT_EQ(ids_of(listed.value), GetParam().ids);

  std::vector<std::string> scanned;
  EXPECT_EQ(store.scan(filter(), 2,
                       [&](std::vector<RunRecord>& runs) {
                         for (const RunRecord& run : runs) scanned.push_back(run.id);
                         return true;
                       }),
            "");
  EXPECT_EQ(scanned, GetParam().ids);

  const auto summary = store.summarize(filter());
  ASSERT_EQ(summary.error, "");
  EXPECT_EQ(summary.value.count, GetParam().ids.size());
  if (!GetParam().station.empty()) {
    ASSERT_EQ(summary.value.stations.size(), GetParam().ids.empty() ? 0U : 1U);
    if (!GetParam().ids.empty()) {
      EXPECT_EQ(summary.value.stations[0].station_id, GetParam().station);
      EXPECT_EQ(summary.value.stations[0].count, GetParam().ids.size());
    }
  }
}

TEST_P(StationFilterTest, EveryExportWritesWhatTheExportOfTheListedRunsWrites) {
  const auto listed = store.query(filter());
  ASSERT_EQ(listed.error, "");
  for (const char* extension : {"csv", "json", "xml"}) {
    const std::string read_first = std::string("listed.") + extension;
    const std::string streamed = std::string("streamed.") + extension;
    ASSERT_EQ(export_records(listed.value, folder.file(read_first)), "");
    std::size_t count = 99;
    ASSERT_EQ(export_records(store, filter(), folder.file(streamed), &count), "");
    EXPECT_EQ(count, GetParam().ids.size()) << extension;
    EXPECT_EQ(contents(streamed), contents(read_first)) << extension;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stations, StationFilterTest,
    ::testing::Values(StationCase{"LineA", "LINE-A", false, {"a4", "a3", "a2", "a1"}},
                      StationCase{
                          "LineAWithSimulated", "LINE-A", true, {"a5", "a4", "a3", "a2", "a1"}},
                      StationCase{"LineB", "LINE-B", false, {"b2", "b1"}},
                      StationCase{"QuotesAndSemicolonAreText", "O'Hara; --", false, {"q1"}},
                      StationCase{"OnlySimulatedRuns", "SIM-BENCH", false, {}},
                      StationCase{"OnlySimulatedRunsIncluded", "SIM-BENCH", true, {"s1"}},
                      StationCase{"NoStationMeansEveryStation",
                                  "",
                                  false,
                                  {"q1", "n1", "c1", "b2", "b1", "a4", "a3", "a2", "a1"}},
                      StationCase{"OtherCaseIsAnotherStation", "line-a", true, {}},
                      StationCase{"APartIsNoStation", "LINE", true, {}},
                      StationCase{"TrailingSpaceIsAnotherStation", "LINE-A ", true, {}},
                      StationCase{"PatternCharactersMatchThemselves", "LINE-%", true, {}}),
    [](const auto& row) { return std::string(row.param.label); });

struct CountsCase {
  const char* label;
  std::function<void(RecordFilter&)> set;
  std::vector<StationCounts> stations;  // ordered by id, byte by byte
};

class StationCountsTest : public StationStore, public ::testing::WithParamInterface<CountsCase> {};

TEST_P(StationCountsTest, CountEachStationsRunsFinishedAndPassed) {
  RecordFilter filter;
  GetParam().set(filter);
  const auto summary = store.summarize(filter);
  ASSERT_EQ(summary.error, "");
  EXPECT_EQ(summary.value.stations, GetParam().stations);
  std::size_t count = 0;
  std::size_t finished = 0;
  std::size_t passed = 0;
  for (const StationCounts& station : summary.value.stations) {
    count += station.count;
    finished += station.finished;
    passed += station.passed;
  }
  EXPECT_EQ(count, summary.value.count);
  EXPECT_EQ(finished, summary.value.finished);
  EXPECT_EQ(passed, summary.value.passed);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, StationCountsTest,
    ::testing::Values(
        CountsCase{"RealRuns",
                   [](RecordFilter&) {},
                   {{"", 1, 1, 1},
                    {"LINE-A", 4, 3, 2},
                    {"LINE-B", 2, 2, 1},
                    {"O'Hara; --", 1, 1, 0},
                    {"bench-2", 1, 1, 0}}},
        CountsCase{"WithSimulated",
                   [](RecordFilter& f) { f.include_simulated = true; },
                   {{"", 1, 1, 1},
                    {"LINE-A", 5, 4, 3},
                    {"LINE-B", 2, 2, 1},
                    {"O'Hara; --", 1, 1, 0},
                    {"SIM-BENCH", 1, 1, 1},
                    {"bench-2", 1, 1, 0}}},
        CountsCase{
            "OneProcedure",
            [](RecordFilter& f) { f.procedure = Procedure::rec; },
            {{"", 1, 1, 1}, {"LINE-A", 2, 2, 1}, {"LINE-B", 1, 1, 1}, {"O'Hara; --", 1, 1, 0}}},
        CountsCase{
            "OneStation", [](RecordFilter& f) { f.station = "LINE-A"; }, {{"LINE-A", 4, 3, 2}}},
        CountsCase{"StationAndOutcome",
                   [](RecordFilter& f) {
                     f.station = "LINE-A";
                     f.outcome = Outcome::running;
                   },
                   {{"LINE-A", 1, 0, 0}}},
        CountsCase{"NothingSelected", [](RecordFilter& f) { f.station = "LINE-C"; }, {}}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(StationStore, ListsEveryStationOnceInByteOrderSimulatedOnesToo) {
  const auto stations = store.stations();
  ASSERT_EQ(stations.error, "");
  EXPECT_EQ(stations.value, (std::vector<std::string>{"", "LINE-A", "LINE-B", "O'Hara; --",
                                                      "SIM-BENCH", "bench-2"}));
}

TEST_F(StationStore, GroupsCountTheRunsAndTheirTimeByProcedureAndOutcome) {
  RecordFilter everything;
  everything.include_simulated = true;
  const auto groups = store.group(everything);
  ASSERT_EQ(groups.error, "");
  std::vector<std::tuple<Procedure, Outcome, std::size_t, long long>> got;
  for (const RunGroup& g : groups.value)
    got.emplace_back(g.procedure, g.outcome, g.count, g.duration_ms);
  // REC passed: a1, a5, b1, n1 at 40 s each; the failed ones: a2 (ended before it started) and
  // q1; the running self test counts no time.
  const std::vector<std::tuple<Procedure, Outcome, std::size_t, long long>> expected = {
      {Procedure::rec, Outcome::passed, 4, 160'000},
      {Procedure::rec, Outcome::failed, 2, 40'000},
      {Procedure::stamp, Outcome::passed, 1, 40'000},
      {Procedure::self_test, Outcome::running, 1, 0},
      {Procedure::self_test, Outcome::passed, 1, 40'000},
      {Procedure::self_test, Outcome::stopped, 1, 40'000},
      {Procedure::memory_test, Outcome::aborted, 1, 40'000},
  };
  EXPECT_EQ(got, expected);
}

TEST_F(StationStore, ReadsTogetherDoNotSeeARunAnotherConnectionWritesMeanwhile) {
  RecordStore reader(folder.file("records.sqlite"), OpenMode::reader);
  ASSERT_TRUE(reader.open());
  RecordFilter line_a;
  line_a.station = "LINE-A";
  RunRecord later =
      bare_record("a6", Procedure::rec, Outcome::passed, samples::kMorning + 10'000'000);
  later.station_id = "LINE-A";
  std::size_t before = 0;
  std::size_t during = 0;
  EXPECT_EQ(reader.read_together([&] {
    before = reader.summarize(line_a).value.count;
    EXPECT_TRUE(store.complete_run(later));
    during = reader.query(line_a, Detail::list).value.size();
    return std::string();
  }),
            "");
  EXPECT_EQ(before, 4U);
  EXPECT_EQ(during, 4U);
  EXPECT_EQ(reader.summarize(line_a).value.count, 5U);
}

}  // namespace
}  // namespace records
