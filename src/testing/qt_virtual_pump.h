// The virtual-time pump for suites that run real windows: each yield also runs Qt's pending
// events, so clicks posted to the windows are handled where the station yields.
#pragma once

#include <QCoreApplication>

#include "testing/virtual_pump.h"

namespace testing_support {

class QtVirtualPump final : public VirtualPump {
 public:
  using VirtualPump::VirtualPump;

 protected:
  void run_window_events() override { QCoreApplication::processEvents(); }
};

}  // namespace testing_support
