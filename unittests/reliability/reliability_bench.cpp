#include "reliability_bench.h"

namespace reliability {

namespace {

// Made here, not in the constructor's initializer: GCC 12 then takes the options' temporary for
// uninitialized on the path where the references after it throw (-Wmaybe-uninitialized).
testing_support::SimStationOptions bench_options() {
  return {
      .window_events = testing_support::run_qt_events,
      .in_use = {"simulated chassis for the suite", true},
      .layers = {testing_support::layer<HostileReplies>(), testing_support::layer<FailAtCall>()}};
}

}  // namespace

Bench::Bench()
    : SimStation(bench_options()),
      replies(layer_at<HostileReplies>(0)),
      library(layer_at<FailAtCall>(1)) {
  // A wait that does not end fails the run instead of hanging the suite.
  pump.yield_limit = 200'000;
  windows = std::make_unique<station::StationWindows>(station, [this] { ++program_ends; });
  windows->form().mnuTest->trigger();
}

Bench::~Bench() = default;

void Bench::open_units() {
  driver::UnitRecord& uut = station.units.uut;
  driver::UnitRecord& qcu = station.units.qcu;
  uut.model_code = driver::kQuorModelCode;
  qcu.model_code = driver::kQuorModelCode;
  station.driver.quor_init("VXI0::8::INSTR", 1, 0, uut.session);
  station.driver.quor_init("VXI0::24::INSTR", 1, 0, qcu.session);
}

void Bench::complete_calibration_after(int passes) {
  pump.then([this, passes] {
    const auto sent = std::count_if(library.written.begin(), library.written.end(),
                                    [](const std::string& w) { return w.rfind("CAL 0", 0) == 0; });
    if (sent >= passes) {
      windows->form().CalGood->click();
    } else {
      complete_calibration_after(passes);
    }
  });
}

void Bench::shut_down() { windows->form().close(); }

}  // namespace reliability
