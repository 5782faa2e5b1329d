// The rule every driver operation follows for the statuses of its steps.
#pragma once

#include "visa/visa_types.h"

namespace driver {

// Keeps a nonzero `status` as the operation's result; true when it is an error and the
// operation must end at once (warnings are carried on).
inline bool keep_status(visa::ViStatus status, visa::ViStatus& result) {
  if (status != visa::VI_SUCCESS) result = status;
  return status < visa::VI_SUCCESS;
}

}  // namespace driver
