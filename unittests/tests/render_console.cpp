// Renders the test console and the results window to PNG files for a look by eye:
//   tests_render_console <folder>
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "sim/sim_chassis.h"
#include "station/station_windows.h"
#include "support/qt_virtual_pump.h"
#include "support/scripted_operator.h"

namespace {

bool save(QWidget* widget, const QString& path) {
  const bool saved = widget->grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.toLocal8Bit().constData());
  return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
  QDir().mkpath(folder);

  sim::VirtualClock clock;
  sim::SimChassis chassis(sim::benches::standard(), clock);
  testing_support::ScriptedOperator person;
  testing_support::QtVirtualPump pump(clock);
  app::Station station(chassis, person, pump, app::VisaInUse{"simulated chassis", true});
  pump.count_ticks_in(station.driver_state);
  station::StationWindows windows(station, [] {});
  station.units.uut.model_code = driver::kQuorModelCode;
  station.units.qcu.model_code = driver::kQuorModelCode;
  station.driver.quor_init("VXI0::8::INSTR", 1, 1, station.units.uut.session);
  station.driver.quor_init("VXI0::24::INSTR", 1, 1, station.units.qcu.session);

  windows.form().mnuTest->trigger();
  tests::FrmTests& console = *windows.test_console().console();
  bool ok = save(&console, folder + "/test_console_idle.png");

  pump.at_yield(10, [&] { ok = save(&console, folder + "/test_console_running.png") && ok; });
  console.cmdTrndrecm->click();
  ok = save(&console, folder + "/test_console_after_test.png") && ok;
  ok = save(&windows.test_console().results(), folder + "/test_results.png") && ok;
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
