// Start-up choice of the VISA implementation: an installed vendor library when one loads and
// opens its default resource manager, else the built-in simulated chassis.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/station.h"
#include "sim/sim_clock.h"
#include "visa/visa_library.h"

namespace app {

struct VisaChoice {
  std::unique_ptr<sim::Clock> clock;            // the simulated chassis' clock, when simulated
  std::unique_ptr<visa::VisaLibrary> library;
  VisaInUse in_use;
  std::vector<std::string> refused;             // candidates that did not serve, and why
};

VisaChoice choose_visa(const std::vector<std::string>& candidates);

}  // namespace app
