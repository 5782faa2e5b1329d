// What each functional test sends and writes, and how it judges what it reads back.
#include <gtest/gtest.h>

#include <algorithm>

#include "functional_fixture.h"

namespace functional_suite {
namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

void make_memory_unreadable(sim::SimModule& module) {
  module.fail_next(VisaFunction::In16, visa::VI_ERROR_BERR, 100'000'000);
}

// The commands from the first occurrence of `first` on, `count` of them.
Texts slice(const Texts& all, const std::string& first, std::size_t count) {
  const auto it = std::find(all.begin(), all.end(), first);
  if (it == all.end()) return {};
  const auto end = all.end() - it < static_cast<std::ptrdiff_t>(count) ? all.end() : it + count;
  return {it, end};
}

std::size_t lines_starting(const std::string& report, const std::string& start) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = report.find(start, at)) != std::string::npos; ++at) ++count;
  return count;
}

class WrapTestBodyTest : public ConsoleTest {};

TEST_F(WrapTestBodyTest, RecSetsUpBothUnitsAndRunsEachPassInOrder) {
  make_memory_unreadable(uut());
  console().cmdRec->click();
  const Texts qcu_commands = commands(qcu());
  EXPECT_EQ(slice(qcu_commands, "*RST", 6), (Texts{"*RST", "rout:clos out1", "rout:clos out2",
                                                   "rout:clos out3", "rout:clos out4", "tim 10"}));
  EXPECT_EQ(slice(qcu_commands, "comm:tran:stop  14", 5),
            (Texts{"comm:tran:stop  14", "mode trnd", "*opc", "mode idle", "*opc"}));
  const Texts uut_commands = commands(uut());
  EXPECT_EQ(slice(uut_commands, "*idn?", 3), (Texts{"*idn?", "*RST", "rout:clos unpr"}));
  EXPECT_EQ(
      slice(uut_commands, "comm:rec:start  1", 6),
      (Texts{"comm:rec:start  1", "comm:rec:stop  14", "mode rec", "*opc", "mode idle", "*opc"}));
  EXPECT_EQ(std::count(uut_commands.begin(), uut_commands.end(), "mode rec"), 50);
  // Two refills signalled per pass.
  EXPECT_EQ(qcu().next_buffer_write_count(), 100U);
  // The last pass's refilled PING frame is in the QCU: start, (4, 3) data, stop.
  EXPECT_EQ(qcu().memory_word(0), 0x0100);
  EXPECT_EQ(qcu().memory_word(2), 4);
  EXPECT_EQ(qcu().memory_word(4), 7);
  EXPECT_EQ(qcu().memory_word(2 * 1025), 0x0E00);
  EXPECT_EQ(qcu().memory_word(0x100000 + 2 * 1025), 0x0E00);
}

// One pass of the chassis' history as "<unit>: <command>", without the status queries and
// from the first receive-comparator command on.
Texts one_pass(const sim::SimChassis& chassis, const std::string& first, std::size_t count) {
  Texts all;
  for (const sim::ChassisCommand& command : chassis.command_log()) {
    if (command.text == "*STB?" || command.text == "SYST:ERR?") continue;
    all.push_back((command.logical_address == 8 ? "UUT: " : "QCU: ") + command.text);
  }
  return slice(all, first, count);
}

TEST_F(WrapTestBodyTest, TheReceiverStartsBeforeAndStopsBeforeTheTransmitter) {
  pump.at_yield(4, [this] { console().cmdStop->click(); });
  console().cmdRec->click();
  EXPECT_EQ(one_pass(chassis, "UUT: comm:rec:start  1", 11),
            (Texts{"UUT: comm:rec:start  1", "UUT: comm:rec:stop  14", "QCU: comm:tran:stop  14",
                   "UUT: mode rec", "UUT: *opc", "QCU: mode trnd", "QCU: *opc", "UUT: mode idle",
                   "UUT: *opc", "QCU: mode idle", "QCU: *opc"}));
}

TEST_F(WrapTestBodyTest, UutTransmittingTestsStartTheQcuReceiverFirst) {
  pump.at_yield(2, [this] { console().cmdStop->click(); });
  console().cmdTrnsrecm->click();
  EXPECT_EQ(one_pass(chassis, "QCU: comm:rec:start  1", 11),
            (Texts{"QCU: comm:rec:start  1", "QCU: comm:rec:stop  14", "UUT: comm:tran:stop  14",
                   "QCU: mode recm", "QCU: *opc", "UUT: mode trns", "UUT: *opc", "QCU: mode idle",
                   "QCU: *opc", "UUT: mode idle", "UUT: *opc"}));
}

TEST_F(WrapTestBodyTest, RecReportsElevenMiscomparesForEachEmptyBuffer) {
  make_memory_unreadable(uut());
  pump.at_yield(4, [this] { console().cmdStop->click(); });  // one pass is enough
  console().cmdRec->click();
  EXPECT_NE(report().find("Miscompare at 2 Expected 4 Got FFFF\r\n"), std::string::npos);
  EXPECT_NE(report().find("Miscompare at 100002 Expected 3 Got FFFF\r\n"), std::string::npos);
  EXPECT_EQ(lines_starting(report(), "Miscompare at "), 22U);
  EXPECT_NE(report().find("Got FFFF\r\n\r\nMiscompare at 100002"), std::string::npos);
}

TEST_F(WrapTestBodyTest, TrndrecmWorksWithSixteenWordFrames) {
  make_memory_unreadable(qcu());
  console().cmdTrndrecm->click();
  // The UUT's frame images are 18 words; stop words at 0x22 and 0x100022.
  EXPECT_EQ(uut().memory_word(0x22), 0x0E00);
  EXPECT_EQ(uut().memory_word(0x100022), 0x0E00);
  EXPECT_EQ(uut().memory_word(0x24), 0);
  // The compares read 16 words at 2, 0x26 and 0x4A.
  EXPECT_NE(report().find("Miscompare at 2 Expected 1 Got FFFF"), std::string::npos);
  EXPECT_NE(report().find("Miscompare at 26 Expected 3 Got FFFF"), std::string::npos);
  EXPECT_NE(report().find("Miscompare at 4A Expected 4 Got FFFF"), std::string::npos);
  const Texts uut_commands = commands(uut());
  EXPECT_EQ(slice(uut_commands, "tim 10", 1), Texts{"tim 10"});
  EXPECT_EQ(slice(uut_commands, "comm:tran:stop  14", 2),
            (Texts{"comm:tran:stop  14", "mode trnd"}));
  EXPECT_EQ(slice(commands(qcu()), "rout:clos unpr", 1), Texts{"rout:clos unpr"});
}

TEST_F(WrapTestBodyTest, TrncrecmChainsTwoFramesInPing) {
  make_memory_unreadable(qcu());
  console().cmdTrncrecm->click();
  // Frame 2 directly behind frame 1: start word at 2(L + 2), stop word at 4(L + 2) - 2.
  EXPECT_EQ(uut().memory_word(2 * 1026), 0x0100);
  EXPECT_EQ(uut().memory_word(2 * 1026 + 2), 2);
  EXPECT_EQ(uut().memory_word(4 * 1026 - 2), 0x0E00);
  EXPECT_EQ(slice(commands(uut()), "mode trnc", 1), Texts{"mode trnc"});
  EXPECT_NE(report().find("Miscompare at 806 Expected 2 Got FFFF"), std::string::npos);
  EXPECT_NE(report().find("Miscompare at 100A Expected 3 Got FFFF"), std::string::npos);
}

class SelfLoopBodyTest : public ConsoleTest {};

TEST_F(SelfLoopBodyTest, SelfLoopWritesThePassPatternAndChecksBothBuffers) {
  make_memory_unreadable(uut());
  console().cmdSelfLoop->click();
  EXPECT_EQ(label(), "Count: 5    Failures: 5");
  const Texts uut_commands = commands(uut());
  EXPECT_EQ(slice(uut_commands, "*RST", 7),
            (Texts{"*RST", "rout:clos out1", "rout:clos out2", "rout:clos out3", "rout:clos out4",
                   "rout:clos ampl", "rout:clos unpr"}));
  EXPECT_EQ(slice(uut_commands, "comm:rec:start  1", 7),
            (Texts{"comm:rec:start  1", "comm:rec:stop  15", "comm:tran:stop  15", "mode self",
                   "*opc", "mode idle", "*opc"}));
  // Pass 5 wrote data words 5, 6, 7, ... and the stop marker at 2050.
  EXPECT_EQ(uut().memory_word(0), 0x0100);
  EXPECT_EQ(uut().memory_word(2), 5);
  EXPECT_EQ(uut().memory_word(2 + 2 * 251), 0);  // wraps from 255 to 0
  EXPECT_EQ(uut().memory_word(2050), 0x0F00);
  // The PING compare is a whole-word compare, the PONG one a low-byte compare.
  EXPECT_NE(report().find("Miscompare at 2 Expected 5 Got FFFF"), std::string::npos);
  EXPECT_NE(report().find("Miscompare at 100002 Expected 5 Got FFFF"), std::string::npos);
}

TEST_F(SelfLoopBodyTest, SelfLoop2ClosesTheProtectedInput) {
  make_memory_unreadable(uut());
  console().cmdSelfloop2->click();
  EXPECT_EQ(console().windowTitle(), "Testing of the Quor-Bus");
  EXPECT_EQ(slice(commands(uut()), "rout:clos ampl", 2),
            (Texts{"rout:clos ampl", "rout:clos PROT"}));
  EXPECT_EQ(report().substr(0, 26), "Quor Bus--SelfLoop2 Test\r\n");
}

TEST_F(SelfLoopBodyTest, SelfLongClearsPongByCommandAndDwellsEightSeconds) {
  make_memory_unreadable(uut());
  const std::uint64_t before = clock.now_us();
  console().cmdSelfLong->click();
  // All five passes fail: the fifth failure ends the test at its last pass, without the box.
  EXPECT_EQ(label(), "Count: 5    Failures: 5");
  EXPECT_EQ(person.texts(), Texts{"Hit OK to Start Test!"});
  EXPECT_EQ(uut().command_count("trac:data:clr Pong"), 5U);
  EXPECT_GE(clock.now_us() - before, 5U * 8'000'000U);
  EXPECT_EQ(uut().memory_word(0xFFFF2), 0x0F00);
  EXPECT_EQ(uut().memory_word(0xFFFF0), (5 + 524279) % 256);
}

class StampCheckTest : public ConsoleTest {
 protected:
  void stamps(const std::string& reply) { uut().set_query_reply("trac:data? stamp", reply); }
};

std::string stamp_reply(const std::vector<unsigned>& values) {
  std::string reply;
  char item[16];
  for (unsigned value : values) {
    std::snprintf(item, sizeof item, "#H%04X,", value & 0xFFFFU);
    reply += item;
  }
  return reply.substr(0, reply.size() - 1);
}

TEST_F(StampCheckTest, IntervalsOf10000To10002Pass) {
  std::vector<unsigned> values{0x1000};
  for (int i = 0; i < 9; ++i) values.push_back(values.back() + (i % 2 == 0 ? 10000 : 10001));
  stamps(stamp_reply(values));
  results().set_report("");
  functional().check_time_stamps();
  EXPECT_EQ(functional().state().stamp_failure, 0);
  EXPECT_EQ(report(), "");
  EXPECT_EQ(stamp_reply({0x1000, 0x3710, 0x5E21}).substr(0, 20), "#H1000,#H3710,#H5E21");
}

TEST_F(StampCheckTest, AnIntervalOutsideTheWindowIsReportedWithItsValue) {
  // Interval 5 too long, interval 6 too short, the others right.
  const unsigned intervals[] = {10000, 10002, 10001, 10000, 10003, 9999, 10000, 10001, 10002};
  std::vector<unsigned> values{0x1000};
  for (unsigned interval : intervals) values.push_back(values.back() + interval);
  stamps(stamp_reply(values));
  results().set_report("");
  functional().check_time_stamps();
  EXPECT_EQ(functional().state().stamp_failure, 1);
  const std::string line =
      "Failure at Stamp's Time\r\n Here is the failed calculated Time Delta Value that should be "
      "between 10000 and 10002 from Stamp's Return value: ";
  EXPECT_EQ(report(), line + "10003\r\n" + line + "9999\r\n");
}

TEST_F(StampCheckTest, TheCounterWrapsAt16Bits) {
  std::vector<unsigned> values{0xF000, 0x1710};
  for (int i = 0; i < 8; ++i) values.push_back(values.back() + 10000);
  stamps(stamp_reply(values));
  results().set_report("");
  functional().check_time_stamps();
  EXPECT_EQ(functional().state().stamp_failure, 0);
}

TEST_F(StampCheckTest, ShortRepliesAndForeignCharactersAreJudgedLikeAnyOther) {
  // Past the end digits read 0; a lower-case letter reads -1.
  stamps("#H1000,#H3710,#h5e21");
  results().set_report("");
  functional().check_time_stamps();
  EXPECT_EQ(functional().state().stamp_failure, 1);
  // The third stamp reads ((5 * 16 - 1) * 16 + 2) * 16 + 1 = 0x4F21.
  EXPECT_NE(report().find("Return value: " + std::to_string(0x4F21 - 0x3710) + "\r\n"),
            std::string::npos);
}

TEST_F(StampCheckTest, ThePassComparesItsThreeFramesInOrderBeforeItsStamps) {
  make_memory_unreadable(uut());
  stamps(stamp_reply({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  console().cmdStamp->click();
  const std::string& all = report();
  // The first pass's report: the first, second and third frame's miscompares, then the stamps.
  const std::size_t first = all.find("Miscompare at 2 ");
  const std::size_t second = all.find("Miscompare at 806 ");
  const std::size_t third = all.find("Miscompare at 100A ");
  const std::size_t stamp = all.find("Failure at Stamp's Time");
  ASSERT_NE(first, std::string::npos) << all;
  ASSERT_NE(second, std::string::npos) << all;
  ASSERT_NE(third, std::string::npos) << all;
  ASSERT_NE(stamp, std::string::npos) << all;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_LT(third, stamp);
}

TEST_F(StampCheckTest, StampHeaderHoldsTheIdentityAloneAndAPassCanAddTwoFailures) {
  make_memory_unreadable(uut());
  stamps(stamp_reply({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  console().cmdStamp->click();
  const std::string identity = uut().config().identity + "\n";
  const std::string header = "Quor Bus--Stamp Test\r\nDate 12/7/2026\r\n\r\n" + identity;
  EXPECT_EQ(report().substr(0, header.size()), header);
  // Each pass fails its compares and its stamps: 2, 4, 6, 8, 10, never exactly 5.
  EXPECT_EQ(label(), "Count: 5    Failures: 10");
  EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}));
  const Texts qcu_commands = commands(qcu());
  EXPECT_EQ(slice(qcu_commands, "tim 1000", 1), Texts{"tim 1000"});
  EXPECT_EQ(slice(qcu_commands, "mode trnc", 1), Texts{"mode trnc"});
  // 19 ticks of 500 ms in each pass.
  EXPECT_GE(clock.now_us(), 5U * 9'500'000U);
}

}  // namespace
}  // namespace functional_suite
