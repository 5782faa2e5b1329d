#include "app/visa_selection.h"

#include "sim/sim_chassis.h"
#include "visa/visa_loader.h"

namespace app {

VisaChoice choose_visa(const std::vector<std::string>& candidates) {
  VisaChoice choice;
  visa::LoadedLibrary loaded = visa::find_vendor_library(candidates, &choice.refused);
  if (loaded.library) {
    choice.library = std::move(loaded.library);
    choice.in_use.simulated = loaded.simulated;
    choice.in_use.description =
        loaded.simulated ? "no real module is tested (" + loaded.file + ")"
                         : loaded.file;
    return choice;
  }
  choice.clock = std::make_unique<sim::RealClock>();
  choice.library = std::make_unique<sim::SimChassis>(sim::benches::standard(), *choice.clock);
  choice.in_use.simulated = true;
  choice.in_use.description = "no VISA library found, no real module is tested";
  return choice;
}

}  // namespace app
