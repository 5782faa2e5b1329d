// The procedures' views without windows: they record what the procedures show, so that the
// suites read it where the windows would have shown it.
#pragma once

#include <string>
#include <vector>

#include "procedures/main_view.h"
#include "procedures/selection_view.h"

namespace testing_support {

// The main window's lines and controls as the procedures left them.
class ScriptedMainView final : public procedures::MainWindowView {
 public:
  void show_step_text(const std::string& text) override { error_line = text; }
  void show_controls_for(procedures::MainStep step) override { steps.push_back(step); }
  void show_instruction(const std::string& text) override { instructions.push_back(text); }
  void show_status_byte(const std::string& text) override { status_byte = text; }
  void show_cal_constant(const std::string& text) override { cal_constants.push_back(text); }

  // The instruction line as it stands; empty before any.
  std::string instruction() const;

  std::vector<procedures::MainStep> steps;  // every step shown, in order
  std::vector<std::string> instructions;    // every instruction shown, in order
  std::vector<std::string> cal_constants;   // every constant shown, in order
  std::string status_byte;
  std::string error_line = "Error Report Label";
};

// The selection window: what it was made with and what was done to it. The technician's
// answer is given to the unit initialization by the suite itself.
class ScriptedSelectionView final : public procedures::SelectionView {
 public:
  void open_selection(const std::string& title) override;
  void show_modules(const std::vector<std::string>& listed) override;
  void close_selection() override { ++closes; }
  void unload_selection() override;

  bool made = false;   // between open_selection and unload_selection
  bool shown = false;  // between show_modules and unload_selection
  std::string caption;
  std::vector<std::string> resources;
  int opens = 0;
  int closes = 0;
  int unloads = 0;
};

}  // namespace testing_support
