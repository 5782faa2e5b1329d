// Tick waits inside tick waits, and the end of every wait at shut-down.
#include <gtest/gtest.h>

#include <ostream>

#include "driver_fixture.h"

namespace driver_tests {
namespace {

struct NestedWait {
  const char* name;
  std::int16_t outer_ticks;
  int outer_interval_ms;
  std::uint64_t inner_at_yield;  // the outer wait's yield that runs the inner wait
  std::int16_t inner_ticks;
  int inner_interval_ms;
  std::uint64_t outer_end_ms;  // when the outer wait must return
};

std::ostream& operator<<(std::ostream& out, const NestedWait& row) { return out << row.name; }

class NestedWaitTest : public DriverTest, public ::testing::WithParamInterface<NestedWait> {};

TEST_P(NestedWaitTest, TheInnerWaitNeitherShortensNorLengthensTheOuterOne) {
  const NestedWait& row = GetParam();
  std::uint64_t inner_start_us = 0;
  std::uint64_t inner_end_us = 0;
  pump.at_yield(row.inner_at_yield, [&] {
    inner_start_us = clock.now_us();
    driver.delay_ticks(row.inner_ticks, row.inner_interval_ms);
    inner_end_us = clock.now_us();
  });
  driver.delay_ticks(row.outer_ticks, row.outer_interval_ms);

  EXPECT_EQ(inner_end_us - inner_start_us,
            static_cast<std::uint64_t>(row.inner_ticks) * row.inner_interval_ms * 1000U);
  EXPECT_EQ(clock.now_us(), row.outer_end_ms * 1000U);
  EXPECT_FALSE(pump.tick_timer_running());
  EXPECT_TRUE(state.tick_wait_intervals.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Waits, NestedWaitTest,
    ::testing::Values(
        // Stamp's wait with a failed step's display wait inside it.
        NestedWait{"StepDisplayInsideStampWait", 19, 500, 3, 50, 1, 9500},
        NestedWait{"SameIntervalInside", 4, 100, 1, 2, 100, 400},
        // The inner wait ends between two of the outer wait's ticks: a part tick ends it.
        NestedWait{"InnerEndsBetweenOuterTicks", 5, 10, 2, 1, 25, 50},
        // The inner wait runs past the outer wait's end: the outer one returns with it.
        NestedWait{"InnerOutlastsOuter", 10, 100, 2, 3, 1000, 3200},
        NestedWait{"InnerEndsOnOuterDeadline", 4, 250, 1, 3, 250, 1000}),
    [](const ::testing::TestParamInfo<NestedWait>& row) { return row.param.name; });

TEST_F(DriverTest, TheTimerReturnsToTheOuterIntervalWhenTheInnerWaitEnds) {
  int interval_inside = 0;
  int interval_after = 0;
  bool running_after = false;
  pump.at_yield(2, [&] {
    driver.delay_ticks(3, 7);
    interval_inside = pump.timer_interval_ms();
  });
  pump.at_yield(7, [&] {
    interval_after = pump.timer_interval_ms();
    running_after = pump.tick_timer_running();
  });
  driver.delay_ticks(10, 100);
  EXPECT_EQ(interval_inside, 100);
  EXPECT_EQ(interval_after, 100);
  EXPECT_TRUE(running_after);
  EXPECT_EQ(clock.now_us(), 1'000'000U);
}

TEST_F(DriverTest, WaitsInsideWaitsKeepTheirEndsAtEveryDepth) {
  std::uint64_t middle_end_us = 0;
  pump.at_yield(1, [&] {
    pump.at_yield(3, [&] { driver.delay_ticks(5, 1); });
    driver.delay_ticks(4, 20);
    middle_end_us = clock.now_us();
  });
  driver.delay_ticks(2, 500);
  // Middle: 500 + 2 x 20 + 5 x 1 + 2 x 20 - 5 (a part tick) = 580 ms.
  EXPECT_EQ(middle_end_us, 580'000U);
  EXPECT_EQ(clock.now_us(), 1'000'000U);
}

TEST_F(DriverTest, EndingTheWaitsReturnsEveryWaitAtOnceAndLeavesTheTimerStopped) {
  std::uint64_t inner_end_us = 0;
  pump.at_yield(2, [&] {
    pump.at_yield(4, [&] { driver.end_waits(); });
    driver.delay_ticks(50, 1);
    inner_end_us = clock.now_us();
  });
  driver.delay_ticks(8, 1000);
  EXPECT_EQ(inner_end_us, 2'002'000U);
  EXPECT_EQ(clock.now_us(), 2'002'000U);
  EXPECT_FALSE(pump.tick_timer_running());
  // A wait after the shut-down does not wait at all.
  const std::uint64_t yields = pump.yields();
  driver.delay_ticks(19, 500);
  EXPECT_EQ(pump.yields(), yields);
  EXPECT_FALSE(pump.tick_timer_running());
}

}  // namespace
}  // namespace driver_tests
