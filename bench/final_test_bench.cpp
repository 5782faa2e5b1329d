// The final test's figures:
//  1. the default sequence headless (--final-test --simulate --virtual-time --yes), as the
//     command runs it with its record file, wall time per unit;
//  2. the runner's own time a step: from the end of one step's procedure to the start of the
//     next one's, plus what it does after a procedure ends (the step's facts, its finding, the
//     view told), on a healthy unit and on one that fails every bus test (the longest reports).
//
//   final_test_bench [units]
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "procedures/final_test.h"
#include "procedures/production_tests.h"
#include "sim/fault_catalogue.h"
#include "station/final_test_command.h"
#include "testing/scripted_views.h"
#include "testing/sim_station.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr double kUnitGoalMs = 3000.0;
constexpr double kStepGoalMs = 20.0;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Marks the moments the runner's time lies between: a step reported running or ended (the
// view), a procedure started or ended (the station).
class Marks final : public procedures::FinalTestView, public core::ProcedureObserver {
 public:
  bool accept_serial_mismatch(const std::string&, const std::string&) override { return true; }
  bool confirm_cabling(const std::string&) override { return true; }
  void step_changed(std::size_t, const procedures::StepResult& step) override {
    if (step.state != procedures::StepState::running) {
      own += Ms(Clock::now() - procedure_ended).count();
      last_step_end = Clock::now();
    }
  }
  void step_progress(std::size_t, double, double) override {}
  void time_left(std::optional<std::chrono::milliseconds>) override {}
  void started(const core::Procedure& procedure) override {
    if (!is_initialization(procedure.kind)) {
      own += Ms(Clock::now() - last_step_end).count();
      ++steps;
    }
  }
  void ended(const core::Procedure&) override {
    procedure_ended = Clock::now();
    last_step_end = procedure_ended;  // the initialization's end, before the first step
  }
  void refused(const core::Procedure&, const core::Procedure&) override {}

  double own = 0;  // ms
  int steps = 0;

 private:
  static bool is_initialization(core::ProcedureKind kind) {
    return kind == core::ProcedureKind::initialize_all ||
           kind == core::ProcedureKind::initialize_uut;
  }
  Clock::time_point procedure_ended{};
  Clock::time_point last_step_end{};
};

// The runner's own time a step, in ms, for the default sequence on a unit with `fault`.
std::pair<double, procedures::Verdict> own_time_a_step(const char* fault) {
  testing_support::SimStation bench;
  if (fault != nullptr) {
    const sim::ParsedFault parsed = sim::parse_fault(fault);
    if (!parsed.request || !sim::apply_fault(bench.chassis, *parsed.request).empty()) {
      std::fprintf(stderr, "fault %s not applied\n", fault);
      std::exit(EXIT_FAILURE);
    }
  }
  testing_support::ScriptedMainView main_view;
  procedures::ProductionTests production(bench.station, main_view);
  Marks marks;
  bench.station.procedure.observers.push_back(&marks);
  procedures::FinalTestRunner runner(bench.station, production, marks);
  const procedures::FinalTestResult result =
      runner.run({"SIM-LA008", "", "bench", "VXI0::8::INSTR", "VXI0::24::INSTR"},
                 procedures::default_sequence());
  return {marks.own / std::max(marks.steps, 1), result.verdict.verdict};
}

}  // namespace

int main(int argc, char* argv[]) {
  const int units = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  QCoreApplication application(argc, argv);
  QTemporaryDir dir;

  station::StationOptions options;
  options.simulate = true;
  options.virtual_time = true;
  options.final_test = true;
  options.yes = true;
  options.top_serial = "SIM-LA008";
  options.technician = "bench";
  options.uut_resource = "VXI0::8::INSTR";
  options.qcu_resource = "VXI0::24::INSTR";
  options.records_path = dir.filePath("records.sqlite").toStdString();

  std::vector<double> unit_ms;
  for (int i = 0; i < units; ++i) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    const Clock::time_point start = Clock::now();
    const int status = station::run_final_test(options, {}, in, out, err);
    unit_ms.push_back(Ms(Clock::now() - start).count());
    if (status != station::kFinalTestPass) {
      std::fprintf(stderr, "the unit did not pass (%d):\n%s%s", status, out.str().c_str(),
                   err.str().c_str());
      return EXIT_FAILURE;
    }
  }
  const double unit = median(unit_ms);
  std::printf("default sequence headless, virtual time: %.0f ms a unit (median of %d; goal %.0f)\n",
              unit, units, kUnitGoalMs);

  bool within = unit <= kUnitGoalMs;
  for (const char* fault : {static_cast<const char*>(nullptr), "cut-output-cable@8"}) {
    std::vector<double> own;
    procedures::Verdict verdict = procedures::Verdict::error;
    for (int i = 0; i < units; ++i) {
      const auto [ms, ended] = own_time_a_step(fault);
      own.push_back(ms);
      verdict = ended;
    }
    const double step = median(own);
    within = within && step <= kStepGoalMs;
    std::printf("runner's own time a step, %s (%s): %.3f ms (median of %d; goal %.0f)\n",
                fault == nullptr ? "healthy unit" : fault,
                std::string(procedures::verdict_text(verdict)).c_str(), step, units, kStepGoalMs);
  }
  return within ? EXIT_SUCCESS : EXIT_FAILURE;
}
