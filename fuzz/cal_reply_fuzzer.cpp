// The "CAL?" reply read into the calibration constant.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "procedures/calibration.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  if (const auto constant = procedures::cal_constant_of(reply)) {
    if (!std::isfinite(*constant)) std::abort();
  }
  return 0;
}
