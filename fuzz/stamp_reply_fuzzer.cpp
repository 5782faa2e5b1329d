// The time-stamp trace reply of the Stamp test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "procedures/bus_stamp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  // A stamp is four digits of 0 to 15, or -1 for a character that is none: -4369 to 65535.
  const auto stamps = procedures::stamps_of(reply);
  for (const std::int32_t stamp : stamps) {
    if (stamp < -0x1111 || stamp > 0xFFFF) std::abort();
  }
  // An interval is the difference of its stamps, the wrap of the 16-bit counter taken off.
  const auto intervals = procedures::stamp_intervals(reply);
  for (std::size_t j = 0; j < intervals.size(); ++j) {
    const std::int32_t difference = stamps[j + 1] - stamps[j];
    if (intervals[j] != (difference < 0 ? difference + 65536 : difference)) std::abort();
  }
  return 0;
}
