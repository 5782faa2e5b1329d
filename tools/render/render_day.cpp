// Renders a technician's day, as README shows it, to PNG files: the station started, a module
// picked in the Initialize dialog, the units initialized, a functional test run from the test
// console, and its result:
//   render_day <folder>
#include <QApplication>
#include <cstdlib>

#include "app/unit_initialization.h"
#include "offscreen_render.h"
#include "station/station_windows.h"

using testing_support::save_snapshot;

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const QString folder = testing_support::render_folder(argc, argv);
  testing_support::RenderedStation rendered;
  station::StationWindows windows(rendered.station, [] {});
  app::DisplayForm& form = windows.form();
  form.show();
  bool ok = save_snapshot(&form, folder + "/day_start.png");

  // Initialize All: the dialog asks for the UUT, then for the QCU.
  for (const int module : {0, 1}) {
    rendered.pump.then([&, module] {
      app::InitializeDialog* dialog = form.unit_initialization().dialog();
      dialog->List_Of_Resources->setCurrentIndex(module);
      if (module == 0) ok = save_snapshot(dialog, folder + "/day_pick_module.png") && ok;
      emit dialog->List_Of_Resources->activated(module);
    });
  }
  form.Init_ALL->trigger();
  QApplication::processEvents();
  ok = save_snapshot(&form, folder + "/day_initialized.png") && ok;

  form.mnuTest->trigger();
  app::FrmTests& console = *windows.test_console().console();
  console.cmdTrndrecm->click();
  ok = save_snapshot(&console, folder + "/day_test_console.png") && ok;
  ok = save_snapshot(&windows.test_console().results(), folder + "/day_result.png") && ok;
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
