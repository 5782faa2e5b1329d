// The virtual-time pump for suites that run real windows: each yield also runs Qt's pending
// events, so clicks posted to the windows are handled where the station yields. It never waits
// for one: the suite's scripted actions end its waits.
#pragma once

#include <QCoreApplication>

#include "testing/virtual_pump.h"

namespace testing_support {

inline void run_qt_events(bool /*wait*/) { QCoreApplication::processEvents(); }

class QtVirtualPump final : public VirtualPump {
 public:
  QtVirtualPump(driver::DriverState& state, sim::VirtualClock& clock)
      : VirtualPump(state, clock, run_qt_events) {}
  explicit QtVirtualPump(sim::VirtualClock& clock) : VirtualPump(clock, run_qt_events) {}
};

}  // namespace testing_support
