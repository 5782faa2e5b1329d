// The test console and the results window as the main window's "Main Testing" reaches them:
// created on first use, shown modeless, one of each. The console's buttons start and stop the bus
// tests; the tests show themselves on both windows through the view this controller implements.
#pragma once

#include <QPointer>
#include <memory>
#include <vector>

#include "app/display_form.h"
#include "app/frm_results.h"
#include "app/frm_tests.h"
#include "core/station.h"
#include "procedures/bus_tests.h"
#include "procedures/console_view.h"

namespace app {

class TestConsole final : public procedures::BusTestView {
 public:
  TestConsole(core::Station& station, DisplayForm& form);
  ~TestConsole() override;
  TestConsole(const TestConsole&) = delete;
  TestConsole& operator=(const TestConsole&) = delete;

  // "Main Testing": creates the console when it does not exist yet and shows it.
  void show_console();

  // The console, or null before the first "Main Testing" and after EXIT.
  FrmTests* console() const { return console_; }
  procedures::BusTests* bus_tests() const { return tests_.get(); }
  // The results window, created hidden when it does not exist.
  FrmResults& results();
  // The results window if it exists, else null.
  FrmResults* results_window() const { return results_; }
  // The station is shutting down: the console and the results window close, at once when no
  // test runs, else as soon as the running test has returned.
  void close_windows();

  // procedures::BusTestView, on the console, the main window and the results window.
  void set_console_caption(const std::string& caption) override;
  void show_console_line(const procedures::ConsoleLine& line) override;
  void set_tests_running(bool running) override;
  void send_main_window_back() override;
  void open_report() override;
  void report_done() override;
  void set_report(const std::string& text) override;
  void append_report(const std::string& text) override;
  void set_progress_maximum(float maximum) override;
  void set_progress_value(float value) override;

 private:
  void unload_console();
  // Forgets the unloaded windows that Qt has deleted by now.
  void retire_closed_windows();

  core::Station& station_;
  DisplayForm& form_;
  QPointer<FrmTests> console_;
  QPointer<FrmResults> results_;
  std::unique_ptr<procedures::BusTests> tests_;
  // Windows unloaded from inside their own handlers, deleted later by Qt or at the latest here.
  std::vector<QPointer<QWidget>> retired_;
};

}  // namespace app
