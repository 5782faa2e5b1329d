// The time-stamp trace reply of the Stamp test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "functional/stamp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  for (const std::int32_t stamp : functional::stamps_of(reply)) {
    if (stamp < -0x11111 || stamp > 0xFFFF) std::abort();
  }
  for (const std::int32_t interval : functional::stamp_intervals(reply)) {
    if (interval < 0 || interval > 0x20000) std::abort();
  }
  return 0;
}
