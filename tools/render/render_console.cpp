// Renders the test console and the results window to PNG files for a look by eye:
//   functional_render_console <folder>
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "offscreen_render.h"
#include "station/station_windows.h"

using testing_support::save_snapshot;

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const QString folder = testing_support::render_folder(argc, argv);
  testing_support::RenderedStation rendered;
  testing_support::VirtualPump& pump = rendered.pump;
  core::Station& station = rendered.station;
  station::StationWindows windows(station, [] {});
  station.units.uut.model_code = driver::kQuorModelCode;
  station.units.qcu.model_code = driver::kQuorModelCode;
  station.driver.quor_init("VXI0::8::INSTR", 1, 1, station.units.uut.session);
  station.driver.quor_init("VXI0::24::INSTR", 1, 1, station.units.qcu.session);

  windows.form().mnuTest->trigger();
  app::FrmTests& console = *windows.test_console().console();
  bool ok = save_snapshot(&console, folder + "/test_console_idle.png");

  pump.at_yield(10,
                [&] { ok = save_snapshot(&console, folder + "/test_console_running.png") && ok; });
  console.cmdTrndrecm->click();
  ok = save_snapshot(&console, folder + "/test_console_after_test.png") && ok;
  ok = save_snapshot(&windows.test_console().results(), folder + "/test_results.png") && ok;
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
