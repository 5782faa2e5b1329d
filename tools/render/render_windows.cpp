// Renders the console windows to PNG files for a look by eye, and the Final Test window while
// a unit runs, at PASS, and at FAIL (a training fault on the UUT):
//   app_render_windows <folder>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/display_form.h"
#include "app/final_test_window.h"
#include "app/unit_initialization.h"
#include "offscreen_render.h"
#include "procedures/production_tests.h"
#include "sim/fault_catalogue.h"

using testing_support::save_snapshot;

namespace {

// One unit's final test on a fresh station, every cabling box answered OK; `running_file`, when
// given, is the window as the second cabling box opens (some steps done, the rest waiting).
bool render_final_test(const QString& folder, const char* fault, const QString& file,
                       const QString& running_file = {}) {
  testing_support::RenderedStation rendered;
  if (fault != nullptr) sim::apply_fault(rendered.chassis, {sim::find_fault(fault), 8});
  app::DisplayForm form(rendered.station);
  procedures::ProductionTests production(rendered.station, form);
  QTemporaryDir scratch;
  app::FinalTestWindow::Options options;
  options.reports_folder = scratch.filePath("reports").toStdString();
  options.settings_file = scratch.filePath("station.ini");
  options.station = {"LINE1-ST2", "1.0", "simulated chassis", true};
  app::FinalTestWindow window(rendered.station, production, options);
  window.show();
  window.txtTechnician->setText("A. Marsh");
  window.txtTopSerial->setText("SIM-LA008");
  window.txtSubSerial->setText("SUB-7781");

  bool ok = true;
  int boxes = 0;
  QPointer<QWidget> answered;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box == answered) return;
    answered = box;
    if (++boxes == 2 && !running_file.isEmpty()) {
      ok = save_snapshot(&window, folder + "/" + running_file) && ok;
    }
    box->defaultButton()->click();
  });
  answer.start(5);
  window.start();
  answer.stop();
  while (window.report_pending()) QApplication::processEvents(QEventLoop::AllEvents, 10);
  return save_snapshot(&window, folder + "/" + file) && ok;
}

}  // namespace

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
  ok = render_final_test(folder, nullptr, "final_test_pass.png", "final_test_running.png") && ok;
  ok = render_final_test(folder, "dead-input-1", "final_test_fail.png") && ok;
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
