// The test console and the results window as the main window's "Main Testing" reaches them:
// created on first use, shown modeless, one of each.
#pragma once

#include <QPointer>
#include <memory>
#include <vector>

#include "app/display_form.h"
#include "core/station.h"
#include "functional/frm_results.h"
#include "functional/frm_tests.h"
#include "functional/functional_tests.h"

namespace functional {

class TestConsole {
 public:
  TestConsole(core::Station& station, app::DisplayForm& form);
  ~TestConsole();
  TestConsole(const TestConsole&) = delete;
  TestConsole& operator=(const TestConsole&) = delete;

  // "Main Testing": creates the console when it does not exist yet and shows it.
  void show_console();

  // The console, or null before the first "Main Testing" and after EXIT.
  FrmTests* console() const { return console_; }
  FunctionalTests* functional_tests() const { return tests_.get(); }
  // The results window, created hidden when it does not exist.
  FrmResults& results();
  // The results window if it exists, else null.
  FrmResults* results_window() const { return results_; }
  // The station is shutting down: the console and the results window close, at once when no
  // test runs, else as soon as the running test has returned.
  void close_windows();

 private:
  void unload_console();
  // Forgets the unloaded windows that Qt has deleted by now.
  void retire_closed_windows();

  core::Station& station_;
  app::DisplayForm& form_;
  QPointer<FrmTests> console_;
  QPointer<FrmResults> results_;
  std::unique_ptr<FunctionalTests> tests_;
  // Windows unloaded from inside their own handlers, deleted later by Qt or at the latest here.
  std::vector<QPointer<QWidget>> retired_;
};

}  // namespace functional
