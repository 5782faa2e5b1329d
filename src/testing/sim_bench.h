// A simulated chassis on a virtual clock: what every simulated station stands on, and all that
// the suites of the chassis and the call trace need.
#pragma once

#include <utility>

#include "sim/sim_chassis.h"

namespace testing_support {

struct SimBench {
  explicit SimBench(sim::BenchConfig config = sim::benches::standard())
      : chassis(std::move(config), clock) {}
  SimBench(const SimBench&) = delete;
  SimBench& operator=(const SimBench&) = delete;

  sim::VirtualClock clock;
  sim::SimChassis chassis;
};

}  // namespace testing_support
