// The interactive calibration of the outputs against an oscilloscope: the technician adjusts
// the module's calibration constant with Up and Down while the UUT transmits on Output 1, and
// ends with Cal Complete (or Abort).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/station.h"
#include "procedures/main_view.h"
#include "procedures/uut_steps.h"

namespace procedures {

namespace production_text {
inline constexpr const char* kCalibrationInstruction =
    "Connect a BNC cable to Output 1.  "
    "Connect the BNC cable to the input of an O'Scope via a 50 Ohm "
    "Termination.  Using the Up and Down buttons, adjust the Calibration "
    "Constant until the Output reads 1.2vpp on the O'Scope display.  Press "
    "Cal Complete when done.";
}  // namespace production_text

// Operator reply values of the calibration.
inline constexpr std::int16_t kReplyWaiting = 7;
inline constexpr std::int16_t kReplyCalComplete = 6;

// The constant a "CAL?" reply holds in its leading characters; none when they hold no number or
// one that a single-precision constant cannot take (the constant then stays as it was).
std::optional<float> cal_constant_of(std::string_view reply);

// The calibration's values, live for the whole program run. The Up, Down and Cal Complete
// clicks reach the running calibration loop only through them.
struct CalibrationState {
  float constant = 0.0F;
  std::int16_t operator_reply = 0;
};

class OutputCalibration {
 public:
  OutputCalibration(core::Station& station, MainWindowView& view, UutSteps& steps);

  void on_start_calibration();
  void on_cal_up();
  void on_cal_down();
  void on_cal_good();
  // The calibration loop, from the Calibrate Outputs button; returns at Cal Complete or Abort.
  void calibrate_outputs();

  CalibrationState& state() { return calibration_; }

 private:
  void finish_calibration();

  core::Station& station_;
  MainWindowView& view_;
  UutSteps& steps_;
  CalibrationState calibration_;
};

}  // namespace procedures
