// The time to write the unit report of a unit that fails every bus test: the default sequence
// run on the built-in chassis (virtual time) with a UUT whose received and sent data each have a
// stuck bit, so that every bus test writes its miscompares; then its PDF written a few times.
//
//   unit_report_bench [rounds]
//
// Prints the report's size (steps, lines, bytes), each round's time, the median and the goal.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/unit_report.h"
#include "procedures/final_test.h"
#include "procedures/production_tests.h"
#include "sim/fault_catalogue.h"
#include "testing/scripted_views.h"
#include "testing/sim_station.h"

namespace {

constexpr double kGoalMs = 1000.0;

// A technician who has every cabling in place and tests whatever serial the unit gives.
class ReadyView final : public procedures::FinalTestView {
 public:
  bool accept_serial_mismatch(const std::string&, const std::string&) override { return true; }
  bool confirm_cabling(const std::string&) override { return true; }
  void step_changed(std::size_t, const procedures::StepResult&) override {}
  void step_progress(std::size_t, double, double) override {}
  void time_left(std::optional<std::chrono::milliseconds>) override {}
};

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

  testing_support::SimStation sim;
  for (const char* fault : {"stuck-receive-bit", "stuck-transmit-bit"}) {
    const std::string error = sim::apply_fault(sim.chassis, {sim::find_fault(fault), 8});
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return EXIT_FAILURE;
    }
  }
  testing_support::ScriptedMainView main_view;
  procedures::ProductionTests production(sim.station, main_view);
  ReadyView view;
  procedures::FinalTestRunner runner(sim.station, production, view);
  app::UnitReportFacts facts;
  facts.station = {"bench", "1.0", "simulated chassis", true};
  facts.result =
      runner.run({"TOP-5012", "SUB-7781", "A. Marsh", "VXI0::8::INSTR", "VXI0::24::INSTR"},
                 procedures::default_sequence());

  std::size_t lines = 0;
  std::size_t bytes = 0;
  int failed_bus_tests = 0;
  for (const procedures::StepResult& step : facts.result.steps) {
    lines += static_cast<std::size_t>(
        std::count(step.facts.report.begin(), step.facts.report.end(), '\n'));
    bytes += step.facts.report.size();
    if (step.state == procedures::StepState::failed) ++failed_bus_tests;
  }
  std::printf("unit: %s, %zu steps, %d failed; reports %zu lines, %zu bytes\n",
              std::string(procedures::verdict_text(facts.result.verdict.verdict)).c_str(),
              facts.result.steps.size(), failed_bus_tests, lines, bytes);

  QTemporaryDir folder;
  std::vector<double> times;
  qint64 size = 0;
  for (int round = 0; round < rounds; ++round) {
    const std::string path = folder.filePath("r" + QString::number(round) + ".pdf").toStdString();
    QElapsedTimer timer;
    timer.start();
    const std::string error = app::write_unit_report_pdf(facts, path);
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return EXIT_FAILURE;
    }
    size = QFileInfo(QString::fromStdString(path)).size();
    std::printf("round %d: %.1f ms\n", round + 1, times.back());
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  std::printf(
      "unit report PDF (%lld bytes): median %.1f ms of %d rounds (goal at most %.0f ms): %s\n",
      static_cast<long long>(size), median, rounds, kGoalMs, median <= kGoalMs ? "met" : "NOT MET");
  return median <= kGoalMs ? EXIT_SUCCESS : EXIT_FAILURE;
}
