// The VISA implementation the command line asks for: --visa's library and no other, or
// --simulate's built-in chassis with its training faults and virtual time, else the start-up
// choice (visa_selection.h).
#pragma once

#include <string>

#include "sim/sim_chassis.h"
#include "station/command_line.h"
#include "station/visa_selection.h"

namespace station {

struct OptionVisa {
  VisaChoice choice;
  sim::SimChassis* chassis = nullptr;          // the built-in chassis, when --simulate
  sim::VirtualClock* virtual_clock = nullptr;  // its clock, when --virtual-time
  std::string error;  // why the options' VISA cannot be used; nothing else stands in then
};

OptionVisa choose_visa_for(const StationOptions& options);

// The status line's words for the built-in chassis the options ask for: "built-in chassis
// (--simulate), no real module is tested; faults: stamp-skew@8; virtual time".
std::string simulated_description(const StationOptions& options);

}  // namespace station
