// The station's windows put together: the main window with the test console, the production
// tests and the configuration load attached to its menu and buttons.
#pragma once

#include <functional>
#include <memory>

#include "app/display_form.h"
#include "app/final_test_window.h"
#include "app/test_console.h"
#include "app/trace_window.h"
#include "core/station.h"
#include "procedures/non_vol_load.h"
#include "procedures/production_tests.h"

namespace station {

class StationWindows {
 public:
  // `end_program` ends the program at once (the configuration load's failure path).
  StationWindows(core::Station& station, std::function<void()> end_program);
  ~StationWindows();
  StationWindows(const StationWindows&) = delete;
  StationWindows& operator=(const StationWindows&) = delete;

  app::DisplayForm& form() { return form_; }
  app::TestConsole& test_console() { return console_; }
  procedures::NonVolLoad& non_vol_load() { return non_vol_; }
  procedures::ProductionTests& production_tests() { return production_; }

  // Puts the trace window behind the "Trace" menu item: made on first use, shown modeless.
  void attach_trace(visa::TraceSinks& sinks, visa::StatusDescriber describe);
  // The trace window, or null before the first "Trace".
  app::TraceWindow* trace_window() const { return trace_.get(); }

  // Puts the Final Test window behind the "Final Test" menu item: made now (so that its runner
  // can be given observers), shown modeless on each "Final Test".
  app::FinalTestWindow& attach_final_test(app::FinalTestWindow::Options options);
  // The Final Test window, or null before attach_final_test().
  app::FinalTestWindow* final_test_window() const { return final_test_.get(); }

 private:
  app::DisplayForm form_;
  app::TestConsole console_;
  procedures::NonVolLoad non_vol_;
  procedures::ProductionTests production_;
  app::DisplayForm::Handlers handlers_;
  std::unique_ptr<app::TraceWindow> trace_;
  std::unique_ptr<app::FinalTestWindow> final_test_;
};

}  // namespace station
