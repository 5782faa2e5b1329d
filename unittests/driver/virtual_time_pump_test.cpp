// The one virtual-time pump in the configurations the station and the suites give it: what a
// yield does to the clock and the tick counter, when the window events are asked to wait, and
// where the scripted actions run.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "testing/virtual_pump.h"

namespace driver_tests {
namespace {

struct YieldRow {
  const char* name;
  int shortest_tick_ms;  // 1 for the station, 0 for the suites
  bool timer_running;
  int interval_ms;
  bool wait;  // wait_for_events() rather than process_events()
  std::uint64_t clock_after_us;
  std::int16_t ticks_after;
  bool window_events_waited;
};

std::ostream& operator<<(std::ostream& out, const YieldRow& row) { return out << row.name; }

class VirtualTimePumpYieldTest : public ::testing::TestWithParam<YieldRow> {};

TEST_P(VirtualTimePumpYieldTest, OneYieldTicksOnlyWithTheTimerAndWaitsOnlyWithoutIt) {
  const YieldRow& row = GetParam();
  sim::VirtualClock clock;
  driver::DriverState state;
  std::vector<bool> waits;
  simtime::VirtualTimePump pump(state, clock, [&](bool wait) { waits.push_back(wait); });
  pump.shortest_tick_ms = row.shortest_tick_ms;
  if (row.timer_running) pump.start_tick_timer(row.interval_ms);
  if (row.wait) {
    pump.wait_for_events();
  } else {
    pump.process_events();
  }
  EXPECT_EQ(clock.now_us(), row.clock_after_us);
  EXPECT_EQ(state.tick_counter, row.ticks_after);
  EXPECT_EQ(waits, std::vector<bool>{row.window_events_waited});
  EXPECT_EQ(pump.yields(), 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Yields, VirtualTimePumpYieldTest,
    ::testing::Values(YieldRow{"ProcessWithTimer", 0, true, 10, false, 10'000, 1, false},
                      // The next tick is due at once on virtual time: no waiting.
                      YieldRow{"WaitWithTimer", 0, true, 10, true, 10'000, 1, false},
                      YieldRow{"ProcessWithoutTimer", 1, false, 10, false, 0, 0, false},
                      // Only a window event can end this wait: the station waits for one.
                      YieldRow{"WaitWithoutTimer", 1, false, 10, true, 0, 0, true},
                      YieldRow{"StationZeroIntervalStillMovesTheClock", 1, true, 0, true, 1'000, 1,
                               false},
                      YieldRow{"SuiteZeroIntervalKeepsTheClock", 0, true, 0, true, 0, 1, false}),
    [](const ::testing::TestParamInfo<YieldRow>& row) { return row.param.name; });

TEST(VirtualTimePumpTest, ScriptedActionsRunAfterTheWindowEventsAndATimedOneGoesFirst) {
  sim::VirtualClock clock;
  std::vector<std::string> order;
  testing_support::VirtualPump pump(clock, [&](bool) { order.push_back("events"); });
  pump.then([&] { order.push_back("first queued"); });
  pump.then([&] { order.push_back("second queued"); });
  pump.at_yield(2, [&] { order.push_back("timed"); });
  for (int i = 0; i < 4; ++i) pump.process_events();
  EXPECT_EQ(order, (std::vector<std::string>{"events", "first queued", "events", "timed", "events",
                                             "second queued", "events"}));
}

TEST(VirtualTimePumpDeathTest, TheSuitesPumpStopsAWaitThatNeverEnds) {
  sim::VirtualClock clock;
  testing_support::VirtualPump pump(clock);
  EXPECT_EQ(pump.yield_limit, testing_support::VirtualPump::kSuiteYieldLimit);
  pump.yield_limit = 3;
  EXPECT_DEATH(
      {
        for (int i = 0; i < 4; ++i) pump.wait_for_events();
      },
      "a wait did not end after 3 yields");
  simtime::VirtualTimePump station_like(clock);
  for (int i = 0; i < 1000; ++i) station_like.wait_for_events();
  EXPECT_EQ(station_like.yields(), 1000U) << "without a limit the pump never stops the program";
}

}  // namespace
}  // namespace driver_tests
