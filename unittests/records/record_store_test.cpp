#include "records/record_store.h"
#include "records/yield_figures.h"

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include "record_samples.h"
#ifdef QUOR_TEST_ON_SERVER
#include "test_server.h"
#endif

namespace records {
namespace {

using samples::at;
using samples::bare_record;
using samples::full_record;
using samples::full_unit_result;
using samples::kMorning;
using samples::step_of;

// The suite runs on a record file, and built with QUOR_TEST_ON_SERVER on a fresh database of the
// test server (records_postgres_tests).
class Store : public ::testing::Test {
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

// Runs a statement on the store with a connection of the test's own.
void exec_beside(const std::string& location, const char* statement) {
#ifdef QUOR_TEST_ON_SERVER
  test_server::Connection other(location);
  EXPECT_EQ(other.exec(statement), "");
#else
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "beside");
    db.setDatabaseName(QString::fromStdString(location));
    ASSERT_TRUE(db.open());
    EXPECT_TRUE(QSqlQuery(db).exec(statement));
    db.close();
  }
  QSqlDatabase::removeDatabase("beside");
#endif
}

std::vector<std::string> ids_of(const std::vector<RunRecord>& records) {
  std::vector<std::string> ids;
  for (const RunRecord& r : records) ids.push_back(r.id);
  return ids;
}

TEST_F(Store, KeepsEveryFieldOfACompletedRun) {
  RecordStore store(path());
  ASSERT_TRUE(store.open()) << store.status_text();
  const RunRecord record = full_record();
  ASSERT_TRUE(store.begin_run(record));
  ASSERT_TRUE(store.complete_run(record));
  EXPECT_TRUE(store.keeping_records());
  EXPECT_EQ(store.status_text(), "");

  EXPECT_EQ(store.find(record.id).value, record);
  const auto all = store.query({});
  ASSERT_EQ(all.value.size(), 1u) << all.error;
  EXPECT_EQ(all.value[0], record);
}

TEST_F(Store, KeepsEmptyAndAbsentValuesApart) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  RunRecord record = bare_record("r1", Procedure::self_test, Outcome::passed, kMorning);
  record.self_test_result = 0;  // a value of 0, not none
  record.cal_constant_sent = 0.0;
  ASSERT_TRUE(store.complete_run(record));
  EXPECT_EQ(store.find("r1").value, record);
}

#ifndef QUOR_TEST_ON_SERVER
TEST_F(Store, CreatesItsFolderAndFileOnFirstUse) {
  const std::string nested = folder_.file("a/b/records.sqlite");
  RecordStore store(nested);
  ASSERT_TRUE(store.open()) << store.status_text();
  ASSERT_TRUE(store.complete_run(full_record()));
  QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "check_schema");
  {
    check.setDatabaseName(QString::fromStdString(nested));
    ASSERT_TRUE(check.open());
    QSqlQuery query(check);
    ASSERT_TRUE(query.exec("SELECT version FROM schema_version"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toInt(), 1);
    ASSERT_TRUE(query.exec("PRAGMA journal_mode"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), "wal");
  }
  check = QSqlDatabase();
  QSqlDatabase::removeDatabase("check_schema");
}
#endif

// Texts that would change a statement if they were pasted into it.
class HostileText : public Store, public ::testing::WithParamInterface<const char*> {};

TEST_P(HostileText, IsStoredAsTheTextItIsAndFound) {
  const std::string hostile = GetParam();
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  ASSERT_TRUE(store.complete_run(
      bare_record("other", Procedure::rec, Outcome::passed, kMorning, "QB1", "Plain")));
  RunRecord record = full_record("id " + hostile);
  record.uut = identify("QUOR,QB-1972," + hostile + ",2.07");
  record.technician = hostile;
  record.top_serial = hostile;
  record.report = hostile + "\r\n" + hostile;
  record.last_errors = {hostile};
  ASSERT_TRUE(store.begin_run(record));
  ASSERT_TRUE(store.save_progress(record.id, hostile));
  ASSERT_TRUE(store.complete_run(record));
  UnitResult unit = full_unit_result("unit " + hostile);
  unit.technician = hostile;
  unit.top_serial = hostile;
  unit.sequence = hostile;
  unit.finding = hostile + "\r\n" + hostile;
  ASSERT_TRUE(store.complete_unit_result(unit));
  EXPECT_EQ(store.find_unit_result(unit.id).value, unit);

  const auto all = store.query({});
  ASSERT_EQ(all.value.size(), 2u) << all.error;
  EXPECT_EQ(store.find(record.id).value, record);
  RecordFilter by_text;
  by_text.text = hostile;
  EXPECT_EQ(ids_of(store.query(by_text).value), std::vector<std::string>{record.id});
  RecordFilter by_serial;
  by_serial.serial = hostile;
  EXPECT_EQ(ids_of(store.query(by_serial).value), std::vector<std::string>{record.id});
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileText,
                         ::testing::Values("O'Brien", "'; DROP TABLE runs; --",
                                           "Robert'); DELETE FROM runs WHERE ('1'='1",
                                           "\"quoted\"; SELECT * FROM run_errors;",
                                           "100% _wild_ \\escape\\", "?, ?, ?)", "Émile Łukasz"));

#ifndef QUOR_TEST_ON_SERVER
// A server's runs left running may be other stations': see the server suite.
TEST_F(Store, MarksRunsLeftRunningAsInterruptedWithTheirReportSoFar) {
  // A unit's final test cut off at its second step: its first step's run done.
  const UnitResult unit = full_unit_result();
  RunRecord done = step_of(unit, 0, Procedure::self_test, Outcome::passed);
  RunRecord record = full_record();
  record.unit_result_id = unit.id;
  {
    RecordStore station(path());
    ASSERT_TRUE(station.open());
    ASSERT_TRUE(station.begin_unit_result(unit));
    ASSERT_TRUE(station.complete_run(done));
    ASSERT_TRUE(station.begin_run(record));
    ASSERT_TRUE(station.save_progress(record.id, "REC Test\r\nPass 1\r\n"));
    EXPECT_EQ(station.find(record.id).value->outcome, Outcome::running);
    // The program ends here without completing the run.
  }
  RecordStore reader(path(), OpenMode::reader);
  ASSERT_TRUE(reader.open());
  EXPECT_EQ(reader.find(record.id).value->outcome, Outcome::running)
      << "a reader (an export while a station runs) marks nothing";

  RecordStore next_start(path());
  ASSERT_TRUE(next_start.open());
  const auto found = next_start.find(record.id).value;
  ASSERT_TRUE(found);
  EXPECT_EQ(found->outcome, Outcome::interrupted);
  EXPECT_EQ(found->report, "REC Test\r\nPass 1\r\n");
  EXPECT_EQ(found->ended, std::nullopt);
  EXPECT_EQ(found->uut, record.uut);
  EXPECT_EQ(found->unit_result_id, unit.id);
  EXPECT_EQ(next_start.find(done.id).value, done) << "the step done is kept as it ended";
  const auto unit_found = next_start.find_unit_result(unit.id).value;
  ASSERT_TRUE(unit_found);
  EXPECT_EQ(unit_found->verdict, UnitVerdict::interrupted);
  EXPECT_EQ(unit_found->ended, std::nullopt);
  EXPECT_EQ(unit_found->top_serial, unit.top_serial);
}
#endif

TEST_F(Store, BeginWritesTheRunAsRunningWhateverItsOutcome) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  ASSERT_TRUE(store.begin_run(full_record()));  // its outcome says failed, its end is set
  const auto found = store.find(full_record().id).value;
  EXPECT_EQ(found->outcome, Outcome::running);
  EXPECT_EQ(found->ended, std::nullopt);
}

// A unit's final test: written running when it starts, its steps' runs linked to it, completed
// when it ends; an older running state handed over late never comes back over the end.
TEST_F(Store, KeepsAUnitResultBegunAndCompletedWithItsStepsLinked) {
  RecordStore store(path());
  ASSERT_TRUE(store.open()) << store.status_text();
  const UnitResult unit = full_unit_result();
  ASSERT_TRUE(store.begin_unit_result(unit));  // its verdict says fail, its end is set
  const auto begun = store.find_unit_result(unit.id).value;
  ASSERT_TRUE(begun);
  EXPECT_EQ(begun->verdict, UnitVerdict::running);
  EXPECT_EQ(begun->ended, std::nullopt);
  const RunRecord first = step_of(unit, 0, Procedure::self_test, Outcome::passed);
  const RunRecord second = step_of(unit, 1, Procedure::rec, Outcome::failed);
  for (const RunRecord& step : {first, second}) {
    ASSERT_TRUE(store.begin_run(step));
    ASSERT_TRUE(store.complete_run(step));
  }
  ASSERT_TRUE(store.complete_run(bare_record("alone", Procedure::rec, Outcome::passed, kMorning)));
  ASSERT_TRUE(store.complete_unit_result(unit));
  EXPECT_EQ(store.find_unit_result(unit.id).value, unit);
  ASSERT_TRUE(store.begin_unit_result(unit));
  EXPECT_EQ(store.find_unit_result(unit.id).value, unit) << "a running state came back";

  RecordFilter steps;
  steps.unit_result = unit.id;
  EXPECT_EQ(store.query(steps).value, (std::vector<RunRecord>{second, first}));
  RecordFilter on_their_own;
  on_their_own.in_unit_result = false;
  EXPECT_EQ(ids_of(store.query(on_their_own).value), std::vector<std::string>{"alone"});
  EXPECT_EQ(store.unit_results({"none", unit.id, unit.id}).value, std::vector<UnitResult>{unit});
  EXPECT_EQ(store.find_unit_result("none").value, std::nullopt);
}

// A store of the version before unit results and the counts by day is brought forward on
// opening, its runs kept and counted.
TEST_F(Store, BringsAStoreWithoutUnitResultsForwardKeepingItsRuns) {
  const RunRecord before = full_record();
  RunRecord retest = before;
  retest.id = "retest";
  retest.started += std::chrono::hours{1};
  retest.made.reset();
  {
    RecordStore store(path());
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.complete_run(retest));
    ASSERT_TRUE(store.complete_run(before));
  }
  // The schema of two versions back, exactly: first the counting, which each database does its
  // own way.
#ifdef QUOR_TEST_ON_SERVER
  const char* const counting[] = {"DROP TRIGGER runs_first_run_inserted ON runs",
                                  "DROP TRIGGER runs_first_run_changed ON runs",
                                  "DROP TRIGGER runs_first_run_deleted ON runs",
                                  "DROP TRIGGER run_days_counted ON runs",
                                  "DROP FUNCTION runs_first_run()",
                                  "DROP FUNCTION runs_number_first(TEXT, TEXT, INTEGER)",
                                  "DROP FUNCTION run_days_count()",
                                  "DROP TABLE first_run_locks"};
#else
  const char* const counting[] = {
      "DROP TRIGGER runs_first_run_inserted", "DROP TRIGGER runs_first_run_changed",
      "DROP TRIGGER runs_first_run_left",     "DROP TRIGGER runs_first_run_deleted",
      "DROP TRIGGER run_days_inserted",       "DROP TRIGGER run_days_changed",
      "DROP TRIGGER run_days_deleted"};
#endif
  for (const char* statement : counting) exec_beside(path(), statement);
  for (const char* statement :
       {"DROP TABLE run_days", "ALTER TABLE runs DROP COLUMN first_run",
        "DROP TABLE unit_result_queue", "DROP TABLE unit_results", "DROP INDEX runs_unit_result",
        "ALTER TABLE runs DROP COLUMN unit_result_id",
        "DELETE FROM schema_version WHERE version >= 5"}) {
    exec_beside(path(), statement);
  }
  RecordStore store(path());
  ASSERT_TRUE(store.open()) << store.status_text();
  EXPECT_EQ(store.find(before.id).value, before);
  RecordFilter every_run;
  every_run.include_simulated = true;
  for (const YieldSource from : {YieldSource::fastest, YieldSource::runs}) {
    const YieldCounts counts = read_yield_figures(store, every_run, from).value.total;
    EXPECT_EQ(counts.count, 2u);
    EXPECT_EQ(counts.first_runs, 1u) << "the earlier run, written second, is the unit's first";
    EXPECT_EQ(counts.first_runs_passed, before.outcome == Outcome::passed ? 1u : 0u);
  }
  // A first run deleted by hand hands its place to the retest.
  exec_beside(path(), ("DELETE FROM runs WHERE id = '" + before.id + "'").c_str());
  for (const YieldSource from : {YieldSource::fastest, YieldSource::runs}) {
    const YieldCounts counts = read_yield_figures(store, every_run, from).value.total;
    EXPECT_EQ(counts.count, 1u);
    EXPECT_EQ(counts.first_runs, 1u);
  }
  const UnitResult unit = full_unit_result();
  const RunRecord step = step_of(unit, 0, Procedure::memory_test, Outcome::passed);
  ASSERT_TRUE(store.complete_unit_result(unit));
  ASSERT_TRUE(store.complete_run(step));
  EXPECT_EQ(store.find_unit_result(unit.id).value, unit);
  EXPECT_EQ(store.find(step.id).value, step);
}

// The time left of a final test: each procedure's passed runs on this station, real or simulated
// as the station is, the latest of them averaged.
TEST_F(Store, TypicalDurationsAverageTheStationsLatestPassedRuns) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  const auto run = [](std::string id, Procedure procedure, Outcome outcome, long long start,
                      long long ms, std::string station = "bench-1", bool simulated = false) {
    RunRecord r =
        bare_record(std::move(id), procedure, outcome, kMorning + start, "QB1", "", simulated);
    r.station_id = std::move(station);
    if (r.ended) r.ended = r.started + std::chrono::milliseconds{ms};
    return r;
  };
  ASSERT_TRUE(store.import_runs({
      run("self-1", Procedure::self_test, Outcome::passed, 0, 1000),
      run("self-2", Procedure::self_test, Outcome::passed, 10'000, 3000),
      run("self-failed", Procedure::self_test, Outcome::failed, 20'000, 90'000),
      run("self-other-station", Procedure::self_test, Outcome::passed, 30'000, 90'000, "bench-2"),
      run("rec-simulated", Procedure::rec, Outcome::passed, 40'000, 5000, "bench-1", true),
      run("rec-running", Procedure::rec, Outcome::running, 50'000, 0),
  }));
  using Durations = std::vector<std::pair<Procedure, std::chrono::milliseconds>>;
  const auto real = store.typical_durations("bench-1", false);
  ASSERT_EQ(real.error, "");
  EXPECT_EQ(real.value, (Durations{{Procedure::self_test, std::chrono::milliseconds{2000}}}));
  EXPECT_EQ(store.typical_durations("bench-1", true).value,
            (Durations{{Procedure::rec, std::chrono::milliseconds{5000}}}));
  EXPECT_EQ(store.typical_durations("bench-1", false, 1).value,
            (Durations{{Procedure::self_test, std::chrono::milliseconds{3000}}}))
      << "the latest only";
  EXPECT_TRUE(store.typical_durations("bench-9", false).value.empty());
}

TEST_F(Store, RefusesAFileOfANewerSchemaAndLeavesItAlone) {
  {
    RecordStore store(path());
    ASSERT_TRUE(store.open());
  }
  exec_beside(path(), "INSERT INTO schema_version (version) VALUES (99)");
  RecordStore store(path());
  EXPECT_FALSE(store.open());
  EXPECT_NE(store.status_text().find("newer version"), std::string::npos) << store.status_text();
  EXPECT_FALSE(store.complete_run(full_record()));
  EXPECT_EQ(store.waiting(), 1u);
}

// Runs to filter: ids name what they are.
std::vector<RunRecord> filter_runs() {
  const long long day = 86'400'000;
  return {
      bare_record("d1-rec-QB1-pass", Procedure::rec, Outcome::passed, kMorning, "QB1", "Ann"),
      bare_record("d1-rec-QB2-fail", Procedure::rec, Outcome::failed, kMorning + 10, "QB2", "Bob"),
      bare_record("d2-self-QB1-pass", Procedure::self_test, Outcome::passed, kMorning + day, "QB1",
                  "Bob"),
      bare_record("d2-rec-QB2-pass", Procedure::rec, Outcome::passed, kMorning + day + 10, "QB2",
                  "ann marsh"),
      bare_record("d3-rec-QB12-stop", Procedure::rec, Outcome::stopped, kMorning + 2 * day, "QB12",
                  "Cy"),
      bare_record("d3-rec-QB1-sim", Procedure::rec, Outcome::passed, kMorning + 2 * day + 10, "QB1",
                  "Ann", true),
  };
}

struct FilterCase {
  const char* label;
  RecordFilter filter;
  std::vector<std::string> ids;  // newest first
};

class Filter : public Store, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(Filter, SelectsTheRunsNewestFirst) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  for (const RunRecord& run : filter_runs()) ASSERT_TRUE(store.complete_run(run));
  const auto found = store.query(GetParam().filter);
  EXPECT_EQ(found.error, "");
  EXPECT_EQ(ids_of(found.value), GetParam().ids);
  const auto listed = store.query(GetParam().filter, Detail::list);
  EXPECT_EQ(ids_of(listed.value), GetParam().ids);
}

RecordFilter make_filter(auto&& set) {
  RecordFilter filter;
  set(filter);
  return filter;
}

INSTANTIATE_TEST_SUITE_P(
    Filters, Filter,
    ::testing::Values(
        FilterCase{"all_but_simulated",
                   {},
                   {"d3-rec-QB12-stop", "d2-rec-QB2-pass", "d2-self-QB1-pass", "d1-rec-QB2-fail",
                    "d1-rec-QB1-pass"}},
        FilterCase{"with_simulated",
                   make_filter([](RecordFilter& f) { f.include_simulated = true; }),
                   {"d3-rec-QB1-sim", "d3-rec-QB12-stop", "d2-rec-QB2-pass", "d2-self-QB1-pass",
                    "d1-rec-QB2-fail", "d1-rec-QB1-pass"}},
        FilterCase{"text_is_part_of_a_serial",
                   make_filter([](RecordFilter& f) { f.text = "qb1"; }),
                   {"d3-rec-QB12-stop", "d2-self-QB1-pass", "d1-rec-QB1-pass"}},
        FilterCase{"text_is_part_of_a_technician_any_case",
                   make_filter([](RecordFilter& f) { f.text = "ANN"; }),
                   {"d2-rec-QB2-pass", "d1-rec-QB1-pass"}},
        FilterCase{"serial_does_not_match_technicians",
                   make_filter([](RecordFilter& f) { f.serial = "ann"; }),
                   {}},
        FilterCase{"procedure",
                   make_filter([](RecordFilter& f) { f.procedure = Procedure::self_test; }),
                   {"d2-self-QB1-pass"}},
        FilterCase{"outcome",
                   make_filter([](RecordFilter& f) { f.outcome = Outcome::passed; }),
                   {"d2-rec-QB2-pass", "d2-self-QB1-pass", "d1-rec-QB1-pass"}},
        FilterCase{"date_range_from_inclusive_before_exclusive",
                   make_filter([](RecordFilter& f) {
                     f.started_from = at(kMorning + 10);
                     f.started_before = at(kMorning + 86'400'000 + 10);
                   }),
                   {"d2-self-QB1-pass", "d1-rec-QB2-fail"}},
        FilterCase{"all_at_once",
                   make_filter([](RecordFilter& f) {
                     f.text = "qb";
                     f.procedure = Procedure::rec;
                     f.outcome = Outcome::passed;
                     f.started_from = at(kMorning);
                     f.include_simulated = true;
                   }),
                   {"d3-rec-QB1-sim", "d2-rec-QB2-pass", "d1-rec-QB1-pass"}},
        FilterCase{"limit_keeps_the_newest",
                   make_filter([](RecordFilter& f) { f.limit = 2; }),
                   {"d3-rec-QB12-stop", "d2-rec-QB2-pass"}},
        FilterCase{
            "wildcards_are_literal", make_filter([](RecordFilter& f) { f.text = "%"; }), {}}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(Store, ListLeavesTheReportAndErrorsOut) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  ASSERT_TRUE(store.complete_run(full_record()));
  const auto listed = store.query({}, Detail::list);
  ASSERT_EQ(listed.value.size(), 1u);
  RunRecord expected = full_record();
  expected.report.clear();
  expected.last_errors.clear();
  EXPECT_EQ(listed.value[0], expected);
}

TEST_F(Store, SummaryCountsPassRateAndFirstPassYieldPerUnit) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  const long long t = kMorning;
  const RunRecord runs[] = {
      // QB1 REC: failed first, passed later: not a first pass.
      bare_record("a", Procedure::rec, Outcome::failed, t, "QB1"),
      bare_record("b", Procedure::rec, Outcome::passed, t + 100, "QB1"),
      // QB1 Self Test: passed first.
      bare_record("c", Procedure::self_test, Outcome::passed, t + 50, "QB1"),
      // QB2 REC: passed first; a later failure does not change it.
      bare_record("d", Procedure::rec, Outcome::passed, t + 10, "QB2"),
      bare_record("e", Procedure::rec, Outcome::failed, t + 200, "QB2"),
      // QB3 REC: interrupted first.
      bare_record("f", Procedure::rec, Outcome::interrupted, t + 20, "QB3"),
      // No serial: counted, not in the yield.
      bare_record("g", Procedure::rec, Outcome::passed, t + 30),
      // Still running: counted, neither finished nor in the yield.
      bare_record("h", Procedure::rec, Outcome::running, t + 5, "QB4"),
      // Simulated: outside the default filter.
      bare_record("i", Procedure::rec, Outcome::failed, t - 10, "QB2", "", true),
  };
  for (const RunRecord& run : runs) {
    ASSERT_TRUE(run.outcome == Outcome::running ? store.begin_run(run) : store.complete_run(run));
  }
  const auto summary = store.summarize({});
  ASSERT_EQ(summary.error, "");
  EXPECT_EQ(summary.value.count, 8u);
  EXPECT_EQ(summary.value.finished, 7u);
  EXPECT_EQ(summary.value.passed, 4u);
  EXPECT_EQ(summary.value.first_runs, 4u);  // QB1/rec, QB1/self_test, QB2/rec, QB3/rec
  EXPECT_EQ(summary.value.first_runs_passed, 2u);
  EXPECT_DOUBLE_EQ(summary.value.first_pass_yield(), 0.5);
  EXPECT_DOUBLE_EQ(summary.value.pass_rate(), 4.0 / 7.0);

  // With the simulated run: a simulated QB2 is a unit of its own, its failure a first run beside
  // the real QB2's pass.
  RecordFilter with_simulated;
  with_simulated.include_simulated = true;
  with_simulated.procedure = Procedure::rec;
  const auto rec = store.summarize(with_simulated);
  EXPECT_EQ(rec.value.count, 8u);
  EXPECT_EQ(rec.value.first_runs, 4u);  // QB1 (a), QB2 (d), QB3 (f), simulated QB2 (i)
  EXPECT_EQ(rec.value.first_runs_passed, 1u);

  // A filter selects first runs, it does not make them: from t + 100 on, both runs are retests.
  RecordFilter later;
  later.started_from = at(t + 100);
  const auto from_later = store.summarize(later);
  EXPECT_EQ(from_later.value.count, 2u);  // b, e
  EXPECT_EQ(from_later.value.first_runs, 0u);
}

// The wall clock set back an hour between two runs of a unit (and once more between a restart
// and a third run): no run ends before it starts, and the unit's first run is the one the
// station made first, on the file and on the server alike.
TEST_F(Store, AClockSetBackChangesNoDurationAndLeavesTheFirstRunFirst) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  TimePoint wall = at(kMorning);
  RunClock::Steady::time_point steady{};
  RunClock clock([&] { return wall; }, [&] { return steady; });

  const RunClock::Start first_start = clock.start();
  steady += std::chrono::seconds{60};
  wall -= std::chrono::hours{1};  // set back while the first run goes on
  RunRecord first = bare_record("first", Procedure::rec, Outcome::failed, 0, "QB1");
  first.started = first_start.started;
  first.made = first_start.made;
  first.ended = clock.end(first_start);
  EXPECT_EQ(*first.ended - first.started, std::chrono::seconds{60});

  const RunClock::Start second_start = clock.start();
  steady += std::chrono::seconds{30};
  RunRecord second = bare_record("second", Procedure::rec, Outcome::passed, 0, "QB1");
  second.started = second_start.started;
  second.made = second_start.made;
  second.ended = clock.end(second_start);
  EXPECT_LT(second.started, first.started) << "the wall clock's start";
  EXPECT_GT(*second.made, *first.made);
  ASSERT_TRUE(store.complete_run(first));
  ASSERT_TRUE(store.complete_run(second));
  EXPECT_EQ(store.find("second").value, second);

  // The next start follows on from the store's latest place, the clock set back once more.
  const auto latest = store.latest_made();
  ASSERT_EQ(latest.error, "");
  ASSERT_EQ(latest.value, second.made);
  RunClock restarted([&] { return wall - std::chrono::hours{1}; }, [&] { return steady; });
  restarted.follow(*latest.value);
  const RunClock::Start third_start = restarted.start();
  RunRecord third = bare_record("third", Procedure::rec, Outcome::passed, 0, "QB1");
  third.started = third_start.started;
  third.made = third_start.made;
  third.ended = restarted.end(third_start);
  EXPECT_GT(*third.made, *second.made);
  ASSERT_TRUE(store.complete_run(third));

  const auto summary = store.summarize({});
  ASSERT_EQ(summary.error, "");
  EXPECT_EQ(summary.value.first_runs, 1U);
  EXPECT_EQ(summary.value.first_runs_passed, 0U) << "the first run made failed";
  const auto groups = store.group({});
  ASSERT_EQ(groups.error, "");
  long long total_ms = 0;
  for (const RunGroup& group : groups.value) total_ms += group.duration_ms;
  EXPECT_EQ(total_ms, 90'000) << "60 s and 30 s, none negative";
}

// The records window's list of stations: the first of them in byte order, an id longer than the
// list shows left out before it takes a place.
TEST_F(Store, ListsTheFirstStationsInByteOrderLeavingOutOverLongIds) {
  RecordStore store(path());
  ASSERT_TRUE(store.open()) << store.status_text();
  const std::string over_long(kListTextLimit + 1, 'A');
  int n = 0;
  for (const std::string& station : {std::string("c"), over_long, std::string("b"),
                                     std::string("B"), std::string("a"), std::string("b")}) {
    RunRecord run = full_record("run " + std::to_string(++n));
    run.station_id = station;
    ASSERT_TRUE(store.complete_run(run)) << store.status_text();
  }
  const auto stations = store.stations(3);
  ASSERT_EQ(stations.error, "");
  EXPECT_EQ(stations.value, (std::vector<std::string>{"B", "a", "b"}));
}

TEST_F(Store, SummaryOfNothingIsZero) {
  RecordStore store(path());
  ASSERT_TRUE(store.open());
  const auto summary = store.summarize({});
  EXPECT_EQ(summary.error, "");
  EXPECT_EQ(summary.value.count, 0u);
  EXPECT_DOUBLE_EQ(summary.value.pass_rate(), 0.0);
  EXPECT_DOUBLE_EQ(summary.value.first_pass_yield(), 0.0);
}

}  // namespace
}  // namespace records
