// The suites' virtual-time event pump: the one pump (simtime/virtual_time_pump.h) with a yield
// limit, so that a wait that never ends fails the suite instead of hanging it.
#pragma once

#include <utility>

#include "simtime/virtual_time_pump.h"

namespace testing_support {

class VirtualPump : public simtime::VirtualTimePump {
 public:
  static constexpr std::uint64_t kSuiteYieldLimit = 10'000'000;

  VirtualPump(driver::DriverState& state, sim::VirtualClock& clock,
              simtime::WindowEvents window_events = {})
      : VirtualTimePump(state, clock, std::move(window_events)) {
    yield_limit = kSuiteYieldLimit;
  }
  explicit VirtualPump(sim::VirtualClock& clock, simtime::WindowEvents window_events = {})
      : VirtualTimePump(clock, std::move(window_events)) {
    yield_limit = kSuiteYieldLimit;
  }
};

}  // namespace testing_support
