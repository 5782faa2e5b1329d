// Renders the VISA trace window during a REC run to PNG files for a look by eye (one VISA read
// times out on the way, so an error row shows):
//   render_trace <folder>
#include <QApplication>
#include <cstdlib>

#include "offscreen_render.h"
#include "sim/fault_catalogue.h"
#include "station/station_windows.h"
#include "visa/visa_trace_file.h"

using testing_support::save_snapshot;

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const QString folder = testing_support::render_folder(argc, argv);

  testing_support::SimStation simulated(
      {.window_events = testing_support::run_qt_events,
       .in_use = {"built-in chassis (--simulate), no real module is tested; "
                  "faults: visa-read-timeout@8; virtual time",
                  true},
       .traced = true});
  sim::apply_fault(simulated.chassis, *sim::parse_fault("visa-read-timeout@8").request);
  visa::TraceSinks sinks(*simulated.traced);
  testing_support::VirtualPump& pump = simulated.pump;
  core::Station& station = simulated.station;
  station::StationWindows windows(station, [] {});
  windows.attach_trace(sinks, visa::library_status_describer(simulated.chassis));

  windows.form().mnuTrace->trigger();
  app::TraceWindow& trace = *windows.trace_window();
  station.units.uut.model_code = driver::kQuorModelCode;
  station.units.qcu.model_code = driver::kQuorModelCode;
  station.driver.quor_init("VXI0::8::INSTR", 1, 1, station.units.uut.session);
  station.driver.quor_init("VXI0::24::INSTR", 1, 1, station.units.qcu.session);
  windows.form().mnuTest->trigger();
  app::FrmTests& console = *windows.test_console().console();

  bool ok = true;
  pump.at_yield(40, [&] {
    trace.refresh();
    ok = save_snapshot(&trace, folder + "/trace_during_rec.png") && ok;
  });
  console.cmdRec->click();
  trace.refresh();
  trace.chkErrorsOnly->setChecked(true);
  ok = save_snapshot(&trace, folder + "/trace_errors_only.png") && ok;
  trace.chkErrorsOnly->setChecked(false);
  trace.cboFunction->setCurrentIndex(trace.cboFunction->findText("viIn16"));
  ok = save_snapshot(&trace, folder + "/trace_in16_runs.png") && ok;
  ok = save_snapshot(&windows.form(), folder + "/main_window_simulated_faults.png") && ok;
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
