#include "station/visa_options.h"

#include "visa/visa_loader.h"

namespace station {

std::string simulated_description(const StationOptions& options) {
  std::string text = "built-in chassis (--simulate), no real module is tested";
  for (std::size_t i = 0; i < options.faults.size(); ++i) {
    text += (i == 0 ? "; faults: " : ", ") + sim::fault_label(options.faults[i]);
  }
  if (options.virtual_time) text += "; virtual time";
  return text;
}

OptionVisa choose_visa_for(const StationOptions& options) {
  OptionVisa chosen;
  if (options.visa_path) {
    std::vector<visa::RefusedLibrary> refused;
    visa::LoadedLibrary loaded = visa::find_vendor_library({*options.visa_path}, &refused);
    if (!loaded.library) {
      std::string reason =
          refused.empty() ? std::string("it does not load") : refused.front().reason;
      // "<file>: <why>" without the file in front: the message names it already.
      if (const std::string prefix = refused.empty() ? "" : refused.front().file + ": ";
          !prefix.empty() && reason.rfind(prefix, 0) == 0) {
        reason.erase(0, prefix.size());
      }
      chosen.error = "the VISA library " + *options.visa_path + " cannot be used: " + reason;
      return chosen;
    }
    chosen.choice.library = std::move(loaded.library);
    chosen.choice.in_use.simulated = loaded.simulated;
    chosen.choice.in_use.description =
        loaded.simulated ? "no real module is tested (" + loaded.file + ")" : loaded.file;
    return chosen;
  }
  if (!options.simulate) {
    chosen.choice = choose_visa(visa::vendor_library_candidates());
    return chosen;
  }
  if (options.virtual_time) {
    auto clock = std::make_unique<sim::VirtualClock>();
    chosen.virtual_clock = clock.get();
    chosen.choice.clock = std::move(clock);
  } else {
    chosen.choice.clock = std::make_unique<sim::RealClock>();
  }
  auto chassis = std::make_unique<sim::SimChassis>(sim::benches::standard(), *chosen.choice.clock);
  chosen.chassis = chassis.get();
  for (const sim::FaultRequest& fault : options.faults) {
    if (std::string error = sim::apply_fault(*chassis, fault); !error.empty()) {
      chosen.error = "--fault " + sim::fault_label(fault) + ": " + error;
      return chosen;
    }
  }
  chosen.choice.library = std::move(chassis);
  chosen.choice.in_use.simulated = true;
  chosen.choice.in_use.description = simulated_description(options);
  return chosen;
}

}  // namespace station
