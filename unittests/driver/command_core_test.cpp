// The command core: what quor_cmd sends and reads, and how it turns the status byte into a
// status.
#include <gtest/gtest.h>

#include "driver_fixture.h"

namespace driver_tests {
namespace {

using sim::VisaFunction;
using visa::VI_SUCCESS;

class CommandCoreTest : public DriverTest {};

TEST_F(CommandCoreTest, CommandWithoutQueryWritesTwiceAndReadsOnce) {
  const visa::ViSession session = open_module();
  chassis.reset_call_counts();
  std::string reply = "stale";
  EXPECT_EQ(driver.quor_cmd(session, "rout:clos out1", reply), VI_SUCCESS);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(chassis.call_count(VisaFunction::Write), 2U);
  EXPECT_EQ(chassis.call_count(VisaFunction::Read), 1U);
  const auto& log = module().command_log();
  ASSERT_EQ(log.size(), 2U);
  EXPECT_EQ(log[0], "rout:clos out1");
  EXPECT_EQ(log[1], "*STB?");
}

TEST_F(CommandCoreTest, QueryReadsOneReplyKeepingTheTerminator) {
  const visa::ViSession session = open_module();
  chassis.reset_call_counts();
  std::string reply;
  EXPECT_EQ(driver.quor_cmd(session, "*IDN?", reply), VI_SUCCESS);
  EXPECT_EQ(reply, module().config().identity + "\n");
  EXPECT_EQ(chassis.call_count(VisaFunction::Write), 2U);
  EXPECT_EQ(chassis.call_count(VisaFunction::Read), 2U);
  // The shared count is that of the last read: the status byte reply "0\n".
  EXPECT_EQ(state.returned_count, 2U);
}

TEST_F(CommandCoreTest, CommandWithTwoQuestionMarksStillReadsOneReply) {
  const visa::ViSession session = open_module();
  module().set_query_reply("MEAS? CH1?", "42");
  chassis.reset_call_counts();
  std::string reply;
  EXPECT_EQ(driver.quor_cmd(session, "MEAS? CH1?", reply), VI_SUCCESS);
  EXPECT_EQ(reply, "42\n");
  EXPECT_EQ(chassis.call_count(VisaFunction::Read), 2U);
}

TEST_F(CommandCoreTest, StatusByteBitFourMakesAnInstrumentError) {
  const visa::ViSession session = open_module();
  std::string reply;
  for (const char* status_byte : {"4", "20", "+4", "  4.0"}) {
    module().set_query_reply("*STB?", status_byte);
    EXPECT_EQ(driver.quor_cmd(session, "*CLS", reply), driver::QUOR_ERROR_INSTRUMENT)
        << "status byte " << status_byte;
  }
  for (const char* status_byte : {"16", "0", "", "garbage", "99999999"}) {
    module().set_query_reply("*STB?", status_byte);
    EXPECT_EQ(driver.quor_cmd(session, "*CLS", reply), VI_SUCCESS) << "status byte " << status_byte;
  }
}

TEST_F(CommandCoreTest, RejectedCommandComesBackAsInstrumentErrorWithTheModuleText) {
  const visa::ViSession session = open_module();
  std::string reply;
  EXPECT_EQ(driver.quor_cmd(session, "FROB:NICATE 3", reply), driver::QUOR_ERROR_INSTRUMENT);
  std::int32_t number = 0;
  std::string message;
  EXPECT_EQ(driver.quor_error_query(session, number, message), VI_SUCCESS);
  EXPECT_EQ(number, -113);
  EXPECT_EQ(message, "\"Undefined header\"\n");
  // The queue is empty again, so the next command is clean.
  EXPECT_EQ(driver.quor_cmd(session, "*CLS", reply), VI_SUCCESS);
}

TEST_F(CommandCoreTest, FailedReplyReadReturnsItsStatusWithEmptyReplyAndNoStatusQuery) {
  const visa::ViSession session = open_module();
  module().fail_next(VisaFunction::Read, visa::VI_ERROR_TMO);
  std::string reply = "stale";
  EXPECT_EQ(driver.quor_cmd(session, "*IDN?", reply), visa::VI_ERROR_TMO);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(module().command_count("*STB?"), 0U);
}

TEST_F(CommandCoreTest, FailedWriteEndsTheCommandBeforeAnyRead) {
  const visa::ViSession session = open_module();
  module().fail_next(VisaFunction::Write, visa::VI_ERROR_TMO);
  chassis.reset_call_counts();
  std::string reply;
  EXPECT_EQ(driver.quor_cmd(session, "*IDN?", reply), visa::VI_ERROR_TMO);
  EXPECT_EQ(chassis.call_count(VisaFunction::Write), 1U);
  EXPECT_EQ(chassis.call_count(VisaFunction::Read), 0U);
}

TEST_F(CommandCoreTest, WarningIsCarriedButDoesNotStopTheCommand) {
  const visa::ViSession session = open_module();
  module().fail_next(VisaFunction::Write, visa::VI_SUCCESS_MAX_CNT);
  std::string reply;
  // The warned write had no effect in the chassis, but the status byte is still asked for.
  EXPECT_EQ(driver.quor_cmd(session, "*CLS", reply), visa::VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(module().command_count("*STB?"), 1U);
}

TEST_F(CommandCoreTest, WarningOfTheReplyReadBecomesTheResult) {
  const visa::ViSession session = open_module();
  module().fail_next(VisaFunction::Read, visa::VI_SUCCESS_MAX_CNT);
  std::string reply;
  EXPECT_EQ(driver.quor_cmd(session, "*IDN?", reply), visa::VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(module().command_count("*STB?"), 1U);
}

TEST_F(CommandCoreTest, SessionZeroIsRefusedWithoutAnyVisaCall) {
  chassis.reset_call_counts();
  std::string reply;
  std::int32_t number = 0;
  std::string message;
  EXPECT_EQ(driver.quor_cmd(0, "*IDN?", reply), visa::VI_ERROR_INV_OBJECT);
  EXPECT_EQ(driver.quor_close(0), visa::VI_ERROR_INV_OBJECT);
  EXPECT_EQ(driver.quor_error_query(0, number, message), visa::VI_ERROR_INV_OBJECT);
  EXPECT_EQ(driver.quor_reset(0), visa::VI_ERROR_INV_OBJECT);
  EXPECT_EQ(driver.quor_configure_mode(0, 0), visa::VI_ERROR_INV_OBJECT);
  EXPECT_EQ(chassis.total_calls(), 0U);
}

TEST_F(CommandCoreTest, RangeCheckGivesTheCodeOnlyOutsideTheBounds) {
  EXPECT_EQ(driver::QuorDriver::quor_check_range(0, 0, 7, visa::VI_ERROR_PARAMETER2), VI_SUCCESS);
  EXPECT_EQ(driver::QuorDriver::quor_check_range(7, 0, 7, visa::VI_ERROR_PARAMETER2), VI_SUCCESS);
  EXPECT_EQ(driver::QuorDriver::quor_check_range(8, 0, 7, visa::VI_ERROR_PARAMETER2),
            visa::VI_ERROR_PARAMETER2);
  EXPECT_EQ(driver::QuorDriver::quor_check_range(-1, 0, 7, visa::VI_ERROR_PARAMETER3),
            visa::VI_ERROR_PARAMETER3);
}

TEST_F(CommandCoreTest, CloseReleasesTheSessionOnce) {
  const visa::ViSession session = open_module();
  EXPECT_EQ(chassis.open_session_count(), 1);
  EXPECT_EQ(driver.quor_close(session), VI_SUCCESS);
  EXPECT_EQ(chassis.open_session_count(), 0);
  EXPECT_EQ(driver.quor_close(session), visa::VI_ERROR_INV_OBJECT);
}

}  // namespace
}  // namespace driver_tests
