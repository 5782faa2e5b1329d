// Reading numbers out of module replies the way the station always has: the leading number of
// a text, blanks ignored, anything else ending the number.
#pragma once

#include <cstdint>
#include <string_view>

namespace driver {

// The leading number of `text`: optional sign, digits, decimal point, exponent ("E" or "D"),
// or a "&H" / "&O" prefixed hexadecimal or octal integer. Blanks, tabs, carriage returns and
// line feeds are skipped wherever they stand. No number reads as 0.
double leading_number(std::string_view text);

// The leading number rounded to the nearest 16-bit integer (ties to even); a value outside
// the 16-bit range counts as 0, like text that holds no number.
std::int16_t leading_int16(std::string_view text);

// The same for 32-bit integers.
std::int32_t leading_int32(std::string_view text);

}  // namespace driver
