// Binds an installed vendor VISA library at run time (dlopen / LoadLibrary).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "visa/visa_library.h"

namespace visa {

// Exported by the simulated chassis when it is built as a shared library, so that a simulated
// chassis reached through the loader is never taken for real hardware.
inline constexpr const char* kSimulatedMarkerSymbol = "quor_sim_chassis_marker";

struct LoadedLibrary {
  std::unique_ptr<VisaLibrary> library;  // null when the file was refused
  std::string file;                      // the name or path it was loaded from
  bool simulated = false;                // the file is the simulated chassis, not a vendor library
  std::string error;                     // why it was refused
  bool installed = false;                // the file is there, whether or not it can be used
};

// A candidate that did not serve, and why. An installed one (found, but lacking a function or
// failing to open its resource manager) is a broken installation the technician must hear of.
struct RefusedLibrary {
  std::string file;
  std::string reason;  // "<file>: <why>"
  bool installed = false;
};

// Loads one library file and resolves every function the station needs. A library that lacks
// one is refused with a message naming the missing function.
LoadedLibrary load_visa_library(const std::string& file);

// The vendor file names to try, in order, for this platform.
std::vector<std::string> vendor_library_candidates();

// The first candidate that loads and whose viOpenDefaultRM succeeds (the probe manager is
// closed again). `tried` collects one entry per refused candidate.
LoadedLibrary find_vendor_library(const std::vector<std::string>& candidates,
                                  std::vector<RefusedLibrary>* tried);

// "status -1073807360 (0xBFFF0000: <the library's description>)": a failing status as the
// technician is told it, with the library's own text where it gives one.
std::string status_text(VisaLibrary& library, ViStatus status);

}  // namespace visa
