// Numbers in module texts the way the station always has: reading the leading number of a
// reply (blanks ignored, anything else ending the number), and writing a single-precision
// value into a command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace driver {

// The leading number of `text`: optional sign, digits, decimal point, exponent ("E" or "D"),
// or a "&H" / "&O" prefixed hexadecimal or octal integer. Blanks, tabs, carriage returns and
// line feeds are skipped wherever they stand. No number reads as 0. A number too large for a
// double reads as infinity with its sign, one too small as 0.
double leading_number(std::string_view text);

// The same, but empty when the text holds no number at all (so that a reply of "0" can be
// told from one that is not a number).
std::optional<double> leading_number_if_any(std::string_view text);

// The leading number rounded to the nearest 16-bit integer (ties to even); a value outside
// the 16-bit range counts as 0, like text that holds no number.
std::int16_t leading_int16(std::string_view text);

// The same for 32-bit integers.
std::int32_t leading_int32(std::string_view text);

// `value` taken as a single-precision number and written as the station writes numbers into
// commands: a blank in front of a value of 0 or more, a minus sign otherwise; at most 7
// significant digits, trailing zeros dropped; no zero in front of the point below 1
// (" .9", "-.1"). Magnitudes from 1E+07 up and below .0001 take the exponent form
// ("1E+08", "-1.234568E-07").
std::string basic_number_text(double value);

}  // namespace driver
