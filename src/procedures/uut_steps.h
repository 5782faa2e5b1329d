// The steps the production tests and the calibration share: a command to the UUT through its
// record's reply field, and the report of a step's status, whose failures are listed in the main
// window's error report area and kept in the run's facts.
#pragma once

#include <string>
#include <string_view>

#include "core/station.h"

namespace procedures {

namespace production_text {
inline constexpr const char* kResetStep = "Resetting the UUT";
}  // namespace production_text

class UutSteps {
 public:
  explicit UutSteps(core::Station& station) : station_(station) {}

  // Reports a step's status on the UUT; a failed step joins the error list, which is shown.
  void report(visa::ViStatus status, std::string_view description, std::string& errors);
  // Sends a command to the UUT through its record's reply field and reports the step.
  void command(std::string_view command, std::string_view description, std::string& errors);

 private:
  core::Station& station_;
};

}  // namespace procedures
