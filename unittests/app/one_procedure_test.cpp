// One procedure on the units at a time: a second one is refused with a message that names the
// running one and how to end it, and the running one goes on as if nothing had been clicked.
#include <gtest/gtest.h>

#include "app/unit_initialization.h"
#include "test_console_fixture.h"

namespace console_suite {
namespace {

using Texts = std::vector<std::string>;

constexpr int kCalibrateOutputs = 0;
constexpr int kMemoryTest = 2;
constexpr int kSelfTest = 3;

class OneProcedureTest : public ConsoleTest {
 protected:
  app::DisplayForm& form() { return windows->form(); }
  QPushButton* production_button(int index) {
    return form().TestButton[static_cast<std::size_t>(index)];
  }
  // The calibration loop yields twice a pass; `while_running` runs at its second yield, and
  // Cal Complete ends it two yields later.
  void calibrate_with(const std::function<void()>& while_running) {
    pump.at_yield(2, while_running);
    pump.at_yield(4, [this] { form().CalGood->click(); });
    production_button(kCalibrateOutputs)->click();
  }
};

TEST_F(OneProcedureTest, SelfTestDuringStampsWaitIsRefusedAndTheWaitKeepsItsLength) {
  // The first yields are the ticks of the first pass's 9.5 s wait.
  pump.at_yield(3, [this] { production_button(kSelfTest)->click(); });
  console().cmdStamp->click();
  EXPECT_EQ(person.texts(),
            (Texts{"Hit OK to Start Test!",
                   "The STAMP test is running. Stop it with STOP TEST on the test console before "
                   "starting Self Test.",
                   "Test Completed!"}));
  EXPECT_EQ(report().find("Failure at Stamp"), std::string::npos);
  EXPECT_EQ(label(), "Count: 5    Failures: 0");
  EXPECT_EQ(uut().command_count("*TST?"), 0U);
  // Once the test has ended, the self test runs.
  person.shown.clear();
  production_button(kSelfTest)->click();
  EXPECT_EQ(person.texts(), Texts{"Press OK when ready"});
  EXPECT_EQ(uut().command_count("*TST?"), 1U);
}

TEST_F(OneProcedureTest, RecInsideTheCalibrationLoopIsRefused) {
  calibrate_with([this] { console().cmdRec->click(); });
  EXPECT_EQ(person.texts(), Texts{"Calibrate Outputs is running. End it with Cal Complete or "
                                  "Abort before starting the REC test."});
  EXPECT_EQ(uut().command_count("*idn?"), 0U);
  EXPECT_EQ(qcu().command_count("*idn?"), 0U);
  EXPECT_TRUE(console().cmdRec->isEnabled());
  EXPECT_TRUE(form().cmdStartCal->isVisibleTo(&form()));
  // The calibration has let the units go: the test runs now.
  person.shown.clear();
  console().cmdRec->click();
  EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}));
}

struct NestedProduction {
  const char* name;
  int button;
  const char* refusal;
};

std::ostream& operator<<(std::ostream& out, const NestedProduction& row) { return out << row.name; }

class NestedInCalibrationTest : public OneProcedureTest,
                                public ::testing::WithParamInterface<NestedProduction> {};

TEST_P(NestedInCalibrationTest, IsRefusedAndLeavesOutputOneClosed) {
  const NestedProduction& row = GetParam();
  bool output_one_closed = false;
  calibrate_with([&] {
    production_button(row.button)->click();
    output_one_closed = uut().route_closed(sim::Route::Out1);
  });
  EXPECT_EQ(person.texts(), Texts{row.refusal});
  EXPECT_TRUE(output_one_closed);
  // Only the calibration's own reset reached the UUT.
  EXPECT_EQ(uut().command_count("*RST"), 1U);
  EXPECT_EQ(uut().command_count("*TST?"), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    ProductionTests, NestedInCalibrationTest,
    ::testing::Values(NestedProduction{"SelfTest", kSelfTest,
                                       "Calibrate Outputs is running. End it with Cal Complete "
                                       "or Abort before starting Self Test."},
                      NestedProduction{"MemoryTest", kMemoryTest,
                                       "Calibrate Outputs is running. End it with Cal Complete "
                                       "or Abort before starting Memory Test."}),
    [](const ::testing::TestParamInfo<NestedProduction>& row) { return row.param.name; });

TEST_F(OneProcedureTest, WhatOnlyShowsOrSteersTheRunningProcedureStaysUsable) {
  float before_up = 0.0F;
  float after_up = 0.0F;
  calibrate_with([&] {
    form().mnuTest->trigger();
    before_up = windows->production_tests().calibration().constant;
    form().CalUp->click();
    after_up = windows->production_tests().calibration().constant;
    results().mnuPrint->trigger();
  });
  EXPECT_EQ(person.texts(), Texts{});
  EXPECT_EQ(person.printed.size(), 1U);
  EXPECT_FLOAT_EQ(after_up - before_up, 0.1F);
  EXPECT_TRUE(console().isVisible());
}

TEST_F(OneProcedureTest, ATestDuringTheSelectionWaitIsRefused) {
  pump.at_yield(1, [this] { console().cmdSelfLoop->click(); });
  pump.at_yield(2, [this] { form().unit_initialization().cancel_pending_selection(); });
  pump.at_yield(3, [this] { form().unit_initialization().cancel_pending_selection(); });
  form().Init_ALL->trigger();
  EXPECT_EQ(person.texts(),
            Texts{"Initialize All is running. Choose a module in the Quor Bus Initialization "
                  "window (or close that window) before starting the SELFLOOP test."});
  EXPECT_EQ(uut().command_count("*idn?"), 0U);
}

struct StartedDuringRec {
  const char* name;
  std::function<void(app::DisplayForm&)> start;
  const char* started;
};

std::ostream& operator<<(std::ostream& out, const StartedDuringRec& row) { return out << row.name; }

class StartedDuringRecTest : public OneProcedureTest,
                             public ::testing::WithParamInterface<StartedDuringRec> {};

TEST_P(StartedDuringRecTest, IsRefusedAndRecPasses) {
  pump.at_yield(2, [this] { GetParam().start(form()); });
  // Were the calibration loop or a selection running, these would end it.
  pump.at_yield(3, [this] {
    form().CalGood->click();
    form().unit_initialization().cancel_pending_selection();
  });
  console().cmdRec->click();
  EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!",
                                   std::string("The REC test is running. Stop it with STOP TEST "
                                               "on the test console before starting ") +
                                       GetParam().started + ".",
                                   "Test Completed!"}));
  EXPECT_EQ(label(), "Count: 50    Failures: 0");
  EXPECT_EQ(report().substr(report().size() - 11), "Unit Passes");
  // Only the test's own reset and identity query reached the UUT.
  EXPECT_EQ(uut().command_count("*RST"), 1U);
  EXPECT_EQ(uut().command_count("*idn?"), 1U);
  EXPECT_EQ(program_ends, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Procedures, StartedDuringRecTest,
    ::testing::Values(
        StartedDuringRec{"CalibrateOutputs",
                         [](app::DisplayForm& f) { f.TestButton[kCalibrateOutputs]->click(); },
                         "Calibrate Outputs"},
        StartedDuringRec{"InitializeUut", [](app::DisplayForm& f) { f.Init_UUT->trigger(); },
                         "Initialize UUT"},
        StartedDuringRec{"LoadNonVol", [](app::DisplayForm& f) { f.mnuNonVol->trigger(); },
                         "Load Non-Vol"}),
    [](const ::testing::TestParamInfo<StartedDuringRec>& row) { return row.param.name; });

}  // namespace
}  // namespace console_suite
