// Resident memory of the station during a long output calibration on the built-in chassis:
// the real main window and calibration loop, off screen, on virtual time, with a technician who
// presses Up and Down now and then and Cal Complete at the end.
//
//   calibration_memory_bench [hours] [yield_ms]
//
// The loop lets window events run twice per pass; each of these yields advances the virtual
// clock by `yield_ms` (default 10 ms, so 50 yields a second, as fast as a quick bus allows; a
// slower bus makes fewer yields an hour). Prints the resident memory (VmRSS) after the first
// yield, every ten virtual minutes, and the growth at the end.
#include <QApplication>
#include <QPushButton>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "app/display_form.h"
#include "core/station.h"
#include "driver/quor_codes.h"
#include "procedures/production_tests.h"
#include "testing/sim_station.h"

namespace {

constexpr std::uint64_t kUsPerMinute = 60'000'000;
constexpr std::uint64_t kSampleEveryUs = 10 * kUsPerMinute;
// The technician presses Up or Down once every this many yields: five Up, then five Down.
constexpr std::uint64_t kYieldsPerClick = 100;
constexpr double kGoalMb = 20.0;

// Resident memory of this process in KiB, from /proc/self/status.
long resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// At each yield the window events run and the bus time since the last yield goes by on the
// virtual clock.
simtime::WindowEvents paced_window_events(sim::VirtualClock& clock, std::uint64_t yield_us) {
  return [&clock, yield_us](bool) {
    clock.advance_us(yield_us);
    QCoreApplication::processEvents();
  };
}

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const double hours = argc > 1 ? std::strtod(argv[1], nullptr) : 1.0;
  const double yield_ms = argc > 2 ? std::strtod(argv[2], nullptr) : 10.0;
  if (!(hours > 0.0) || !(yield_ms > 0.0)) {
    std::fprintf(stderr, "usage: %s [hours] [yield_ms]\n", argv[0]);
    return EXIT_FAILURE;
  }
  QApplication application(argc, argv);

  testing_support::SimStation simulated({.in_use = {"simulated chassis", true}});
  const sim::VirtualClock& clock = simulated.clock;
  sim::SimChassis& chassis = simulated.chassis;
  core::Station& station = simulated.station;
  testing_support::VirtualPump& pump = simulated.pump;
  pump.set_window_events(
      paced_window_events(simulated.clock, static_cast<std::uint64_t>(yield_ms * 1000.0)));
  pump.yield_limit = UINT64_MAX;
  app::DisplayForm form(station);
  procedures::ProductionTests production(station, form);
  form.set_handlers(app::production_handlers(production));

  driver::UnitRecord& uut = station.units.uut;
  if (station.driver.quor_init("VXI0::8::INSTR", 1, 1, uut.session) != visa::VI_SUCCESS) {
    std::fprintf(stderr, "the UUT did not open\n");
    return EXIT_FAILURE;
  }
  uut.model_code = static_cast<std::int16_t>(driver::kQuorModelCode);
  form.show();
  form.cmdStartCal->setVisible(true);
  form.cmdStartCal->click();

  const auto end_us = static_cast<std::uint64_t>(hours * 60.0 * kUsPerMinute);
  std::uint64_t yields = 0;
  std::uint64_t next_sample_us = kSampleEveryUs;
  long first_kib = 0;
  std::function<void()> step = [&] {
    ++yields;
    const std::uint64_t now = clock.now_us();
    if (yields == 1) {
      first_kib = resident_kib();
      std::printf("after the first yield         VmRSS %8ld KiB\n", first_kib);
    }
    if (now >= next_sample_us) {
      std::printf("%6.1f min  %9llu yields  VmRSS %8ld KiB\n", static_cast<double>(now) / 6e7,
                  static_cast<unsigned long long>(yields), resident_kib());
      std::fflush(stdout);
      next_sample_us += kSampleEveryUs;
    }
    if (now >= end_us) {
      form.CalGood->click();
      return;
    }
    if (yields % kYieldsPerClick == 0) {
      const bool up = (yields / kYieldsPerClick) % 10 < 5;
      (up ? form.CalUp : form.CalDown)->click();
    }
    pump.then(step);
  };
  pump.then(step);
  form.TestButton[0]->click();

  const long last_kib = resident_kib();
  std::printf(
      "virtual time %.1f min, %llu yields of %g ms, %llu VISA calls, %llu commands "
      "to the UUT\n",
      static_cast<double>(clock.now_us()) / 6e7, static_cast<unsigned long long>(yields), yield_ms,
      static_cast<unsigned long long>(chassis.total_calls()),
      static_cast<unsigned long long>(chassis.module_at(8)->commands_received()));
  const double growth_mb = static_cast<double>(last_kib - first_kib) * 1024.0 / 1e6;
  std::printf("resident memory growth: %.1f MB (%ld KiB -> %ld KiB); goal at most %.0f MB\n",
              growth_mb, first_kib, last_kib, kGoalMb);
  form.close();
  return growth_mb <= kGoalMb ? EXIT_SUCCESS : EXIT_FAILURE;
}
