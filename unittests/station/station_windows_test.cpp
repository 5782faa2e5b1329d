// The station put together: every control of the main window reaches its part.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"

namespace {

class StationWindowsTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  explicit StationWindowsTest(sim::BenchConfig bench = sim::benches::standard())
      : SimStation({.bench = std::move(bench), .window_events = testing_support::run_qt_events}),
        windows(station, [this] { ++program_ends; }) {}

  station::StationWindows windows;
  int program_ends = 0;
};

TEST_F(StationWindowsTest, EveryMenuItemIsAvailableBeforeAnyInitialization) {
  app::DisplayForm& form = windows.form();
  EXPECT_TRUE(form.mnuTest->isEnabled());
  EXPECT_TRUE(form.mnuNonVol->isEnabled());
  form.mnuTest->trigger();
  ASSERT_NE(windows.test_console().console(), nullptr);
  EXPECT_TRUE(windows.test_console().console()->isVisible());
}

TEST_F(StationWindowsTest, TestButtonsAndLoadNonVolReachTheirParts) {
  app::DisplayForm& form = windows.form();
  form.TestButton[1]->click();
  ASSERT_EQ(person.shown.size(), 1U);
  EXPECT_EQ(person.shown[0].text.substr(0, 28), "Run Self Loop and use an Osc");
  EXPECT_EQ(chassis.total_calls(), 0U);

  person.shown.clear();
  form.mnuNonVol->trigger();
  EXPECT_EQ(person.texts().back(), "Non-Vol memory has been load, Restart the chassis");
  EXPECT_EQ(chassis.module_at(8)->command_count("nvsetflag(1);"), 1U);

  form.cmdStartCal->click();
  EXPECT_FALSE(form.cmdStartCal->isVisibleTo(&form));
  EXPECT_TRUE(form.TestButton[0]->isVisibleTo(&form));
}

// The Final Test item after the others: disabled until its window is attached, then it shows it;
// the records' handlers attached before stay.
TEST_F(StationWindowsTest, FinalTestOpensItsWindowAndKeepsTheOtherHandlers) {
  app::DisplayForm& form = windows.form();
  EXPECT_FALSE(form.mnuFinalTest->isEnabled());
  int records_shown = 0;
  app::DisplayForm::Handlers handlers = form.handlers();
  handlers.records = [&records_shown] { ++records_shown; };
  form.set_handlers(handlers);
  const QTemporaryDir folder;
  app::FinalTestWindow::Options options;
  options.settings_file = folder.filePath("station.ini");
  app::FinalTestWindow& window = windows.attach_final_test(options);
  ASSERT_TRUE(form.mnuFinalTest->isEnabled());
  form.mnuFinalTest->trigger();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(windows.final_test_window(), &window);
  form.mnuRecords->trigger();
  EXPECT_EQ(records_shown, 1);
}

sim::BenchConfig unprogrammed_uut() {
  sim::BenchConfig bench = sim::benches::standard();
  bench.modules[0].manufacturer_id = 0x0123;
  bench.modules[0].model_code = 0x0456;
  return bench;
}

class UnprogrammedModuleTest : public StationWindowsTest {
 protected:
  UnprogrammedModuleTest() : StationWindowsTest(unprogrammed_uut()) {}
};

TEST_F(UnprogrammedModuleTest, TheLoadedIdentityTakesEffectAfterTheChassisRestarts) {
  visa::ViSession session = 0;
  EXPECT_EQ(station.driver.quor_init("VXI0::8::INSTR", 1, 0, session), driver::QUOR_ERROR_MANF_ID);
  windows.form().mnuNonVol->trigger();
  EXPECT_EQ(person.texts().back(), "Non-Vol memory has been load, Restart the chassis");
  chassis.restart();
  EXPECT_EQ(station.driver.quor_init("VXI0::8::INSTR", 1, 0, session), visa::VI_SUCCESS);
  EXPECT_NE(session, 0U);
  EXPECT_EQ(station.driver.quor_close(session), visa::VI_SUCCESS);
}

}  // namespace
