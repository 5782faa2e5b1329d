// --list-resources: every VXI resource (and GPIB-VXI) a VISA library finds, with its
// manufacturer identification, model code, logical address and slot, and whether it is a Quor
// Bus module. Needs no display.
#pragma once

#include <ostream>

#include "visa/visa_library.h"

namespace station {

// Prints one line per resource on `out`, each marked and the list introduced as simulated when
// `library` is a simulated chassis; a failure's status and its text go to `err`. Returns 0 when
// the search worked and every resource could be read, else 1.
int list_resources(visa::VisaLibrary& library, bool simulated, std::ostream& out,
                   std::ostream& err);

}  // namespace station
