// How a compare reports what it reads back, and what the Stamp test sends and judges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "bus_test_fixture.h"

namespace procedures_suite {
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

class MiscompareReportTest : public BusTest {};

TEST_F(MiscompareReportTest, RecReportsElevenMiscomparesForEachEmptyBuffer) {
  make_memory_unreadable(uut());
  pump.at_yield(4, [this] { stop(); });  // one pass is enough
  run(core::ProcedureKind::rec);
  EXPECT_NE(report().find("Miscompare at 2 Expected 4 Got FFFF\r\n"), std::string::npos);
  EXPECT_NE(report().find("Miscompare at 100002 Expected 3 Got FFFF\r\n"), std::string::npos);
  EXPECT_EQ(lines_starting(report(), "Miscompare at "), 22U);
  EXPECT_NE(report().find("Got FFFF\r\n\r\nMiscompare at 100002"), std::string::npos);
}

class StampCheckTest : public BusTest {
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
  tests.check_time_stamps();
  EXPECT_EQ(tests.state().stamp_failure, 0);
  EXPECT_EQ(report(), "");
  EXPECT_EQ(stamp_reply({0x1000, 0x3710, 0x5E21}).substr(0, 20), "#H1000,#H3710,#H5E21");
}

TEST_F(StampCheckTest, AnIntervalOutsideTheWindowIsReportedWithItsValue) {
  // Interval 5 too long, interval 6 too short, the others right.
  const unsigned intervals[] = {10000, 10002, 10001, 10000, 10003, 9999, 10000, 10001, 10002};
  std::vector<unsigned> values{0x1000};
  for (unsigned interval : intervals) values.push_back(values.back() + interval);
  stamps(stamp_reply(values));
  tests.check_time_stamps();
  EXPECT_EQ(tests.state().stamp_failure, 1);
  const std::string line =
      "Failure at Stamp's Time\r\n Here is the failed calculated Time Delta Value that should be "
      "between 10000 and 10002 from Stamp's Return value: ";
  EXPECT_EQ(report(), line + "10003\r\n" + line + "9999\r\n");
}

TEST_F(StampCheckTest, TheCounterWrapsAt16Bits) {
  std::vector<unsigned> values{0xF000, 0x1710};
  for (int i = 0; i < 8; ++i) values.push_back(values.back() + 10000);
  stamps(stamp_reply(values));
  tests.check_time_stamps();
  EXPECT_EQ(tests.state().stamp_failure, 0);
}

TEST_F(StampCheckTest, ShortRepliesAndForeignCharactersAreJudgedLikeAnyOther) {
  // Past the end digits read 0; a lower-case letter reads -1.
  stamps("#H1000,#H3710,#h5e21");
  tests.check_time_stamps();
  EXPECT_EQ(tests.state().stamp_failure, 1);
  // The third stamp reads ((5 * 16 - 1) * 16 + 2) * 16 + 1 = 0x4F21.
  EXPECT_NE(report().find("Return value: " + std::to_string(0x4F21 - 0x3710) + "\r\n"),
            std::string::npos);
}

TEST_F(StampCheckTest, ThePassComparesItsThreeFramesInOrderBeforeItsStamps) {
  make_memory_unreadable(uut());
  stamps(stamp_reply({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  run(core::ProcedureKind::stamp);
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
  run(core::ProcedureKind::stamp);
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
}  // namespace procedures_suite
