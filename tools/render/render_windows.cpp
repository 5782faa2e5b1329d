// Renders the console windows to PNG files for a look by eye:
//   app_render_windows <folder>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "app/display_form.h"
#include "app/unit_initialization.h"
#include "offscreen_render.h"

using testing_support::save_snapshot;

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const QString folder = testing_support::render_folder(argc, argv);
  testing_support::RenderedStation rendered;
  testing_support::VirtualPump& pump = rendered.pump;
  app::DisplayForm form(rendered.station);
  form.show();
  bool ok = save_snapshot(&form, folder + "/main_window_startup.png");

  pump.then([&] {
    app::InitializeDialog* dialog = form.unit_initialization().dialog();
    dialog->List_Of_Resources->setCurrentIndex(-1);
    ok = save_snapshot(dialog, folder + "/initialize_dialog.png") && ok;
    // The drop-down list opened, as the technician sees the modules found.
    dialog->List_Of_Resources->showPopup();
    QApplication::processEvents();
    ok = save_snapshot(dialog->List_Of_Resources->view()->window(),
                       folder + "/initialize_dialog_list.png") &&
         ok;
    dialog->List_Of_Resources->hidePopup();
    dialog->List_Of_Resources->setCurrentIndex(1);
    emit dialog->List_Of_Resources->activated(1);
  });
  form.Init_UUT->trigger();
  QApplication::processEvents();
  ok = save_snapshot(&form, folder + "/main_window_after_init_uut.png") && ok;
  form.close();
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
