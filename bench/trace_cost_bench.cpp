// What the VISA call trace costs a register loop: a SELFLONG-like fill and compare of 1026 words
// through the driver's BufferMemory on the simulated chassis, through the trace without a sink
// (tracing off), with the trace window's ring, and with a trace file; and the same for a whole
// SELFLONG test run from the console on virtual time. The trace may cost at most 10% of the
// loop's time when on, and nothing when off (against the chassis called direct).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/trace_ring.h"
#include "driver/buffer_memory.h"
#include "sim/sim_chassis.h"
#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/scripted_operator.h"
#include "visa/visa_call_trace.h"
#include "visa/visa_trace_file.h"

namespace {

constexpr std::uint32_t kFrameWords = 1026;

struct NoReport final : driver::ReportSink {
  void append_report(const std::string&) override {}
};

enum class Trace { Direct, Off, Ring, File };

void BM_FillCompare(benchmark::State& state) {
  const auto trace = static_cast<Trace>(state.range(0));
  sim::VirtualClock clock;
  sim::SimChassis chassis(sim::benches::standard(), clock);
  app::TraceRing ring;
  std::string error;
  const std::string path =
      (std::filesystem::temp_directory_path() / "quor_trace_cost_bench.txt").string();
  std::unique_ptr<visa::TraceFileSink> file;
  visa::TracingVisa traced(chassis);
  if (trace == Trace::Ring) traced.set_sink(&ring);
  if (trace == Trace::File) {
    file = visa::TraceFileSink::open(path, visa::library_status_describer(chassis), error);
    if (!file) {
      state.SkipWithError(error.c_str());
      return;
    }
    traced.set_sink(file.get());
  }
  visa::VisaLibrary* library = trace == Trace::Direct ? static_cast<visa::VisaLibrary*>(&chassis)
                                                      : static_cast<visa::VisaLibrary*>(&traced);
  benchmark::DoNotOptimize(library);
  driver::DriverState driver_state;
  driver::BufferMemory memory(*library, driver_state);
  visa::ViSession manager = 0;
  visa::ViSession session = 0;
  library->viOpenDefaultRM(&manager);
  library->viOpen(manager, "VXI0::8::INSTR", 0, 0, &session);
  NoReport report;
  std::int64_t misses = 0;
  for (auto _ : state) {
    memory.fill_pattern(session, 0, visa::VI_A24_SPACE, 1, 1, kFrameWords);
    misses += memory.compare_pattern(session, 0, visa::VI_A24_SPACE, 1, 1, kFrameWords,
                                     driver::BufferMemory::CompareKind::LowByte, report);
    // The message-based call of each pass, which ends the runs and flushes a trace file.
    visa::ViAttrState space = 0;
    library->viGetAttribute(session, visa::VI_ATTR_MEM_SPACE, &space);
  }
  library->viClose(manager);
  traced.set_sink(nullptr);
  file.reset();
  std::filesystem::remove(path);
  if (misses != 0) state.SkipWithError("the compare found miscompares");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * kFrameWords);
}

BENCHMARK(BM_FillCompare)
    ->ArgName("direct0_off1_ring2_file3")
    ->Arg(static_cast<int>(Trace::Direct))
    ->Arg(static_cast<int>(Trace::Off))
    ->Arg(static_cast<int>(Trace::Ring))
    ->Arg(static_cast<int>(Trace::File));

// One SELFLONG test (5 passes) from the console, on a fresh station each time.
void BM_SelfLongTest(benchmark::State& state) {
  const auto trace = static_cast<Trace>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    sim::VirtualClock clock;
    sim::SimChassis chassis(sim::benches::standard(), clock);
    app::TraceRing ring;
    std::string error;
    const std::string path =
        (std::filesystem::temp_directory_path() / "quor_trace_cost_selflong.txt").string();
    std::unique_ptr<visa::TraceFileSink> file;
    visa::TracingVisa traced(chassis);
    if (trace == Trace::Ring) traced.set_sink(&ring);
    if (trace == Trace::File) {
      file = visa::TraceFileSink::open(path, visa::library_status_describer(chassis), error);
      traced.set_sink(file.get());
    }
    visa::VisaLibrary& library =
        trace == Trace::Direct ? static_cast<visa::VisaLibrary&>(chassis) : traced;
    testing_support::ScriptedOperator person;
    testing_support::QtVirtualPump pump(clock);
    core::Station station(library, person, pump, core::VisaInUse{"bench", true});
    pump.count_ticks_in(station.driver_state);
    auto windows = std::make_unique<station::StationWindows>(station, [] {});
    for (auto [unit, resource] : {std::pair{&station.units.uut, "VXI0::8::INSTR"},
                                  std::pair{&station.units.qcu, "VXI0::24::INSTR"}}) {
      unit->model_code = driver::kQuorModelCode;
      station.driver.quor_init(resource, 1, 0, unit->session);
    }
    windows->form().mnuTest->trigger();
    functional::FrmTests& console = *windows->test_console().console();
    state.ResumeTiming();
    console.cmdSelfLong->click();
    state.PauseTiming();
    if (console.lblText->text() != "Count: 5    Failures: 0")
      state.SkipWithError("SELFLONG failed");
    windows.reset();
    traced.set_sink(nullptr);
    file.reset();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
}

BENCHMARK(BM_SelfLongTest)
    ->ArgName("direct0_off1_ring2_file3")
    ->Arg(static_cast<int>(Trace::Direct))
    ->Arg(static_cast<int>(Trace::Off))
    ->Arg(static_cast<int>(Trace::Ring))
    ->Arg(static_cast<int>(Trace::File))
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
