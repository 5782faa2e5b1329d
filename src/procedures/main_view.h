// What the production work shows on the main window: the instruction line, the status byte and
// calibration constant fields, and which controls each step shows. The error line is the
// driver's step display. The main window implements it; the suites a scripted one.
#pragma once

#include <string>

#include "driver/step_display.h"

namespace procedures {

// The steps of the production work, each with the controls it shows and hides. A step changes
// only the controls it names; the others keep what they have.
enum class MainStep {
  StartUp,          // only the error report area
  UnitInitialized,  // Initialize UUT: the production buttons, Abort and the instruction line
  ProductionTest,   // Self Test, Memory Test: the instruction line
  SettingUp,        // Start Calibration: the technician and serial fields, Calibrate Outputs
  Adjusting,        // the calibration loop: the constant and its Up, Down, Cal Complete
  CalibrationFinished,
};

class MainWindowView : public driver::StepDisplay {
 public:
  virtual void show_controls_for(MainStep step) = 0;
  // The texts are the module's 8-bit bytes (a status byte reply may hold any of them).
  virtual void show_instruction(const std::string& text) = 0;
  virtual void show_status_byte(const std::string& text) = 0;
  virtual void show_cal_constant(const std::string& text) = 0;
};

}  // namespace procedures
