// The production work without its window: what the self test, the memory test and the
// calibration show through the main window's view, and the facts each run leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "procedures/production_tests.h"
#include "procedures_fixture.h"

namespace procedures_tests {
namespace {

using procedures::MainStep;
using sim::VisaFunction;
namespace text = procedures::production_text;

class ProductionViewsTest : public ViewsTest {
 protected:
  ProductionViewsTest() : production(station, view) {}

  void SetUp() override {
    driver::UnitRecord& uut = station.units.uut;
    ASSERT_EQ(station.driver.quor_init("VXI0::8::INSTR", 1, 1, uut.session), visa::VI_SUCCESS);
    uut.model_code = 1972;
  }

  procedures::ProductionTests production;
};

struct SelfTestRow {
  std::string_view reply;
  bool failed_reset;
  const char* verdict;
  core::Outcome outcome;
};

void PrintTo(const SelfTestRow& row, std::ostream* out) {
  *out << '"';
  for (char c : row.reply) {
    if (c == '\0') {
      *out << "\\0";
    } else {
      *out << c;
    }
  }
  *out << '"' << (row.failed_reset ? " after a failed reset" : "");
}

class SelfTestViewTest : public ProductionViewsTest,
                         public ::testing::WithParamInterface<SelfTestRow> {};

TEST_P(SelfTestViewTest, ShowsItsLinesInTurnAndLeavesTheVerdictInTheFacts) {
  const SelfTestRow& row = GetParam();
  module(8).set_query_reply("*TST?", std::string(row.reply));
  if (row.failed_reset) module(8).fail_next(VisaFunction::Write, visa::VI_ERROR_BERR);
  production.on_test_button(3);

  EXPECT_EQ(view.steps, std::vector<MainStep>{MainStep::ProductionTest});
  EXPECT_EQ(view.instructions, (std::vector<std::string>{text::kSelfTestInstruction,
                                                         text::kSelfTestStart, row.verdict}));
  EXPECT_EQ(station.run.verdict, row.verdict);
  EXPECT_EQ(station.run.outcome, row.outcome);
  // The step errors listed on the error line are the run's errors.
  EXPECT_EQ(station.run.errors.rfind("Resetting the UUT\n", 0) == 0, row.failed_reset);
  EXPECT_EQ(view.error_line, row.failed_reset ? station.run.errors : "Error Report Label");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SelfTestViewTest,
    ::testing::Values(SelfTestRow{"0", false, "Self Test Passed", core::Outcome::passed},
                      SelfTestRow{"3", false, "Self Test Failure:3", core::Outcome::failed},
                      // The reset's error leaves the pass text but the run did not run as
                      // specified.
                      SelfTestRow{"0", true, "Self Test Passed", core::Outcome::error},
                      // A reply that holds no number is no result, as no reply is none.
                      SelfTestRow{"", false, "Self Test Failure:-1", core::Outcome::failed},
                      SelfTestRow{std::string_view("\0\0\0", 3), false, "Self Test Failure:-1",
                                  core::Outcome::failed},
                      SelfTestRow{"PASS", false, "Self Test Failure:-1", core::Outcome::failed}));

TEST_F(ProductionViewsTest, MemoryTestClearsTheLineThenLeavesItsVerdict) {
  production.on_test_button(2);
  EXPECT_EQ(view.instructions, (std::vector<std::string>{"", "Memory Test Passed"}));
  EXPECT_EQ(station.run.verdict, "Memory Test Passed");
  EXPECT_EQ(station.run.memory_miscompares, 0);

  // A new run starts with facts of its own.
  module(8).fail_next(VisaFunction::MoveOut16, visa::VI_ERROR_BERR);
  production.on_test_button(2);
  EXPECT_EQ(station.run.verdict, "Memory Test Failed");
  EXPECT_EQ(station.run.errors.rfind("Writing data to Quor Bus RAM\n", 0), 0U);
  EXPECT_EQ(view.error_line, station.run.errors);
}

TEST_F(ProductionViewsTest, CalibrationSendsItsSequenceAndShowsEachStepsControls) {
  production.output_calibration().on_start_calibration();
  // Cal Complete once the second pass has begun.
  std::function<void()> complete_after_two = [&] {
    const auto& log = module(8).command_log();
    if (std::count(log.begin(), log.end(), "CAL 0 1") >= 2) {
      production.output_calibration().on_cal_good();
    } else {
      pump.then(complete_after_two);
    }
  };
  pump.then(complete_after_two);
  const std::size_t before = module(8).command_log().size();
  production.on_test_button(0);

  EXPECT_EQ(view.steps, (std::vector<MainStep>{MainStep::SettingUp, MainStep::Adjusting,
                                               MainStep::CalibrationFinished}));
  EXPECT_EQ(view.instructions,
            (std::vector<std::string>{text::kCalibrationInstruction, std::string()}));
  EXPECT_EQ(view.cal_constants, (std::vector<std::string>{" 1", " 1"}));
  // The record's reply field as it stands, blanks and line end included.
  const std::size_t last = view.status_byte.find_last_not_of(" \r\n");
  EXPECT_EQ(view.status_byte.substr(0, last + 1), "0");
  EXPECT_EQ(view.status_byte.size(), station.units.uut.reply.size());
  EXPECT_EQ(station.run.cal_constant_read, 1.0);
  EXPECT_EQ(station.run.cal_constant_sent, 1.0);
  EXPECT_EQ(station.run.outcome, core::Outcome::passed);
  EXPECT_TRUE(station.run.verdict.empty());

  // The same commands as from the main window, each followed by the status-byte query.
  const std::vector<std::string> commands = {"*STB?",          "ROUT:OPEN AMPL",
                                             "ROUT:OPEN PROT", "*RST",
                                             "*CLS",           "TRAC:DATA:CLR STAM",
                                             "CAL?",           "MODE IDLE",
                                             "*STB?",          "ROUT:OPEN OUT1",
                                             "ROUT:OPEN OUT2", "ROUT:OPEN OUT3",
                                             "ROUT:OPEN OUT4", "ROUT:OPEN AMPL",
                                             "ROUT:CLOS OUT1", "CAL 0 1",
                                             "VOLT 100",       "COMM:TRAN:STOP 04",
                                             "TIM 00010",      "*STB?",
                                             "*STB?",          "*STB?",
                                             "*STB?",          "CAL 0 1",
                                             "VOLT 100",       "COMM:TRAN:STOP 04",
                                             "TIM 00010",      "*STB?",
                                             "*STB?",          "*STB?",
                                             "*STB?"};
  std::vector<std::string> expected;
  for (const std::string& command : commands) {
    expected.push_back(command);
    expected.push_back("*STB?");
  }
  const auto& log = module(8).command_log();
  EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(before), log.end()),
            expected);
}

}  // namespace
}  // namespace procedures_tests
