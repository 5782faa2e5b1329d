// The technician's answer to Load Non-Vol's address prompt, converted to a 16-bit integer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "procedures/non_vol_load.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  const procedures::AddressConversion result = procedures::convert_address(answer);
  // Either a value or the run-time error's name, never both, never neither.
  if (result.value.has_value() == !result.error.empty()) std::abort();
  if (!result.value && result.error != procedures::non_vol_text::kTypeMismatch &&
      result.error != procedures::non_vol_text::kOverflow) {
    std::abort();
  }
  return 0;
}
