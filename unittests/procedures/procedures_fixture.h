// A station over a fresh simulated chassis on virtual time, with a scripted operator and the
// scripted views in place of the windows.
#pragma once

#include <gtest/gtest.h>

#include "sim/sim_module.h"
#include "testing/scripted_views.h"
#include "testing/sim_station.h"

namespace procedures_tests {

class ViewsTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  explicit ViewsTest(sim::BenchConfig bench = sim::benches::standard())
      : SimStation({.bench = std::move(bench)}) {
    // A wait that is never ended fails the test instead of hanging the suite.
    pump.yield_limit = 2'000;
    station.driver.set_step_display(&view);
    // As the main window starts the driver.
    station.driver.set_error_options(4);
  }
  ~ViewsTest() override { station.driver.set_step_display(nullptr); }

  sim::SimModule& module(int la) { return *chassis.module_at(static_cast<std::int16_t>(la)); }

  testing_support::ScriptedMainView view;
};

}  // namespace procedures_tests
