// Reading the time-stamp trace that "trac:data? stamp" returns: ten items of seven characters,
// each stamp the four hexadecimal digits before the item's last character.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace procedures {

inline constexpr int kStampCount = 10;

// The ten stamps of `reply`, first one first. A digit past the end of the reply counts as 0,
// a character that is not an upper-case hexadecimal digit as -1 (so the stamp goes wrong).
std::array<std::int32_t, kStampCount> stamps_of(std::string_view reply);

// The nine intervals between neighbouring stamps; the stamp counter wraps at 16 bits.
std::array<std::int32_t, kStampCount - 1> stamp_intervals(std::string_view reply);

}  // namespace procedures
