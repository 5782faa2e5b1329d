#include "station/visa_selection.h"

#include "sim/sim_chassis.h"
#include "visa/visa_loader.h"

namespace station {
namespace {

constexpr const char* kProblemTitle = "VISA library not usable";

// "<file>: <why>" without the file in front.
std::string reason_of(const visa::RefusedLibrary& refused) {
  const std::string prefix = refused.file + ": ";
  return refused.reason.rfind(prefix, 0) == 0 ? refused.reason.substr(prefix.size())
                                              : refused.reason;
}

}  // namespace

VisaChoice choose_visa(const std::vector<std::string>& candidates) {
  VisaChoice choice;
  std::vector<visa::RefusedLibrary> tried;
  visa::LoadedLibrary loaded = visa::find_vendor_library(candidates, &tried);
  for (const visa::RefusedLibrary& refused : tried) choice.refused.push_back(refused.reason);
  if (loaded.library) {
    choice.library = std::move(loaded.library);
    choice.in_use.simulated = loaded.simulated;
    choice.in_use.description =
        loaded.simulated ? "no real module is tested (" + loaded.file + ")" : loaded.file;
    return choice;
  }
  choice.clock = std::make_unique<sim::RealClock>();
  choice.library = std::make_unique<sim::SimChassis>(sim::benches::standard(), *choice.clock);
  choice.in_use.simulated = true;
  choice.in_use.description = "no VISA library found, no real module is tested";

  // A library that is installed but broken: the built-in chassis stands in, and says why.
  std::string broken;
  std::string problem;
  for (const visa::RefusedLibrary& refused : tried) {
    if (!refused.installed) continue;
    broken += (broken.empty() ? "" : "; ") + refused.file + " cannot be used (" +
              reason_of(refused) + ")";
    problem += "The VISA library " + refused.file +
               " is installed but cannot be used: " + reason_of(refused) + ".\n";
  }
  if (!broken.empty()) {
    choice.in_use.description =
        broken + ", the built-in chassis stands in: no real module is tested";
    choice.problem = problem +
                     "The station runs on the built-in SIMULATED CHASSIS instead: no real "
                     "module is tested until the library is repaired.";
  }
  return choice;
}

void announce_visa_choice(const VisaChoice& choice, driver::Operator& person) {
  if (!choice.problem.empty()) person.message(choice.problem, kProblemTitle);
}

}  // namespace station
