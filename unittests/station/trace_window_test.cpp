// The trace window behind the main window's "Trace" item: it records while shown and not paused,
// highlights errors, filters, and saves in the trace file's format.
#include <gtest/gtest.h>

#include <QFile>
#include <filesystem>
#include <map>

#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/scripted_operator.h"
#include "testing/sim_station.h"
#include "visa/visa_trace_file.h"

namespace {

class TraceWindowTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  TraceWindowTest()
      : SimStation({.window_events = testing_support::run_qt_events,
                    .in_use = {"suite", true},
                    .traced = true}),
        sinks(*traced),
        windows(station, [] {}) {
    windows.attach_trace(sinks, visa::library_status_describer(chassis));
  }

  app::TraceWindow& open_trace() {
    windows.form().mnuTrace->trigger();
    return *windows.trace_window();
  }
  void open_uut() { station.driver.quor_init("VXI0::8::INSTR", 1, 0, station.units.uut.session); }
  std::string cell(app::TraceWindow& window, int row, int column) {
    return window.model().index(row, column).data().toString().toStdString();
  }

  visa::TraceSinks sinks;
  station::StationWindows windows;
};

TEST_F(TraceWindowTest, TheMenuItemOpensOneModelessWindowThatRecordsWhileShown) {
  EXPECT_TRUE(windows.form().mnuTrace->isEnabled());
  EXPECT_EQ(traced->sink(), nullptr) << "no trace before the window opens";
  app::TraceWindow& window = open_trace();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isModal());
  EXPECT_TRUE(window.isWindow());
  windows.form().mnuTrace->trigger();
  EXPECT_EQ(windows.trace_window(), &window) << "one window";
  open_uut();
  window.refresh();
  ASSERT_GT(window.model().rowCount(), 3);
  EXPECT_EQ(cell(window, 0, app::TraceTableModel::Function), "viOpenDefaultRM");
  window.close();
  EXPECT_EQ(traced->sink(), nullptr) << "a closed window costs the trace nothing";
  const std::uint64_t before = window.ring().total();
  open_uut();
  EXPECT_EQ(window.ring().total(), before);
}

TEST_F(TraceWindowTest, PauseStopsTheRecordingAndResumeGoesOn) {
  app::TraceWindow& window = open_trace();
  window.cmdPause->click();
  EXPECT_EQ(window.cmdPause->text(), "Resume");
  open_uut();
  EXPECT_EQ(window.ring().total(), 0U);
  window.cmdPause->click();
  open_uut();
  EXPECT_GT(window.ring().total(), 0U);
}

TEST_F(TraceWindowTest, ErrorsAreHighlightedAndTheFiltersChooseTheRows) {
  app::TraceWindow& window = open_trace();
  open_uut();
  chassis.module_at(8)->fail_next(sim::VisaFunction::In16, visa::VI_ERROR_BERR);
  visa::ViUInt16 value = 0;
  traced->viIn16(station.units.uut.session, visa::VI_A24_SPACE, 0, &value);
  for (visa::ViUInt16 i = 0; i < 100; ++i) {
    traced->viOut16(station.units.uut.session, visa::VI_A24_SPACE, 2 * i, i);
  }
  traced->flush();
  window.refresh();
  const int all = window.model().rowCount();

  window.chkErrorsOnly->setChecked(true);
  ASSERT_EQ(window.model().rowCount(), 1);
  EXPECT_EQ(cell(window, 0, app::TraceTableModel::Status), "VI_ERROR_BERR");
  EXPECT_EQ(cell(window, 0, app::TraceTableModel::Resource), "VXI0::8::INSTR");
  EXPECT_TRUE(window.model().index(0, 0).data(Qt::BackgroundRole).isValid()) << "highlighted";
  window.chkErrorsOnly->setChecked(false);
  EXPECT_EQ(window.model().rowCount(), all);
  EXPECT_FALSE(window.model().index(0, 0).data(Qt::BackgroundRole).isValid());

  window.cboFunction->setCurrentIndex(window.cboFunction->findText("viOut16"));
  ASSERT_EQ(window.model().rowCount(), 1) << "the 100 writes are one run";
  EXPECT_EQ(cell(window, 0, app::TraceTableModel::Function), "viOut16 x100");
  window.cboFunction->setCurrentIndex(0);

  const int uut_entry =
      window.cboSession->findData(QVariant::fromValue<qulonglong>(station.units.uut.session));
  ASSERT_GE(uut_entry, 0);
  window.cboSession->setCurrentIndex(uut_entry);
  for (int row = 0; row < window.model().rowCount(); ++row) {
    EXPECT_EQ(window.model().call_at(row).object, station.units.uut.session);
  }
  EXPECT_LT(window.model().rowCount(), all);
}

// After Initialize All the units' sessions are open before the window is: their rows still
// name the resource and say which unit it is, as the rows of sessions opened later do.
TEST_F(TraceWindowTest, EachSessionNamesItsResourceAndTheUnitsAreMarked) {
  station.driver.quor_init("VXI0::24::INSTR", 1, 0, station.units.qcu.session);
  station.units.qcu.resource = "VXI0::24::INSTR";
  station.units.uut.resource = "VXI0::8::INSTR";
  open_uut();
  app::TraceWindow& window = open_trace();
  visa::ViUInt16 value = 0;
  traced->viIn16(station.units.uut.session, visa::VI_A24_SPACE, 0, &value);
  traced->viIn16(station.units.qcu.session, visa::VI_A24_SPACE, 0, &value);
  visa::ViSession other = 0;
  station.driver.quor_init("VXI0::40::INSTR", 1, 0, other);
  traced->flush();
  window.refresh();
  std::map<std::string, std::string> seen;  // resource: unit
  for (int row = 0; row < window.model().rowCount(); ++row) {
    if (window.model().call_at(row).object == 0) continue;
    seen[cell(window, row, app::TraceTableModel::Resource)] =
        cell(window, row, app::TraceTableModel::Unit);
  }
  EXPECT_EQ(seen["VXI0::8::INSTR"], "UUT");
  EXPECT_EQ(seen["VXI0::24::INSTR"], "QCU");
  EXPECT_EQ(seen["VXI0::40::INSTR"], "") << "neither unit";
  EXPECT_EQ(seen.count("-"), 0U) << "every session named";
  const int uut_entry =
      window.cboSession->findData(QVariant::fromValue<qulonglong>(station.units.uut.session));
  ASSERT_GE(uut_entry, 0);
  EXPECT_TRUE(window.cboSession->itemText(uut_entry).endsWith(" VXI0::8::INSTR (UUT)"))
      << window.cboSession->itemText(uut_entry).toStdString();
}

TEST_F(TraceWindowTest, SaveWritesTheShownRowsInTheTraceFileFormat) {
  app::TraceWindow& window = open_trace();
  open_uut();
  window.refresh();
  const QString path = QString::fromStdString(
      (std::filesystem::temp_directory_path() / "quor_trace_window_test.txt").string());
  ASSERT_TRUE(window.save_to(path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  EXPECT_EQ(lines.size(), window.model().rowCount());
  ASSERT_GE(lines.size(), 2);
  EXPECT_TRUE(lines[1].contains(" viOpen ")) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].contains("(VXI0::8::INSTR, mode 0, ")) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].contains(" VXI0::8::INSTR (")) << "named after its open";
  file.remove();
}

TEST(TraceRingTest, KeepsTheLastCallsOldestFirst) {
  app::TraceRing ring(3);
  for (int i = 1; i <= 5; ++i) {
    visa::VisaCall call;
    call.object = static_cast<visa::ViObject>(i);
    ring.record(call);
  }
  EXPECT_EQ(ring.total(), 5U);
  ASSERT_EQ(ring.size(), 3U);
  EXPECT_EQ(ring.at(0).object, 3U);
  EXPECT_EQ(ring.at(2).object, 5U);
  EXPECT_EQ(app::TraceRing().capacity(), 100'000U);
}

}  // namespace
