// What the VISA call trace costs a register loop: a SELFLONG-like fill and compare of 1026 words
// through the driver's BufferMemory on the simulated chassis, and a whole SELFLONG test run from
// the console on virtual time, each
//   - with the chassis called direct (the baseline),
//   - through a bare forwarding library (what any layer between driver and library costs),
//   - through the trace without a sink (tracing off),
//   - with the trace window's ring, with a trace file, and with both.
// The trace may cost at most 10% of the loop's time when on, and nothing when off. After the
// usual table the program prints each variant's cost against the baseline (the fastest of the
// repetitions, on CPU time: run it with --benchmark_repetitions=10 or so on a quiet machine).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/trace_ring.h"
#include "driver/buffer_memory.h"
#include "sim/sim_chassis.h"
#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/scripted_operator.h"
#include "testing/sim_bench.h"
#include "visa/visa_call_trace.h"
#include "visa/visa_trace_file.h"

namespace {

constexpr std::uint32_t kFrameWords = 1026;

struct NoReport final : driver::ReportSink {
  void append_report(const std::string&) override {}
};

enum class Trace { Direct, Forward, Off, Empty, Ring, File, Both, Count_ };

constexpr const char* kTraceNames[] = {"chassis direct (baseline)", "bare forwarding layer",
                                       "trace, no sink (off)",      "trace -> sink keeping none",
                                       "trace -> window ring",      "trace -> trace file",
                                       "trace -> ring and file"};

// A sink that takes runs and keeps nothing: what the trace itself costs, without a sink's work.
struct EmptySink final : visa::VisaCallSink {
  void record(const visa::VisaCall& call) override { benchmark::DoNotOptimize(&call); }
  bool takes_register_runs() const override { return true; }
};

// The library the driver calls for one variant, and the sinks behind it, as the station
// composes them (TraceSinks: one sink fed directly, two through the fan-out).
class TracedBench {
 public:
  TracedBench(Trace trace, sim::SimChassis& chassis, const std::string& path)
      : trace_(trace), forward_(chassis), traced_(chassis), sinks_(traced_), path_(path) {
    if (trace == Trace::File || trace == Trace::Both) {
      file_ = visa::TraceFileSink::open(path, visa::library_status_describer(chassis), error_);
      if (file_) sinks_.add(file_.get());
    }
    if (trace == Trace::Ring || trace == Trace::Both) sinks_.add(&ring_);
    if (trace == Trace::Empty) sinks_.add(&empty_);
    library_ = trace == Trace::Direct    ? static_cast<visa::VisaLibrary*>(&chassis)
               : trace == Trace::Forward ? static_cast<visa::VisaLibrary*>(&forward_)
                                         : static_cast<visa::VisaLibrary*>(&traced_);
  }
  ~TracedBench() {
    sinks_.remove(&ring_);
    sinks_.remove(&empty_);
    if (file_) sinks_.remove(file_.get());
    file_.reset();
    if (trace_ == Trace::File || trace_ == Trace::Both) std::filesystem::remove(path_);
  }
  visa::VisaLibrary& library() { return *library_; }
  // Why the trace file could not be opened, or empty.
  const std::string& error() const { return error_; }

 private:
  Trace trace_;
  visa::ForwardingVisa forward_;
  visa::TracingVisa traced_;
  visa::TraceSinks sinks_;
  app::TraceRing ring_;
  EmptySink empty_;
  std::unique_ptr<visa::TraceFileSink> file_;
  std::string path_;
  std::string error_;
  visa::VisaLibrary* library_ = nullptr;
};

void BM_FillCompare(benchmark::State& state) {
  const auto trace = static_cast<Trace>(state.range(0));
  testing_support::SimBench simulated;
  TracedBench bench(
      trace, simulated.chassis,
      (std::filesystem::temp_directory_path() / "quor_trace_cost_bench.txt").string());
  if (!bench.error().empty()) {
    state.SkipWithError(bench.error().c_str());
    return;
  }
  visa::VisaLibrary* library = &bench.library();
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
  if (misses != 0) state.SkipWithError("the compare found miscompares");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * kFrameWords);
}

BENCHMARK(BM_FillCompare)->ArgName("variant")->DenseRange(0, static_cast<int>(Trace::Count_) - 1);

// One SELFLONG test (5 passes) from the console, on a fresh station each time.
void BM_SelfLongTest(benchmark::State& state) {
  const auto trace = static_cast<Trace>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    // The station calls the chassis through the variant's trace, so it is put together here.
    testing_support::SimBench simulated;
    TracedBench bench(
        trace, simulated.chassis,
        (std::filesystem::temp_directory_path() / "quor_trace_cost_selflong.txt").string());
    visa::VisaLibrary& library = bench.library();
    testing_support::ScriptedOperator person;
    testing_support::QtVirtualPump pump(simulated.clock);
    core::Station station(library, person, pump, core::VisaInUse{"bench", true});
    pump.count_ticks_in(station.driver_state);
    auto windows = std::make_unique<station::StationWindows>(station, [] {});
    for (auto [unit, resource] : {std::pair{&station.units.uut, "VXI0::8::INSTR"},
                                  std::pair{&station.units.qcu, "VXI0::24::INSTR"}}) {
      unit->model_code = driver::kQuorModelCode;
      station.driver.quor_init(resource, 1, 0, unit->session);
    }
    windows->form().mnuTest->trigger();
    app::FrmTests& console = *windows->test_console().console();
    state.ResumeTiming();
    console.cmdSelfLong->click();
    state.PauseTiming();
    if (console.lblText->text() != "Count: 5    Failures: 0")
      state.SkipWithError("SELFLONG failed");
    windows.reset();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_SelfLongTest)
    ->ArgName("variant")
    ->DenseRange(0, static_cast<int>(Trace::Count_) - 1)
    ->Unit(benchmark::kMillisecond);

// The usual console table, and then each variant's cost against the baseline: the fastest
// repetition of each, on CPU time (the least disturbed by other work on the machine).
class CostReporter final : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      const std::string name = run.run_name.function_name;
      const std::string& args = run.run_name.args;
      const int variant = std::atoi(args.substr(args.find(':') + 1).c_str());
      const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      auto [it, added] = fastest_[name].try_emplace(variant, seconds);
      if (!added) it->second = std::min(it->second, seconds);
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [name, variants] : fastest_) {
      const auto baseline = variants.find(static_cast<int>(Trace::Direct));
      if (baseline == variants.end()) continue;
      std::printf("\n%s, fastest repetition, CPU time per pass:\n", name.c_str());
      for (const auto& [variant, seconds] : variants) {
        if (variant < 0 || variant >= static_cast<int>(Trace::Count_)) continue;
        std::printf("  %-28s %12.1f us  %+7.1f %%\n", kTraceNames[variant], seconds * 1e6,
                    (seconds / baseline->second - 1.0) * 100.0);
      }
    }
  }

 private:
  std::map<std::string, std::map<int, double>> fastest_;
};

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CostReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
