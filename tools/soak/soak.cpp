// Runs the ten functional tests, Self Test, Memory Test and a two-pass calibration back to back
// for a number of rounds on the simulated bench in virtual time, and checks after every round
// that every test passed, that the chassis has as many VISA objects open as before the first
// round, and that the resident memory stays within a bound of what it was after the first.
//
//   quor_soak [ROUNDS] [RSS_GROWTH_MB]      (100 and 5 when not given)
//
// Exits 0 when every round passed its checks, 1 otherwise.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"

namespace {

// Resident memory of this process in kB (Linux), or -1.
long resident_kb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = -1;
      status >> kb;
      return kb;
    }
    status.ignore(4096, '\n');
  }
  return -1;
}

struct Soak : testing_support::SimStation {
  Soak()
      : SimStation({.window_events = testing_support::run_qt_events,
                    .in_use = {"simulated chassis for the soak", true}}) {
    windows = std::make_unique<station::StationWindows>(station, [] {});
    windows->form().mnuTest->trigger();
    for (auto [unit, resource] : {std::pair{&station.units.uut, "VXI0::8::INSTR"},
                                  std::pair{&station.units.qcu, "VXI0::24::INSTR"}}) {
      unit->model_code = driver::kQuorModelCode;
      if (station.driver.quor_init(resource, 1, 0, unit->session) != visa::VI_SUCCESS) {
        std::fprintf(stderr, "soak: cannot open %s\n", resource);
        std::exit(1);
      }
    }
  }

  // Every procedure of a round, with what it shows when it passed; the failures' names.
  std::vector<std::string> round() {
    std::vector<std::string> failed;
    procedures::BusTests& tests = *windows->test_console().bus_tests();
    for (std::size_t i = 0; i < app::kConsoleTests.size(); ++i) {
      tests.run(tests.plan_for(app::kConsoleTests[i]));
      const std::string& report = station.run.report;
      if (report.size() < 11 || report.substr(report.size() - 11) != "Unit Passes") {
        failed.push_back("functional test " + std::to_string(i));
      }
    }
    app::DisplayForm& form = windows->form();
    form.TestButton[3]->click();
    if (station.run.verdict != procedures::production_text::kSelfTestPassed) {
      failed.push_back("Self Test");
    }
    form.TestButton[2]->click();
    if (station.run.verdict != procedures::production_text::kMemoryTestPassed) {
      failed.push_back("Memory Test");
    }
    form.cmdStartCal->click();
    pump.then([] {});
    pump.then([&form] { form.CalGood->click(); });
    form.TestButton[0]->click();
    if (station.driver_state.last_error_text != driver::kNoError) failed.push_back("calibration");
    return failed;
  }

  std::unique_ptr<station::StationWindows> windows;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 100;
  const long growth_kb = (argc > 2 ? std::atol(argv[2]) : 5) * 1024;

  Soak soak;
  const int start_objects = soak.chassis.open_object_count();
  long first_round_kb = 0;
  long highest_kb = 0;
  int bad_rounds = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int r = 1; r <= rounds; ++r) {
    soak.person.shown.clear();
    soak.person.printed.clear();
    const std::vector<std::string> failed = soak.round();
    const int objects = soak.chassis.open_object_count();
    const long kb = resident_kb();
    if (r == 1) first_round_kb = kb;
    highest_kb = std::max(highest_kb, kb);
    bool bad = !failed.empty() || objects != start_objects || kb - first_round_kb > growth_kb;
    std::printf("round %3d: %s, %d VISA objects open (start %d), resident %ld kB (%+ld kB)\n", r,
                failed.empty() ? "all passed" : ("failed: " + failed.front()).c_str(), objects,
                start_objects, kb, kb - first_round_kb);
    std::fflush(stdout);
    if (bad) ++bad_rounds;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "soak: %d rounds in %.1f s, %llu VISA calls, %llu virtual s; resident after round 1 %ld "
      "kB, highest %ld kB (growth %ld kB, bound %ld kB); %d round(s) failed their checks\n",
      rounds, seconds, static_cast<unsigned long long>(soak.chassis.total_calls()),
      static_cast<unsigned long long>(soak.clock.now_us() / 1000000U), first_round_kb, highest_kb,
      highest_kb - first_round_kb, growth_kb, bad_rounds);
  return bad_rounds == 0 ? 0 : 1;
}
