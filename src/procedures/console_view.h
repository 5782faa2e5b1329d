// What the bus tests show while they run: the test console's caption, its text line (the
// connection prompt, then the count), its buttons' running or idle state, the main window sent to
// the back, and the results window's report and progress. The windows implement it; the suites
// run the tests against a recording one.
#pragma once

#include <string>

#include "driver/report_sink.h"

namespace procedures {

// The console's text line: what it reads and in what size (the label keeps its face and weight).
struct ConsoleLine {
  std::string text;
  double point_size = 0;
};

class BusTestView : public driver::ReportSink {
 public:
  // --- The test console ---
  virtual void set_console_caption(const std::string& caption) = 0;
  virtual void show_console_line(const ConsoleLine& line) = 0;
  // Running: the test buttons disabled, STOP TEST shown, EXIT hidden; idle: the opposite.
  virtual void set_tests_running(bool running) = 0;
  // The main window goes behind the console and the results window.
  virtual void send_main_window_back() = 0;

  // --- The results window ---
  // Shows the results window behind the others; until report_done() it cannot be closed.
  virtual void open_report() = 0;
  virtual void report_done() = 0;
  // Replaces the whole report (line ends as CR LF); append_report() adds to it.
  virtual void set_report(const std::string& text) = 0;
  virtual void set_progress_maximum(float maximum) = 0;
  virtual void set_progress_value(float value) = 0;
};

}  // namespace procedures
