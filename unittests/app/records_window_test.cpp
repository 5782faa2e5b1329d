// The records window over runs of several stations, offscreen: the station box offers every
// station kept, choosing one lists only that station's runs, the summary's second line counts
// the runs by station (the first few in the line, all of them in its tool tip), and the list of
// stations follows the store when the window is refreshed.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "app/records_window.h"
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
                   "7 runs - pass rate 66.7% of 6 finished - first-pass yield 66.7% (6 unit "
                   "serial numbers and procedures)",
                   "By station: (no station id) 1 run, pass rate 100.0%; LINE-A 3 runs, pass "
                   "rate 66.7%; LINE-B 2 runs, pass rate 100.0%; and 1 more station"},
        StationRow{"LineA",
                   "LINE-A",
                   {"a3", "a2", "a1"},
                   "3 runs - pass rate 66.7% of 3 finished - first-pass yield 66.7% (3 unit "
                   "serial numbers and procedures)",
                   "By station: LINE-A 3 runs, pass rate 66.7%"},
        StationRow{"LineBWithARunStillRunning",
                   "LINE-B",
                   {"b2", "b1"},
                   "2 runs - pass rate 100.0% of 1 finished - first-pass yield 100.0% (1 unit "
                   "serial numbers and procedures)",
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

}  // namespace
