// A driver over a fresh simulated chassis on virtual time, with a scripted operator.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver/quor_driver.h"
#include "sim/sim_module.h"
#include "testing/scripted_operator.h"
#include "testing/sim_bench.h"
#include "testing/virtual_pump.h"

namespace driver_tests {

// Records what the driver showed as the current step.
class RecordingDisplay final : public driver::StepDisplay {
 public:
  void show_step_text(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

// The driver alone, without a station context, over the shared bench.
class DriverTest : public ::testing::Test, protected testing_support::SimBench {
 protected:
  explicit DriverTest(sim::BenchConfig bench = sim::benches::standard())
      : SimBench(std::move(bench)), pump(state, clock), driver(chassis, state, person, pump) {
    driver.set_step_display(&display);
  }

  // Opens a session on the module at `la` straight through the chassis.
  visa::ViSession open_module(int la = 8) {
    if (manager == 0) {
      EXPECT_EQ(chassis.viOpenDefaultRM(&manager), visa::VI_SUCCESS);
    }
    visa::ViSession session = 0;
    const std::string name = "VXI0::" + std::to_string(la) + "::INSTR";
    EXPECT_EQ(chassis.viOpen(manager, name.c_str(), 0, 0, &session), visa::VI_SUCCESS);
    return session;
  }

  sim::SimModule& module(int la = 8) { return *chassis.module_at(static_cast<std::int16_t>(la)); }

  driver::UnitRecord quor_unit(visa::ViSession session) {
    driver::UnitRecord unit;
    unit.session = session;
    unit.model_code = driver::kQuorModelCode;
    return unit;
  }

  driver::DriverState state;
  testing_support::ScriptedOperator person;
  testing_support::VirtualPump pump;
  RecordingDisplay display;
  driver::QuorDriver driver;
  visa::ViSession manager = 0;
};

}  // namespace driver_tests
