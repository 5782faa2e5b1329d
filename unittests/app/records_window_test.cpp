// The records window over runs of several stations, offscreen: the station box offers every
// station kept, choosing one lists only that station's runs, the summary's second line counts
// the runs by station (the first few in the line, all of them in its tool tip), and the list of
// stations follows the store when the window is refreshed.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtCharts/QAbstractBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QLineSeries>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/records_window.h"
#include "app/unit_history.h"
#include "app/yield_charts.h"
#include "modal_script.h"
#include "records/record_store.h"
#include "testing/scripted_operator.h"

namespace {

using records::Outcome;
using records::Procedure;
using records::RunRecord;

RunRecord station_run(const std::string& id, const std::string& station, Outcome outcome,
                      int minute) {
  RunRecord r;
  r.id = id;
  r.station_id = station;
  r.started = *records::parse_utc_date("2026-12-01") + std::chrono::minutes{minute};
  if (outcome != Outcome::running) r.ended = r.started + std::chrono::seconds{30};
  r.procedure = Procedure::rec;
  r.outcome = outcome;
  r.uut = records::identify("QUOR,QB-1,QB" + std::to_string(100 + minute) + ",1.0");
  r.technician = "A. Marsh";
  r.report = "report " + id + "\r\n";
  return r;
}

class StationWindowTest : public ::testing::Test {
 public:
  StationWindowTest() : store(folder.path().toStdString() + "/stations.sqlite") {
    EXPECT_TRUE(store.open());
    EXPECT_TRUE(store.import_runs({
        station_run("a1", "LINE-A", Outcome::passed, 1),
        station_run("a2", "LINE-A", Outcome::failed, 2),
        station_run("a3", "LINE-A", Outcome::passed, 3),
        station_run("b1", "LINE-B", Outcome::passed, 4),
        station_run("b2", "LINE-B", Outcome::running, 5),
        station_run("c1", "LINE-C", Outcome::stopped, 6),
        station_run("x1", "", Outcome::passed, 7),
    }));
  }

  static std::vector<std::string> listed(app::RecordsWindow& window) {
    std::vector<std::string> ids;
    for (const RunRecord& run : window.model().runs()) ids.push_back(run.id);
    return ids;
  }
  static std::vector<std::string> choices(const app::RecordsWindow& window) {
    std::vector<std::string> texts;
    for (int i = 0; i < window.cboStation->count(); ++i) {
      texts.push_back(window.cboStation->itemText(i).toStdString());
    }
    return texts;
  }

  QTemporaryDir folder;
  records::RecordStore store;
  testing_support::ScriptedOperator person;
};

TEST_F(StationWindowTest, OffersEveryStationKeptAfterAllStations) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  // A run without a station id is among all stations only.
  EXPECT_EQ(choices(window),
            (std::vector<std::string>{"All stations", "LINE-A", "LINE-B", "LINE-C"}));
  EXPECT_EQ(window.cboStation->currentIndex(), 0);
}

struct StationRow {
  const char* name;
  const char* station;  // the choice in the box; nullptr for all stations
  std::vector<std::string> ids;
  std::string summary;
  std::string by_station;
};

class WindowStationFilterTest : public StationWindowTest,
                                public ::testing::WithParamInterface<StationRow> {};

TEST_P(WindowStationFilterTest, ListsOnlyTheChosenStationsRunsAndCountsThemByStation) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  if (GetParam().station) window.cboStation->setCurrentText(GetParam().station);
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_EQ(listed(window), GetParam().ids);
  EXPECT_EQ(window.lblSummary->text().toStdString(), GetParam().summary);
  EXPECT_EQ(window.lblStations->text().toStdString(), GetParam().by_station);
  EXPECT_EQ(window.filter().station, GetParam().station ? GetParam().station : "");
}

INSTANTIATE_TEST_SUITE_P(
    Stations, WindowStationFilterTest,
    ::testing::Values(
        StationRow{"AllStations",
                   nullptr,
                   {"x1", "c1", "b2", "b1", "a3", "a2", "a1"},
                   "4 of 6 finished runs passed (1 still running); first-pass yield 66.7% over "
                   "6 first runs",
                   "By station: (no station id) 1 run, pass rate 100.0%; LINE-A 3 runs, pass "
                   "rate 66.7%; LINE-B 2 runs, pass rate 100.0%; and 1 more station"},
        StationRow{"LineA",
                   "LINE-A",
                   {"a3", "a2", "a1"},
                   "2 of 3 runs passed; first-pass yield 66.7% over 3 first runs",
                   "By station: LINE-A 3 runs, pass rate 66.7%"},
        StationRow{"LineBWithARunStillRunning",
                   "LINE-B",
                   {"b2", "b1"},
                   "1 of 1 finished runs passed (1 still running); first-pass yield 100% over 1 "
                   "first run",
                   "By station: LINE-B 2 runs, pass rate 100.0%"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(StationWindowTest, TheStationAndAnotherFilterTogetherMayLeaveNothing) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  window.cboStation->setCurrentText("LINE-C");
  window.cboOutcome->setCurrentText("passed");
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_TRUE(listed(window).empty());
  EXPECT_EQ(window.lblStations->text().toStdString(), "");
  EXPECT_TRUE(window.lblStations->isHidden());
}

TEST_F(StationWindowTest, ManyStationsNameTheFirstInTheLineAndAllInTheToolTip) {
  std::vector<RunRecord> more;
  for (int n = 0; n < 5; ++n) {
    more.push_back(
        station_run("m" + std::to_string(n), "MORE-" + std::to_string(n), Outcome::passed, 20 + n));
  }
  ASSERT_TRUE(store.import_runs(more));
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  const std::string line = window.lblStations->text().toStdString();
  // Nine stations with the one without an id: three named, six more.
  EXPECT_EQ(line.substr(line.rfind("; ")), "; and 6 more stations") << line;
  EXPECT_EQ(line.find("LINE-C"), std::string::npos) << line;
  const QStringList tip = window.lblStations->toolTip().split('\n');
  ASSERT_EQ(tip.size(), 9) << window.lblStations->toolTip().toStdString();
  EXPECT_EQ(tip[1].toStdString(), "LINE-A: 3 runs, 3 finished, 2 passed, pass rate 66.7%");
  EXPECT_EQ(tip[4].toStdString(), "MORE-0: 1 run, 1 finished, 1 passed, pass rate 100.0%");
}

TEST_F(StationWindowTest, RefreshAddsANewStationAndKeepsTheChoice) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  window.cboStation->setCurrentText("LINE-B");
  ASSERT_TRUE(store.complete_run(station_run("d1", "LINE-AA", Outcome::passed, 30)));
  ASSERT_TRUE(store.complete_run(station_run("b3", "LINE-B", Outcome::passed, 31)));
  window.refresh();
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_EQ(choices(window),
            (std::vector<std::string>{"All stations", "LINE-A", "LINE-AA", "LINE-B", "LINE-C"}));
  EXPECT_EQ(window.cboStation->currentText().toStdString(), "LINE-B");
  EXPECT_EQ(listed(window), (std::vector<std::string>{"b3", "b2", "b1"}));
}

TEST_F(StationWindowTest, ExportsOnlyTheChosenStationsRuns) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  window.cboStation->setCurrentText("LINE-A");
  const std::string file = folder.path().toStdString() + "/line-a.json";
  std::size_t count = 0;
  ASSERT_EQ(window.export_to(file, &count), "");
  EXPECT_EQ(count, 3U);
  QFile written(QString::fromStdString(file));
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(written.readAll());
  EXPECT_EQ(text.count("\"station_id\": \"LINE-A\""), 3);
  EXPECT_EQ(text.count("\"station_id\": "), 3);
}

TEST_F(StationWindowTest, WritesTheYieldReportOfTheFilteredRunsOffTheWindowThread) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  window.cboStation->setCurrentText("LINE-A");
  ASSERT_TRUE(window.wait_for_reads());
  // The thread that read the figures and wrote the file.
  struct Writer {
    std::mutex mutex;
    std::vector<std::thread::id> threads;
  };
  auto writer = std::make_shared<Writer>();
  window.reader().set_read_hook([writer](records::ReadKind kind) {
    if (kind != records::ReadKind::report) return;
    std::lock_guard lock(writer->mutex);
    writer->threads.push_back(std::this_thread::get_id());
  });
  const QString file = folder.path() + "/line-a.html";
  const QString unwritable = folder.path() + "/no such folder/report.html";
  std::vector<QString> offered;
  std::deque<QString> chosen{file, unwritable};
  window.choose_file = [&](const QString&, const QString& name, const QString&) {
    offered.push_back(name);
    const QString next = chosen.front();
    chosen.pop_front();
    return next;
  };
  app_tests::ModalScript script;
  script.click("OK");
  script.click("OK");
  window.cmdYieldReport->click();
  ASSERT_TRUE(window.wait_for_reads());
  window.cmdYieldReport->click();
  ASSERT_TRUE(window.wait_for_reads());
  ASSERT_TRUE(script.finish());
  EXPECT_TRUE(script.surprises.empty());
  EXPECT_EQ(offered, (std::vector<QString>{"yield-report.html", "yield-report.html"}));
  ASSERT_EQ(script.shown.size(), 2U);
  EXPECT_EQ(script.shown[0], "Wrote the yield report of 3 runs to " + file.toStdString() + ".");
  EXPECT_EQ(
      script.shown[1].rfind("No yield report was written to " + unwritable.toStdString() + ": ", 0),
      0U)
      << script.shown[1];
  {
    std::lock_guard lock(writer->mutex);
    ASSERT_EQ(writer->threads.size(), 2U);
    for (std::thread::id thread : writer->threads) EXPECT_NE(thread, std::this_thread::get_id());
  }
  // The figures of LINE-A's runs as the store counts them, under the window's filter.
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const std::string html = written.readAll().toStdString();
  EXPECT_NE(html.find("data-figure=\"summary\" data-runs=\"3\" data-finished=\"3\" "
                      "data-passed=\"2\" data-first-runs=\"3\" data-first-passed=\"2\""),
            std::string::npos);
  EXPECT_NE(html.find("at station LINE-A"), std::string::npos);
  EXPECT_EQ(html.find("LINE-B"), std::string::npos);
  EXPECT_NE(html.find(store.location_text()), std::string::npos);
  EXPECT_TRUE(window.cmdYieldReport->isEnabled());
}

// --- The list at a glance ---

RunRecord unit_run(const std::string& id, const std::string& serial, Outcome outcome, int minute,
                   bool simulated = false) {
  RunRecord r = station_run(id, "LINE-A", outcome, minute);
  r.uut = records::identify("QUOR,QB-1," + serial + ",1.0");
  r.simulated = simulated;
  return r;
}

// A unit's final test on LINE-A, begun at `minute`; its steps are runs naming its id.
records::UnitResult unit_result(const std::string& id, const std::string& serial,
                                records::UnitVerdict verdict, int minute) {
  records::UnitResult u;
  u.id = id;
  u.station_id = "LINE-A";
  u.started = *records::parse_utc_date("2026-12-01") + std::chrono::minutes{minute};
  u.ended = u.started + std::chrono::minutes{5};
  u.technician = "R. Lindqvist";
  u.uut = records::identify("QUOR,QB-1," + serial + ",1.0");
  u.sequence = "default";
  u.verdict = verdict;
  if (verdict == records::UnitVerdict::fail) {
    u.deciding_step = 2;
    u.deciding_procedure = Procedure::recm;
    u.finding = "Pass 7 word 12: read 0x00A5, expected 0x00A4";
  }
  return u;
}

RunRecord step_run(const std::string& id, const std::string& serial, Outcome outcome, int minute,
                   const std::string& unit_result_id, Procedure procedure = Procedure::rec) {
  RunRecord r = unit_run(id, serial, outcome, minute);
  r.unit_result_id = unit_result_id;
  r.procedure = procedure;
  return r;
}

enum class Shade { none, red, orange, yellow };

Shade shade_of(const QVariant& brush) {
  if (!brush.isValid()) return Shade::none;
  const QColor c = brush.value<QBrush>().color();
  if (c.red() > 200 && c.green() > 190 && c.blue() < 80) return Shade::yellow;
  if (c.red() > 200 && c.green() < 215 && c.green() > c.blue() + 25) return Shade::orange;
  if (c.red() > 200 && c.green() < 215 && c.blue() < 215) return Shade::red;
  return Shade::none;
}

struct LookRow {
  const char* name;
  Outcome outcome;
  bool simulated;
  Shade row;  // the background of the outcome's column
  Shade simulated_column;
  bool grey_text;
};

class RowLookTest : public ::testing::TestWithParam<LookRow> {};

TEST_P(RowLookTest, TheRowSaysTheOutcomeAndTheSimulatedColumnStaysMarked) {
  app::RunListModel model;
  model.set_runs({unit_run("r1", "QB7", GetParam().outcome, 1, GetParam().simulated)});
  const QModelIndex outcome = model.index(0, app::RunListModel::OutcomeColumn);
  const QModelIndex simulated = model.index(0, app::RunListModel::Simulated);
  EXPECT_EQ(shade_of(model.data(outcome, Qt::BackgroundRole)), GetParam().row);
  EXPECT_EQ(shade_of(model.data(simulated, Qt::BackgroundRole)), GetParam().simulated_column);
  const QVariant text = model.data(outcome, Qt::ForegroundRole);
  const bool grey = text.isValid() && text.value<QBrush>().color().saturation() < 30 &&
                    text.value<QBrush>().color().value() < 200;
  EXPECT_EQ(grey, GetParam().grey_text);
  EXPECT_EQ(model.data(simulated, Qt::DisplayRole).toString().toStdString(),
            GetParam().simulated ? "SIMULATED" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RowLookTest,
    ::testing::Values(
        LookRow{"Passed", Outcome::passed, false, Shade::none, Shade::none, false},
        LookRow{"Running", Outcome::running, false, Shade::none, Shade::none, false},
        LookRow{"Failed", Outcome::failed, false, Shade::red, Shade::red, false},
        LookRow{"FailureLimit", Outcome::failure_limit, false, Shade::red, Shade::red, false},
        LookRow{"Error", Outcome::error, false, Shade::orange, Shade::orange, false},
        LookRow{"SimulatedError", Outcome::error, true, Shade::orange, Shade::yellow, false},
        LookRow{"Refused", Outcome::refused, false, Shade::none, Shade::none, true},
        LookRow{"Interrupted", Outcome::interrupted, false, Shade::none, Shade::none, true},
        LookRow{"Stopped", Outcome::stopped, false, Shade::none, Shade::none, true},
        LookRow{"SimulatedPassed", Outcome::passed, true, Shade::yellow, Shade::yellow, false},
        LookRow{"SimulatedFailed", Outcome::failed, true, Shade::red, Shade::yellow, false},
        LookRow{"SimulatedRefused", Outcome::refused, true, Shade::yellow, Shade::yellow, true}),
    [](const auto& row) { return std::string(row.param.name); });

struct SummaryRow {
  const char* name;
  records::Summary summary;
  bool one_procedure;
  std::string text;
};

class SummaryTextTest : public ::testing::TestWithParam<SummaryRow> {};

TEST_P(SummaryTextTest, SaysTheFiguresInWords) {
  EXPECT_EQ(app::summary_text(GetParam().summary, GetParam().one_procedure), GetParam().text);
}

records::Summary summary(std::size_t count, std::size_t finished, std::size_t passed,
                         std::size_t first, std::size_t first_passed) {
  records::Summary s;
  s.count = count;
  s.finished = finished;
  s.passed = passed;
  s.first_runs = first;
  s.first_runs_passed = first_passed;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Summaries, SummaryTextTest,
    ::testing::Values(SummaryRow{"OneProcedure", summary(10, 10, 7, 5, 3), true,
                                 "7 of 10 runs passed; first-pass yield 60% over 5 units"},
                      SummaryRow{"SeveralProcedures", summary(10, 10, 7, 5, 3), false,
                                 "7 of 10 runs passed; first-pass yield 60% over 5 first runs"},
                      SummaryRow{"Empty", summary(0, 0, 0, 0, 0), false, "No runs"},
                      SummaryRow{"OnlyRunning", summary(2, 0, 0, 0, 0), false,
                                 "2 runs, all still running"},
                      SummaryRow{"NoSerialNumbers", summary(1'234, 1'234, 1'200, 0, 0), false,
                                 "1,200 of 1,234 runs passed"},
                      SummaryRow{"OneUnit", summary(3, 3, 1, 1, 0), true,
                                 "1 of 3 runs passed; first-pass yield 0% over 1 unit"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(StationWindowTest, SaysHowManySimulatedRunsAreHiddenAndHowToShowThem) {
  ASSERT_TRUE(store.import_runs({unit_run("s1", "SIM-1", Outcome::passed, 40, true),
                                 unit_run("s2", "SIM-1", Outcome::failed, 41, true)}));
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_FALSE(window.lblHidden->isHidden());
  EXPECT_EQ(window.lblHidden->text().toStdString(),
            "2 simulated runs are hidden; tick \"Include simulated runs\" to show them.");
  // The note follows the filter: LINE-B has no simulated run.
  window.cboStation->setCurrentText("LINE-B");
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_TRUE(window.lblHidden->isHidden());
  window.cboStation->setCurrentIndex(0);
  window.chkSimulated->setChecked(true);
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_TRUE(window.lblHidden->isHidden());
  EXPECT_EQ(listed(window).front(), "s2");
}

// --- The charts ---

QBarSet* bar_set(QChartView* view, const QString& label) {
  for (QAbstractSeries* series : view->chart()->series()) {
    if (auto* bars = qobject_cast<QAbstractBarSeries*>(series)) {
      for (QBarSet* set : bars->barSets()) {
        if (set->label() == label) return set;
      }
    }
  }
  return nullptr;
}

struct ClickRow {
  const char* name;
  std::function<void(app::YieldCharts&)> click;
  std::vector<std::string> ids;
  std::function<void(const records::RecordFilter&)> check;
  // Runs that are steps of unit results, kept before the window opens.
  std::vector<RunRecord> steps = {};
};

class ChartClickTest : public StationWindowTest, public ::testing::WithParamInterface<ClickRow> {};

TEST_P(ChartClickTest, AClickOnABarListsTheRunsItStandsFor) {
  // A second day, for the trend.
  RunRecord later = station_run("d1", "LINE-A", Outcome::failed, 60 * 48);
  ASSERT_TRUE(store.import_runs({later}));
  const std::vector<RunRecord>& steps = GetParam().steps;
  for (const RunRecord& step : steps) {
    ASSERT_TRUE(store.import_unit_results(
        {unit_result(step.unit_result_id, "QB900", records::UnitVerdict::fail, 200)}));
  }
  ASSERT_TRUE(store.import_runs(steps));
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  ASSERT_EQ(window.charts->figures().total.count, 8U + steps.size());
  // Without unit results the chart of their deciding steps stays out of the way.
  if (steps.empty()) {
    EXPECT_TRUE(window.charts->chtSteps->isHidden());
  }
  GetParam().click(*window.charts);
  ASSERT_TRUE(window.wait_for_reads());
  EXPECT_EQ(listed(window), GetParam().ids);
  GetParam().check(window.filter());
  // The charts follow the list's filter.
  EXPECT_EQ(window.charts->figures().total.count, GetParam().ids.size());
}

INSTANTIATE_TEST_SUITE_P(
    Charts, ChartClickTest,
    ::testing::Values(
        ClickRow{"StationBar",
                 [](app::YieldCharts& charts) {
                   QBarSet* set = bar_set(charts.chtStations, "First-pass yield");
                   ASSERT_NE(set, nullptr);
                   // (no station id), LINE-A, LINE-B, LINE-C
                   emit set->clicked(2);
                 },
                 {"b2", "b1"},
                 [](const records::RecordFilter& filter) { EXPECT_EQ(filter.station, "LINE-B"); }},
        ClickRow{"FailureShare",
                 [](app::YieldCharts& charts) {
                   QBarSet* set = bar_set(charts.chtFailures, "stopped");
                   ASSERT_NE(set, nullptr);
                   emit set->clicked(0);
                 },
                 {"c1"},
                 [](const records::RecordFilter& filter) {
                   EXPECT_EQ(filter.procedure, Procedure::rec);
                   EXPECT_EQ(filter.outcome, Outcome::stopped);
                 }},
        ClickRow{"TrendPoint",
                 [](app::YieldCharts& charts) {
                   ASSERT_EQ(charts.figures().trend.size(), 2U);
                   auto* line = qobject_cast<QLineSeries*>(charts.chtTrend->chart()->series()[0]);
                   ASSERT_NE(line, nullptr);
                   emit line->clicked(QPointF(1.1, 0.0));
                 },
                 {"d1"},
                 [](const records::RecordFilter& filter) {
                   EXPECT_EQ(filter.started_from, records::parse_utc_date("2026-12-03"));
                   EXPECT_EQ(filter.started_before, records::parse_utc_date("2026-12-04"));
                 }},
        // The runs of the step's procedure inside unit results: not the same procedure's runs
        // on their own, nor another step's.
        ClickRow{"DecidingStep",
                 [](app::YieldCharts& charts) {
                   records::YieldFigures figures = charts.figures();
                   figures.unit_results = 3;
                   figures.step_failures = {{Procedure::recm, 0, 1}, {Procedure::rec, 1, 0}};
                   charts.show_figures(figures);
                   EXPECT_FALSE(charts.chtSteps->isHidden());
                   QBarSet* set = bar_set(charts.chtSteps, "fail");
                   ASSERT_NE(set, nullptr);
                   emit set->clicked(1);
                 },
                 {"e2", "e1"},
                 [](const records::RecordFilter& filter) {
                   EXPECT_EQ(filter.procedure, Procedure::rec);
                   EXPECT_EQ(filter.in_unit_result, true);
                   EXPECT_FALSE(filter.outcome);
                 },
                 {step_run("e1", "QB900", Outcome::passed, 200, "ur-1"),
                  step_run("e2", "QB901", Outcome::failed, 201, "ur-2"),
                  step_run("e3", "QB902", Outcome::failed, 202, "ur-3", Procedure::recm)}}),
    [](const auto& row) { return std::string(row.param.name); });

// --- A unit's history ---

TEST_F(StationWindowTest, AUnitsHistoryHoldsEveryRunOfThatSerialNumberOldestFirst) {
  // Two final tests of the unit, the later one passed; another unit's is not its history.
  ASSERT_TRUE(store.import_unit_results({
      unit_result("ur-pass", "QB500", records::UnitVerdict::pass, 50),
      unit_result("ur-fail", "QB500", records::UnitVerdict::fail, 48),
      unit_result("ur-other", "QB5001", records::UnitVerdict::pass, 51),
  }));
  ASSERT_TRUE(store.import_runs({
      step_run("u3", "QB500", Outcome::passed, 50, "ur-pass"),
      step_run("u1", "QB500", Outcome::failed, 48, "ur-fail"),
      unit_run("u2", "QB500", Outcome::refused, 49, true),        // simulated: part of its history
      step_run("v1", "QB5001", Outcome::passed, 51, "ur-other"),  // another unit holding the serial
      unit_run("w1", "qb500", Outcome::passed, 52),
  }));
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  const std::vector<std::string> ids = listed(window);
  const int row = int(std::find(ids.begin(), ids.end(), "u3") - ids.begin());
  ASSERT_LT(row, int(ids.size()));
  // A click on the serial number opens it, as the context menu does.
  const QModelIndex serial = window.model().index(row, app::RunListModel::Serial);
  emit window.lstRuns->clicked(serial);
  auto histories = window.findChildren<app::UnitHistoryWindow*>();
  ASSERT_EQ(histories.size(), 1);
  app::UnitHistoryWindow& history = *histories.front();
  ASSERT_TRUE(history.wait_for_reads());
  std::vector<std::string> history_ids;
  for (const RunRecord& run : history.model().runs()) history_ids.push_back(run.id);
  EXPECT_EQ(history_ids, (std::vector<std::string>{"u1", "u2", "u3"}));
  EXPECT_EQ(history.windowTitle().toStdString(), "Unit History - QB500");
  EXPECT_EQ(history.lblUnit->text().toStdString().substr(0, 12), "3 runs from ");
  EXPECT_NE(history.lblUnit->text().toStdString().find(
                ": 1 passed, 1 failed, 1 refused; 2 unit results: 1 pass, 1 fail"),
            std::string::npos)
      << history.lblUnit->text().toStdString();
  // Its unit results above the runs, oldest first, with the step that decided the failed one.
  const app::UnitResultListModel& results = history.unit_result_model();
  ASSERT_EQ(results.rowCount(), 2);
  EXPECT_FALSE(history.lstUnitResults->isHidden());
  const auto cell = [&results](int result, int column) {
    return results.data(results.index(result, column), Qt::DisplayRole).toString().toStdString();
  };
  EXPECT_EQ(cell(0, app::UnitResultListModel::Verdict), "fail");
  EXPECT_EQ(cell(0, app::UnitResultListModel::DecidingStep), "3: RECM");
  EXPECT_EQ(cell(0, app::UnitResultListModel::Finding),
            "Pass 7 word 12: read 0x00A5, expected 0x00A4");
  EXPECT_EQ(cell(0, app::UnitResultListModel::Technician), "R. Lindqvist");
  EXPECT_EQ(cell(1, app::UnitResultListModel::Verdict), "pass");
  EXPECT_EQ(cell(1, app::UnitResultListModel::Sequence), "default");
  EXPECT_EQ(cell(1, app::UnitResultListModel::DecidingStep), "");
  // The same unit again: the window open for it, not a second one.
  EXPECT_EQ(window.show_unit_history(row), &history);
  EXPECT_EQ(window.findChildren<app::UnitHistoryWindow*>().size(), 1);
}

// --- On the accessibility bus ---

QString accessible_name(QObject* object) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
  return face == nullptr ? QString("<no interface>") : face->text(QAccessible::Name);
}

struct NameRow {
  const char* control;
  const char* name;  // nullptr: the control's caption
};

const NameRow kRecordsWindowNames[] = {
    {"txtFilter", "Serial number or technician"},
    {"cboProcedure", "Procedure"},
    {"cboOutcome", "Outcome"},
    {"cboStation", "Station"},
    {"chkFrom", nullptr},
    {"dtFrom", "From date"},
    {"chkTo", nullptr},
    {"dtTo", "To date"},
    {"chkSimulated", nullptr},
    {"chkUnitSteps", nullptr},
    {"lblSummary", nullptr},
    {"lblHidden", "lblHidden"},  // no simulated run hidden: empty, read by its control name
    {"lblStations", nullptr},
    {"lblSetAside", "lblSetAside"},
    {"YieldCharts", "Yield charts"},
    {"chtTrend", "Pass rate and first-pass yield over time"},
    {"chtFailures", "Runs not passed by procedure"},
    {"chtSteps", "Unit results not passed by deciding step"},
    {"chtStations", "Yield by station"},
    {"lstRuns", "Runs"},
    {"lblSimulated", nullptr},
    {"txtFields", "Run fields"},
    {"txtReport", "Run report"},
    {"cmdNewer", "Newer runs"},
    {"lblPage", nullptr},
    {"cmdOlder", "Older runs"},
    {"cmdRefresh", nullptr},
    {"cmdPrint", nullptr},
    {"cmdExport", nullptr},
    {"cmdYieldReport", nullptr},
};

TEST_F(StationWindowTest, EveryControlOfTheRecordsWindowHasItsAccessibleName) {
  app::RecordsWindow window(store, person);
  ASSERT_TRUE(window.wait_for_reads());
  QSet<QString> named;
  for (QWidget* control : window.findChildren<QWidget*>()) {
    if (!control->objectName().isEmpty() && !control->objectName().startsWith("qt_")) {
      named.insert(control->objectName());
    }
  }
  for (const NameRow& row : kRecordsWindowNames) {
    auto* control = window.findChild<QWidget*>(row.control);
    ASSERT_NE(control, nullptr) << row.control;
    named.remove(row.control);
    QString expected = row.name;
    if (!row.name) {
      if (auto* button = qobject_cast<QAbstractButton*>(control)) expected = button->text();
      if (auto* label = qobject_cast<QLabel*>(control)) expected = label->text();
      ASSERT_FALSE(expected.isEmpty()) << row.control;
    }
    if (qobject_cast<QComboBox*>(control)) {
      // On X11 and Wayland Qt reads a box's choice as its name and its own name beside it.
      EXPECT_EQ(control->accessibleName().toStdString(), expected.toStdString()) << row.control;
      EXPECT_FALSE(accessible_name(control).isEmpty()) << row.control;
      continue;
    }
    EXPECT_EQ(accessible_name(control).toStdString(), expected.toStdString()) << row.control;
  }
  // A control added to the window needs its row.
  EXPECT_TRUE(named.isEmpty()) << QStringList(named.values()).join(", ").toStdString();
}

}  // namespace
