// The VISA functions the station calls, as one enumeration: the call trace names them, and the
// simulated chassis counts their calls and makes them fail on purpose.
#pragma once

#include <cstdint>

namespace visa {

enum class VisaFunction : std::uint8_t {
  OpenDefaultRM,
  FindRsrc,
  FindNext,
  Open,
  Close,
  GetAttribute,
  SetAttribute,
  Write,
  Read,
  StatusDesc,
  In16,
  Out16,
  MoveIn16,
  MoveOut16,
  Count_  // the number of functions, not a function
};

// "viOpenDefaultRM", "viIn16", ...
const char* function_name(VisaFunction function);

}  // namespace visa
