// A bus-test view without windows: it keeps what the windows would show (the console's caption,
// line and running state, the results window's report and progress) and counts how often the
// main window was sent back, so that a suite runs the tests headless and reads what they showed.
#pragma once

#include <string>
#include <vector>

#include "procedures/console_view.h"

namespace testing_support {

class RecordingBusView final : public procedures::BusTestView {
 public:
  void set_console_caption(const std::string& caption) override;
  void show_console_line(const procedures::ConsoleLine& line) override;
  void set_tests_running(bool running) override { tests_running = running; }
  void send_main_window_back() override { ++main_window_sent_back; }
  void open_report() override;
  void report_done() override { report_open = false; }
  void set_report(const std::string& text) override { report = text; }
  void append_report(const std::string& text) override { report += text; }
  void set_progress_maximum(float maximum) override;
  void set_progress_value(float value) override;

  std::string caption;
  std::vector<std::string> captions;  // every caption set, in order
  procedures::ConsoleLine line;
  bool tests_running = false;
  int main_window_sent_back = 0;
  bool report_open = false;  // between open_report() and report_done()
  int reports_opened = 0;
  std::string report;
  // As the results window's bar holds them: the value kept within 0 and the maximum.
  int progress_maximum = 100;
  int progress_value = 0;
};

}  // namespace testing_support
