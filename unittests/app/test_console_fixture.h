// The whole station over a fresh simulated chassis on virtual time, with both units opened, for
// running the bus tests from the real console.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "procedures/bus_test_texts.h"
#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"

namespace console_suite {

class ConsoleTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  explicit ConsoleTest(sim::BenchConfig bench = sim::benches::standard())
      : SimStation({.bench = std::move(bench),
                    .window_events = testing_support::run_qt_events,
                    .in_use = {"simulated chassis for the suite", true}}) {
    windows = std::make_unique<station::StationWindows>(station, [this] { ++program_ends; });
    open_unit(station.units.uut, "VXI0::8::INSTR");
    open_unit(station.units.qcu, "VXI0::24::INSTR");
    windows->form().mnuTest->trigger();
  }

  // Opened without a reset, so that every "*RST" a module receives is the tests' own.
  void open_unit(driver::UnitRecord& unit, const char* resource) {
    unit.model_code = driver::kQuorModelCode;
    ASSERT_EQ(station.driver.quor_init(resource, 1, 0, unit.session), visa::VI_SUCCESS);
  }

  app::FrmTests& console() { return *windows->test_console().console(); }
  app::FrmResults& results() { return windows->test_console().results(); }
  procedures::BusTests& functional() { return *windows->test_console().bus_tests(); }
  sim::SimModule& uut() { return *chassis.module_at(8); }
  sim::SimModule& qcu() { return *chassis.module_at(24); }
  std::string report() { return results().report_text(); }
  std::string label() { return console().lblText->text().toStdString(); }

  // Commands a module received, without the status-byte queries of the command core.
  static std::vector<std::string> commands(const sim::SimModule& module) {
    std::vector<std::string> result;
    for (const std::string& command : module.command_log()) {
      if (command != "*STB?") result.push_back(command);
    }
    return result;
  }

  std::unique_ptr<station::StationWindows> windows;
  int program_ends = 0;
};

}  // namespace console_suite
