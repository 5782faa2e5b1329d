// Cost of one 16-bit register access through the VISA interface on the simulated chassis,
// against a plain loop over a vector of the same size with the same offsets.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "sim/sim_chassis.h"
#include "testing/sim_bench.h"

namespace {

constexpr std::size_t kWords = sim::kMemoryBytes / 2;
// Offsets stride through the whole 2 MiB so that both PING and PONG are touched.
constexpr std::size_t kStrideWords = 97;

struct UutSession : testing_support::SimBench {
  UutSession() {
    chassis.viOpenDefaultRM(&manager);
    chassis.viOpen(manager, "VXI0::8::INSTR", 0, 0, &session);
  }
  ~UutSession() { chassis.viClose(manager); }
  visa::ViSession manager = 0;
  visa::ViSession session = 0;
};

// Hides the chassis' type from the optimizer, so every call goes through the virtual table as
// it does in the station.
visa::VisaLibrary& through_interface(sim::SimChassis& chassis) {
  visa::VisaLibrary* library = &chassis;
  benchmark::DoNotOptimize(library);
  return *library;
}

void BM_ViIn16(benchmark::State& state) {
  UutSession uut;
  visa::VisaLibrary& visa = through_interface(uut.chassis);
  std::size_t word = 0;
  for (auto _ : state) {
    visa::ViUInt16 value = 0;
    benchmark::DoNotOptimize(visa.viIn16(uut.session, visa::VI_A24_SPACE, word * 2, &value));
    benchmark::DoNotOptimize(value);
    word = (word + kStrideWords) % kWords;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  if (uut.chassis.call_count(sim::VisaFunction::In16) == 0) state.SkipWithError("no calls");
}

void BM_ViOut16(benchmark::State& state) {
  UutSession uut;
  visa::VisaLibrary& visa = through_interface(uut.chassis);
  std::size_t word = 0;
  visa::ViUInt16 value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(visa.viOut16(uut.session, visa::VI_A24_SPACE, word * 2, value++));
    benchmark::ClobberMemory();
    word = (word + kStrideWords) % kWords;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_VectorRead(benchmark::State& state) {
  std::vector<std::uint16_t> memory(kWords, 0);
  std::size_t word = 0;
  for (auto _ : state) {
    std::uint16_t value = memory[word];
    benchmark::DoNotOptimize(value);
    word = (word + kStrideWords) % kWords;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_VectorWrite(benchmark::State& state) {
  std::vector<std::uint16_t> memory(kWords, 0);
  std::size_t word = 0;
  std::uint16_t value = 0;
  for (auto _ : state) {
    memory[word] = value++;
    benchmark::ClobberMemory();
    word = (word + kStrideWords) % kWords;
  }
  benchmark::DoNotOptimize(memory.data());
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

}  // namespace

BENCHMARK(BM_ViIn16);
BENCHMARK(BM_ViOut16);
BENCHMARK(BM_VectorRead);
BENCHMARK(BM_VectorWrite);

BENCHMARK_MAIN();
