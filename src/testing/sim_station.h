// The simulated station the suites, tools and benchmarks stand on: a chassis on a virtual clock,
// a scripted technician, the virtual-time pump and the station context over them, made in that
// order and with the pump counting the station's ticks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/station.h"
#include "testing/scripted_operator.h"
#include "testing/sim_bench.h"
#include "testing/virtual_pump.h"
#include "visa/visa_call_trace.h"

namespace testing_support {

// Makes a layer of the suite's own (a fault or tamper layer) over the library below it.
using MakeLayer = std::function<std::unique_ptr<visa::VisaLibrary>(visa::VisaLibrary& below)>;

// A layer of type `Layer`, made over the library below it.
template <class Layer>
MakeLayer layer() {
  return [](visa::VisaLibrary& below) { return std::make_unique<Layer>(below); };
}

struct SimStationOptions {
  sim::BenchConfig bench = sim::benches::standard();
  // Runs at each yield: run_qt_events (testing/qt_virtual_pump.h) for suites with windows.
  simtime::WindowEvents window_events{};
  core::VisaInUse in_use{};
  // The station calls the chassis through a call trace (`traced`, without a sink until one is
  // set), as the station does.
  bool traced = false;
  // Layers between the station and the chassis (or the call trace): the first is made over it,
  // each next over the one before, and the station calls the last.
  std::vector<MakeLayer> layers{};
};

struct SimStation : SimBench {
  explicit SimStation(SimStationOptions options = {})
      : SimBench(std::move(options.bench)),
        pump(clock, std::move(options.window_events)),
        traced(options.traced ? std::optional<visa::TracingVisa>(std::in_place, chassis)
                              : std::optional<visa::TracingVisa>()),
        layers(make_layers(below_layers(), options.layers)),
        station(layers.empty() ? below_layers() : *layers.back(), person, pump,
                std::move(options.in_use)) {
    pump.count_ticks_in(station.driver_state);
  }

  // Layer `index` of the options' layers, as the type it was made as.
  template <class Layer>
  Layer& layer_at(std::size_t index) {
    return dynamic_cast<Layer&>(*layers.at(index));
  }

  ScriptedOperator person;
  VirtualPump pump;
  std::optional<visa::TracingVisa> traced;
  std::vector<std::unique_ptr<visa::VisaLibrary>> layers;
  core::Station station;

 private:
  visa::VisaLibrary& below_layers() {
    return traced ? static_cast<visa::VisaLibrary&>(*traced) : chassis;
  }
  static std::vector<std::unique_ptr<visa::VisaLibrary>> make_layers(
      visa::VisaLibrary& bottom, const std::vector<MakeLayer>& makers) {
    std::vector<std::unique_ptr<visa::VisaLibrary>> made;
    for (const MakeLayer& make : makers) {
      made.push_back(make(made.empty() ? bottom : *made.back()));
    }
    return made;
  }
};

}  // namespace testing_support
