// Renders the console windows to PNG files for a look by eye:
//   app_render_windows <folder>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>

#include "app/display_form.h"
#include "app/unit_initialization.h"
#include "sim/sim_chassis.h"
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
  app::Station station(chassis, person, pump,
                       app::VisaInUse{"no VISA library found, no real module is tested", true});
  pump.count_ticks_in(station.driver_state);
  app::DisplayForm form(station);
  form.show();
  bool ok = save(&form, folder + "/main_window_startup.png");

  pump.then([&] {
    app::InitializeDialog* dialog = form.unit_initialization().dialog();
    dialog->List_Of_Resources->setCurrentIndex(-1);
    ok = save(dialog, folder + "/initialize_dialog.png") && ok;
    // The drop-down list opened, as the technician sees the modules found.
    dialog->List_Of_Resources->showPopup();
    QApplication::processEvents();
    ok = save(dialog->List_Of_Resources->view()->window(),
              folder + "/initialize_dialog_list.png") && ok;
    dialog->List_Of_Resources->hidePopup();
    dialog->List_Of_Resources->setCurrentIndex(1);
    emit dialog->List_Of_Resources->activated(1);
  });
  form.Init_UUT->trigger();
  QApplication::processEvents();
  ok = save(&form, folder + "/main_window_after_init_uut.png") && ok;
  form.close();
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
