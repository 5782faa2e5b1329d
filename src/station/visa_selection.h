// Start-up choice of the VISA implementation: an installed vendor library when one loads and
// opens its default resource manager, else the built-in simulated chassis. An installed library
// that cannot be used is never replaced silently: the choice names it and the reason.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/station.h"
#include "driver/operator.h"
#include "sim/sim_clock.h"
#include "visa/visa_library.h"

namespace station {

struct VisaChoice {
  std::unique_ptr<sim::Clock> clock;  // the simulated chassis' clock, when simulated
  std::unique_ptr<visa::VisaLibrary> library;
  core::VisaInUse in_use;
  std::vector<std::string> refused;  // candidates that did not serve, and why
  // Set when an installed vendor library could not be used: which one and why. The technician
  // is told at start-up; the status line (the description) keeps saying it.
  std::string problem;
};

VisaChoice choose_visa(const std::vector<std::string>& candidates);

// Tells the technician, in a message box, of an installed library that could not be used.
void announce_visa_choice(const VisaChoice& choice, driver::Operator& person);

}  // namespace station
