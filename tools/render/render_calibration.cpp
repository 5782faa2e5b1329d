// Renders the main window in the middle of an output calibration to a PNG file for a look by
// eye:   production_render_calibration <folder>
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "app/display_form.h"
#include "app/unit_initialization.h"
#include "offscreen_render.h"
#include "procedures/production_tests.h"

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const QString folder = testing_support::render_folder(argc, argv);
  testing_support::RenderedStation rendered;
  testing_support::VirtualPump& pump = rendered.pump;
  core::Station& station = rendered.station;
  app::DisplayForm form(station);
  procedures::ProductionTests production(station, form);
  form.set_handlers(app::production_handlers(production));
  form.show();

  // Initialize UUT, picking the first module the search lists.
  pump.then([&] {
    app::InitializeDialog* dialog = form.unit_initialization().dialog();
    dialog->List_Of_Resources->setCurrentIndex(1);
    emit dialog->List_Of_Resources->activated(1);
  });
  form.Init_UUT->trigger();
  QApplication::processEvents();

  form.cmdStartCal->click();
  form.TestTechnicianName->setText("J. Smith");
  form.TopSerialNumber->setText("QB-0042");
  form.SubSerialNumber->setText("SA-1177");
  bool ok = false;
  pump.then([&] {
    for (int i = 0; i < 3; ++i) form.CalUp->click();
  });
  pump.then([] {});
  pump.then([] {});
  pump.then([&] {
    ok = testing_support::save_snapshot(&form, folder + "/main_window_calibrating.png");
    form.CalGood->click();
  });
  form.TestButton[0]->click();
  form.close();
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
