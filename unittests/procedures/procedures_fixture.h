// A station over a fresh simulated chassis on virtual time, with a scripted operator and the
// scripted views in place of the windows.
#pragma once

#include <gtest/gtest.h>

#include "core/station.h"
#include "sim/sim_chassis.h"
#include "sim/sim_module.h"
#include "testing/scripted_operator.h"
#include "testing/scripted_views.h"
#include "testing/virtual_pump.h"

namespace procedures_tests {

class ViewsTest : public ::testing::Test {
 protected:
  explicit ViewsTest(sim::BenchConfig bench = sim::benches::standard())
      : chassis(std::move(bench), clock), pump(clock), station(chassis, person, pump) {
    pump.count_ticks_in(station.driver_state);
    // A wait that is never ended fails the test instead of hanging the suite.
    pump.yield_limit = 2'000;
    station.driver.set_step_display(&view);
    // As the main window starts the driver.
    station.driver.set_error_options(4);
  }
  ~ViewsTest() override { station.driver.set_step_display(nullptr); }

  sim::SimModule& module(int la) { return *chassis.module_at(static_cast<std::int16_t>(la)); }

  sim::VirtualClock clock;
  sim::SimChassis chassis;
  testing_support::ScriptedOperator person;
  testing_support::VirtualPump pump;
  core::Station station;
  testing_support::ScriptedMainView view;
};

}  // namespace procedures_tests
