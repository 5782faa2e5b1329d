#include "sim/bench_config.h"

#include <cstdio>

namespace sim {

std::string simulated_identity(std::int16_t logical_address) {
  char serial[16];
  std::snprintf(serial, sizeof serial, "SIM-LA%03d", static_cast<int>(logical_address));
  return std::string("ARDENVALE,QUOR BUS SIMULATED,") + serial + ",1.00";
}

namespace benches {
namespace {

ModuleConfig quor_module(std::int16_t logical_address, std::int16_t slot) {
  ModuleConfig module;
  module.logical_address = logical_address;
  module.slot = slot;
  return module;
}

// A digitizer of another maker: present in the chassis, never a Quor Bus.
ModuleConfig foreign_module(std::int16_t logical_address, std::int16_t slot) {
  ModuleConfig module;
  module.logical_address = logical_address;
  module.slot = slot;
  module.manufacturer_id = 0xFFB;
  module.model_code = 0x0A21;
  module.identity = "OTHER MAKER,DIGITIZER 4,0,2.10";
  return module;
}

}  // namespace

std::vector<Cable> standard_cables(std::int16_t uut, std::int16_t qcu) {
  return {Cable{qcu, Route::Out1, uut, Route::Unpr}, Cable{uut, Route::Out1, qcu, Route::Unpr},
          Cable{uut, Route::Out2, uut, Route::Unpr}, Cable{uut, Route::Out3, uut, Route::Prot}};
}

BenchConfig standard() {
  BenchConfig bench;
  bench.modules = {quor_module(8, 2), quor_module(24, 3), foreign_module(40, 4)};
  bench.cables = standard_cables();
  return bench;
}

BenchConfig two_quor() {
  BenchConfig bench;
  bench.modules = {quor_module(8, 2), quor_module(24, 3)};
  bench.cables = standard_cables();
  return bench;
}

BenchConfig gpib_vxi() {
  BenchConfig bench = standard();
  bench.resource_prefix = "GPIB-VXI";
  return bench;
}

BenchConfig empty() { return BenchConfig{}; }

BenchConfig other_models_only() {
  BenchConfig bench;
  bench.modules = {foreign_module(40, 4), foreign_module(48, 5)};
  return bench;
}

}  // namespace benches
}  // namespace sim
