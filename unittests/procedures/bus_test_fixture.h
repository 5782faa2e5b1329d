// The station over a fresh simulated chassis on virtual time, with both units opened, running the
// bus tests headless: a recording view stands for the console and the results window, and the
// run facts hold what a test leaves behind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "procedures/bus_test_texts.h"
#include "procedures/bus_tests.h"
#include "testing/recording_bus_view.h"
#include "testing/sim_station.h"

namespace procedures_suite {

using core::ProcedureKind;

class BusTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  explicit BusTest(sim::BenchConfig bench = sim::benches::standard())
      : SimStation(
            {.bench = std::move(bench), .in_use = {"simulated chassis for the suite", true}}),
        tests(station, view) {
    open_unit(station.units.uut, "VXI0::8::INSTR");
    open_unit(station.units.qcu, "VXI0::24::INSTR");
  }

  // Opened without a reset, so that every "*RST" a module receives is the tests' own.
  void open_unit(driver::UnitRecord& unit, const char* resource) {
    unit.model_code = driver::kQuorModelCode;
    ASSERT_EQ(station.driver.quor_init(resource, 1, 0, unit.session), visa::VI_SUCCESS);
  }

  // What the console's buttons do.
  void run(core::ProcedureKind test) { tests.run_from_console(test); }
  void stop() { tests.request_stop(); }

  sim::SimModule& uut() { return *chassis.module_at(8); }
  sim::SimModule& qcu() { return *chassis.module_at(24); }
  // The run's report, as its facts hold it.
  const std::string& report() const { return station.run.report; }
  // The console's text line.
  const std::string& label() const { return view.line.text; }

  // Commands a module received, without the status-byte queries of the command core.
  static std::vector<std::string> commands(const sim::SimModule& module) {
    std::vector<std::string> result;
    for (const std::string& command : module.command_log()) {
      if (command != "*STB?") result.push_back(command);
    }
    return result;
  }

  testing_support::RecordingBusView view;
  procedures::BusTests tests;
};

}  // namespace procedures_suite
