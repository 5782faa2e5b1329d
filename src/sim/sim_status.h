// Status values the simulated chassis returns beyond those of visa_types.h, and the texts that
// viStatusDesc gives for every status the chassis can return.
#pragma once

#include "visa/visa_types.h"

namespace sim {

// Setting an attribute that can only be read.
inline constexpr visa::ViStatus kErrorAttrReadonly = visa::error_code(0xBFFF001FU);
// The resource exists but cannot be accessed now (a module whose open fails).
inline constexpr visa::ViStatus kErrorRsrcBusy = visa::error_code(0xBFFF0072U);
// A required buffer or output pointer was not given.
inline constexpr visa::ViStatus kErrorUserBuf = visa::error_code(0xBFFF0071U);

// Readable text of a status; "Unknown status" for one the chassis does not know.
const char* status_text(visa::ViStatus status);

}  // namespace sim
