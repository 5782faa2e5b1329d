// The chassis keeps bounded histories: a ring of the most recent commands and time-outs, and
// counters for everything that came before, so that a long run keeps its memory.
#include <string>
#include <vector>

#include "sim/recent_history.h"
#include "sim_test_support.h"

namespace sim {
namespace {

using namespace visa;
using testing::TestBench;

struct RingRow {
  int pushes;
  std::vector<int> kept;  // oldest first
};

class RecentHistoryRows : public ::testing::TestWithParam<RingRow> {};

TEST_P(RecentHistoryRows, KeepsTheNewestInArrivalOrderAndCountsAll) {
  RecentHistory<int, 3> history;
  for (int i = 1; i <= GetParam().pushes; ++i) history.push_back(i);
  const std::vector<int>& kept = GetParam().kept;
  EXPECT_TRUE(history == kept);
  EXPECT_EQ(std::vector<int>(history.begin(), history.end()), kept);
  EXPECT_EQ(history.size(), kept.size());
  EXPECT_EQ(history.total(), static_cast<std::uint64_t>(GetParam().pushes));
  EXPECT_EQ(history.dropped(), GetParam().pushes - kept.size());
  if (kept.empty()) {
    EXPECT_TRUE(history.empty());
    EXPECT_EQ(history.begin(), history.end());
    return;
  }
  EXPECT_EQ(history.front(), kept.front());
  EXPECT_EQ(history.back(), kept.back());
  // Random access from the oldest kept entry, as the suites slice a history.
  EXPECT_EQ(*(history.begin() + static_cast<std::ptrdiff_t>(kept.size() - 1)), kept.back());
  EXPECT_EQ(history.end() - history.begin(), static_cast<std::ptrdiff_t>(kept.size()));
  EXPECT_EQ(std::vector<int>(history.begin() + 1, history.end()),
            std::vector<int>(kept.begin() + 1, kept.end()));
}

INSTANTIATE_TEST_SUITE_P(Pushes, RecentHistoryRows,
                         ::testing::Values(RingRow{0, {}}, RingRow{2, {1, 2}},
                                           RingRow{3, {1, 2, 3}}, RingRow{4, {2, 3, 4}},
                                           RingRow{6, {4, 5, 6}}, RingRow{8, {6, 7, 8}}));

TEST(RecentHistory, ClearForgetsTheEntriesAndTheCount) {
  RecentHistory<std::string, 2> history;
  for (const char* text : {"a", "b", "c"}) history.push_back(text);
  history.clear();
  EXPECT_TRUE(history.empty());
  EXPECT_EQ(history.total(), 0U);
  history.push_back("d");
  EXPECT_TRUE(history == std::vector<std::string>{"d"});
}

class LongRun : public ::testing::Test {
 protected:
  LongRun() {
    rm = bench.manager();
    uut = bench.open(rm, "VXI0::8::INSTR");
    qcu = bench.open(rm, "VXI0::24::INSTR");
  }
  void send(ViSession session, const std::string& command) {
    ASSERT_EQ(bench.write(session, command), VI_SUCCESS);
  }
  static std::string timer(std::size_t n) { return "tim " + std::to_string(n); }

  TestBench bench;
  ViSession rm = 0;
  ViSession uut = 0;
  ViSession qcu = 0;
};

TEST_F(LongRun, ModuleKeepsItsNewestCommandsAndCountsEveryOne) {
  const std::size_t sent = SimModule::kCommandHistoryLength + 3;
  send(uut, "*RST");
  for (std::size_t i = 0; i < sent; ++i) send(uut, timer(i));
  const SimModule& module = *bench.chassis.module_at(8);
  const auto& log = module.command_log();
  ASSERT_EQ(log.size(), SimModule::kCommandHistoryLength);
  EXPECT_EQ(log.front(), timer(3)) << "the reset and the three oldest timers are no longer kept";
  EXPECT_EQ(log[1], timer(4));
  EXPECT_EQ(log.back(), timer(sent - 1));
  EXPECT_EQ(module.commands_received(), sent + 1);
  EXPECT_EQ(module.command_count("*RST"), 0U) << "counted among the kept commands only";
  EXPECT_EQ(module.command_count(timer(4)), 1U);
  EXPECT_EQ(module.reset_count(), 1U) << "the counters cover the whole run";
  EXPECT_EQ(module.timer_interval(), sent - 1) << "the module itself forgets nothing it needs";
}

TEST_F(LongRun, ChassisKeepsItsNewestCommandsAcrossModules) {
  const std::size_t sent = kChassisCommandHistoryLength + 2;
  for (std::size_t i = 0; i < sent; ++i) send(i % 2 == 0 ? uut : qcu, timer(i));
  const auto& log = bench.chassis.command_log();
  ASSERT_EQ(log.size(), kChassisCommandHistoryLength);
  EXPECT_EQ(log.total(), sent);
  EXPECT_EQ(log.front().text, timer(2));
  EXPECT_EQ(log.front().logical_address, 8);
  EXPECT_EQ(log.back().text, timer(sent - 1));
  EXPECT_EQ(log.back().logical_address, 24);
}

TEST_F(LongRun, ModuleKeepsItsNewestTimeoutSettings) {
  const std::size_t set = SimModule::kTimeoutHistoryLength + 1;
  for (std::size_t i = 1; i <= set; ++i) {
    ASSERT_EQ(bench.visa().viSetAttribute(uut, VI_ATTR_TMO_VALUE, 1000 + i), VI_SUCCESS);
  }
  const auto& settings = bench.chassis.module_at(8)->timeout_settings();
  ASSERT_EQ(settings.size(), SimModule::kTimeoutHistoryLength);
  EXPECT_EQ(settings.front(), 1002U);
  EXPECT_EQ(settings.back(), 1000U + set);
  EXPECT_EQ(bench.chassis.session_timeout_ms(uut), 1000U + set);
}

}  // namespace
}  // namespace sim
