// Where the driver shows the current step text and error reports (the main window's error
// report label).
#pragma once

#include <string>

namespace driver {

class StepDisplay {
 public:
  virtual ~StepDisplay() = default;
  virtual void show_step_text(const std::string& text) = 0;
};

}  // namespace driver
