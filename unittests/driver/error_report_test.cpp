// Error texts, reports, the step display and the tick wait.
#include <gtest/gtest.h>

#include "driver_fixture.h"

namespace driver_tests {
namespace {

using sim::VisaFunction;
using visa::VI_SUCCESS;

class ErrorReportTest : public DriverTest {};

std::string message_of(driver::QuorDriver& driver, visa::ViSession session, visa::ViStatus code) {
  std::string message = "stale";
  EXPECT_EQ(driver.quor_error_message(session, code, message), VI_SUCCESS);
  return message;
}

TEST_F(ErrorReportTest, DriverCodesHaveTheirOwnTexts) {
  EXPECT_EQ(message_of(driver, 0, visa::error_code(0xBFFC0001U)), "Error in Parameter 1");
  EXPECT_EQ(message_of(driver, 0, visa::error_code(0xBFFC0005U)), "Error in Parameter 5");
  EXPECT_EQ(message_of(driver, 0, visa::error_code(0xBFFC0008U)), "Error in Parameter 8");
  EXPECT_EQ(message_of(driver, 0, driver::QUOR_ERROR_MANF_ID), "Invalid Manufacturer ID");
  EXPECT_EQ(message_of(driver, 0, driver::QUOR_ERROR_MODEL_CODE), "Invalid Model Code");
  EXPECT_EQ(message_of(driver, 0, driver::QUOR_ERROR_INSTRUMENT), "Instrument Error");
  EXPECT_EQ(message_of(driver, 0, visa::error_code(0xBFFC0803U)), "Unknown Error Code");
  EXPECT_EQ(message_of(driver, 0, visa::error_code(0xBFFC0FFFU)), "Unknown Error Code");
}

TEST_F(ErrorReportTest, OtherCodesGoToTheLibraryDescription) {
  const visa::ViSession session = open_module();
  for (const visa::ViStatus code : {visa::VI_SUCCESS, visa::VI_ERROR_TMO, visa::VI_ERROR_INV_OBJECT,
                                    visa::error_code(0xBFFC0009U), visa::error_code(0xBFFC1000U)}) {
    std::array<visa::ViChar, visa::VI_FIND_BUFLEN> expected{};
    ASSERT_EQ(chassis.viStatusDesc(session, code, expected.data()), VI_SUCCESS);
    chassis.reset_call_counts();
    EXPECT_EQ(message_of(driver, session, code), std::string(expected.data()));
    EXPECT_EQ(chassis.call_count(VisaFunction::StatusDesc), 1U);
  }
  // A session of 0 still gets the library's text: it is what a failed open leaves behind.
  EXPECT_FALSE(message_of(driver, 0, visa::VI_ERROR_INV_OBJECT).empty());
}

TEST_F(ErrorReportTest, ErrorQueryParsesNumberAndMessage) {
  const visa::ViSession session = open_module();
  std::int32_t number = 0;
  std::string message;
  module().set_query_reply("SYST:ERR?", "-222,\"Data out of range\"");
  EXPECT_EQ(driver.quor_error_query(session, number, message), VI_SUCCESS);
  EXPECT_EQ(number, -222);
  EXPECT_EQ(message, "\"Data out of range\"\n");

  module().set_query_reply("SYST:ERR?", "Queue overflow");
  number = 77;
  EXPECT_EQ(driver.quor_error_query(session, number, message), VI_SUCCESS);
  EXPECT_EQ(number, 0);
  EXPECT_EQ(message, "Queue overflow\n");
}

TEST_F(ErrorReportTest, ReportHoldsDescriptionLineFeedAndFixedWidthText) {
  const visa::ViSession session = open_module();
  const driver::UnitRecord unit = quor_unit(session);
  const std::string report =
      driver.format_error_report(unit, driver::QUOR_ERROR_MANF_ID, "Failed Initializing Quor Bus");
  const std::string head = "Failed Initializing Quor Bus\nInvalid Manufacturer ID";
  ASSERT_EQ(report.size(), std::string("Failed Initializing Quor Bus\n").size() + 255);
  EXPECT_EQ(report.substr(0, head.size()), head);
  EXPECT_EQ(report.find_first_not_of(' ', head.size()), std::string::npos);

  driver::UnitRecord other = unit;
  other.model_code = 1234;
  EXPECT_EQ(driver.format_error_report(other, driver::QUOR_ERROR_MANF_ID, "Step"),
            "Step\n" + std::string(255, ' '));
}

TEST_F(ErrorReportTest, InstrumentErrorReportAsksTheModuleForItsError) {
  const visa::ViSession session = open_module();
  std::string reply;
  ASSERT_EQ(driver.quor_cmd(session, "NOT:A:COMMAND", reply), driver::QUOR_ERROR_INSTRUMENT);
  const std::string report =
      driver.format_error_report(quor_unit(session), driver::QUOR_ERROR_INSTRUMENT, "Step");
  EXPECT_EQ(report.substr(0, 25), "Step\n\"Undefined header\"\n ");
  EXPECT_EQ(module().command_count("SYST:ERR?"), 1U);
}

TEST_F(ErrorReportTest, ReportStatusSetsTheLastErrorTextAndBoxesOnlyWhenAsked) {
  const visa::ViSession session = open_module();
  const driver::UnitRecord unit = quor_unit(session);
  driver.set_error_options(4);
  driver.report_status(unit, VI_SUCCESS, "Resetting the UUT");
  EXPECT_EQ(state.last_error_text, "No Error");
  driver.report_status(unit, visa::VI_ERROR_TMO, "Resetting the UUT");
  EXPECT_EQ(state.last_error_text,
            driver.format_error_report(unit, visa::VI_ERROR_TMO, "Resetting the UUT"));
  // A warning is reported too.
  driver.report_status(unit, visa::VI_SUCCESS_MAX_CNT, "Reading");
  EXPECT_EQ(state.last_error_text.substr(0, 8), "Reading\n");
  EXPECT_TRUE(person.shown.empty());

  driver.set_error_options(2);
  driver.report_status(unit, visa::VI_ERROR_TMO, "Resetting the UUT");
  ASSERT_EQ(person.shown.size(), 1U);
  EXPECT_EQ(person.shown[0].title, "Error");
  EXPECT_EQ(person.shown[0].text, state.last_error_text);
  driver.report_status(unit, VI_SUCCESS, "Resetting the UUT");
  EXPECT_EQ(person.shown.size(), 1U);
}

TEST_F(ErrorReportTest, ShowStepWaitsFiftyMillisecondsOnlyAfterAnError) {
  state.last_error_text = "No Error";
  driver.show_step("Step one");
  EXPECT_EQ(pump.yields(), 0U);
  EXPECT_EQ(clock.now_us(), 0U);

  state.last_error_text = "Resetting the UUT\nTimeout";
  driver.show_step("Step two");
  EXPECT_EQ(clock.now_us(), 50'000U);
  EXPECT_FALSE(pump.tick_timer_running());
  EXPECT_EQ(display.shown, (std::vector<std::string>{"Step one", "Step two"}));
}

TEST_F(ErrorReportTest, DelayTicksWaitsForTheTimerToFireThatManyTimes) {
  driver.delay_ticks(19, 500);
  EXPECT_EQ(clock.now_us(), 9'500'000U);
  EXPECT_EQ(state.tick_counter, 19);
  EXPECT_EQ(pump.timer_interval_ms(), 500);
  EXPECT_FALSE(pump.tick_timer_running());
}

TEST_F(ErrorReportTest, DelayTicksEndsWhenTheTimerStopsUnderIt) {
  // The timer goes with its window; the wait must not go on for ticks that never come.
  pump.then([this] { pump.stop_tick_timer(); });
  driver.delay_ticks(50, 1);
  EXPECT_LT(state.tick_counter, 50);
  EXPECT_FALSE(pump.tick_timer_running());
}

TEST_F(ErrorReportTest, AbortRequestedRunsPendingEventsFirst) {
  EXPECT_FALSE(driver.abort_requested());
  pump.then([this] { state.abort_flag = true; });
  EXPECT_TRUE(driver.abort_requested());
  EXPECT_EQ(pump.yields(), 2U);
}

}  // namespace
}  // namespace driver_tests
