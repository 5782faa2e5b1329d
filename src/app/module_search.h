// The Quor Bus modules a VISA library finds, for the Final Test window's choice of UUT and QCU:
// the search --list-resources makes (every VXI and GPIB-VXI resource, its manufacturer and model
// read), keeping the Quor Bus modules.
#pragma once

#include <string>
#include <vector>

#include "visa/visa_library.h"

namespace app {

struct FoundModule {
  std::string resource;  // "VXI0::8::INSTR"
  int logical_address = 0;
  int slot = 0;
};

struct ModuleSearch {
  std::vector<FoundModule> modules;  // in the order the library found them
  // Why the search or a resource's reading failed; empty when it all worked.
  std::string error;
};

ModuleSearch find_quor_modules(visa::VisaLibrary& library);

}  // namespace app
