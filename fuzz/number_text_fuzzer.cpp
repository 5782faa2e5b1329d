// The leading-number reader of status bytes, "*TST?" replies and every other numeric reply.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "driver/number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double number = driver::leading_number(text);
  const auto any = driver::leading_number_if_any(text);
  // No number reads as 0; a number reads the same either way.
  if (any ? !(*any == number || (std::isnan(*any) && std::isnan(number))) : number != 0.0) {
    std::abort();
  }
  const std::int16_t int16 = driver::leading_int16(text);
  const std::int32_t int32 = driver::leading_int32(text);
  // A value inside the 16-bit range rounds the same in both widths.
  if (int16 != 0 && int16 != int32) std::abort();
  if (std::isfinite(number)) {
    const std::string written = driver::basic_number_text(number);
    if (written.empty()) std::abort();
  }
  return 0;
}
