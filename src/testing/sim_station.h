// The simulated station the suites, tools and benchmarks stand on: a chassis on a virtual clock,
// a scripted technician, the virtual-time pump and the station context over them, made in that
// order and with the pump counting the station's ticks.
#pragma once

#include <optional>
#include <utility>

#include "core/station.h"
#include "testing/scripted_operator.h"
#include "testing/sim_bench.h"
#include "testing/virtual_pump.h"
#include "visa/visa_call_trace.h"

namespace testing_support {

struct SimStationOptions {
  sim::BenchConfig bench = sim::benches::standard();
  // Runs at each yield: run_qt_events (testing/qt_virtual_pump.h) for suites with windows.
  simtime::WindowEvents window_events{};
  core::VisaInUse in_use{};
  // The station calls the chassis through a call trace (`traced`, without a sink until one is
  // set), as the station does.
  bool traced = false;
};

struct SimStation : SimBench {
  explicit SimStation(SimStationOptions options = {})
      : SimBench(std::move(options.bench)),
        pump(clock, std::move(options.window_events)),
        traced(options.traced ? std::optional<visa::TracingVisa>(std::in_place, chassis)
                              : std::optional<visa::TracingVisa>()),
        station(traced ? static_cast<visa::VisaLibrary&>(*traced) : chassis, person, pump,
                std::move(options.in_use)) {
    pump.count_ticks_in(station.driver_state);
  }

  ScriptedOperator person;
  VirtualPump pump;
  std::optional<visa::TracingVisa> traced;
  core::Station station;
};

}  // namespace testing_support
