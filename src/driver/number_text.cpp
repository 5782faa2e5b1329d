#include "driver/number_text.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <string>

namespace driver {
namespace {

bool is_skipped(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text without the characters that do not count.
std::string compact(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (!is_skipped(c)) result.push_back(c);
  }
  return result;
}

double radix_integer(const std::string& text, std::size_t pos, int radix) {
  double value = 0;
  for (; pos < text.size(); ++pos) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[pos])));
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0 || digit >= radix) break;
    value = value * radix + digit;
  }
  // Hexadecimal and octal integers of 16 bits are signed, as the language reads them.
  if (value >= 32768 && value <= 65535) value -= 65536;
  return value;
}

template <typename Int>
Int rounded(double value) {
  if (!std::isfinite(value)) return 0;
  const double r = std::nearbyint(value);  // the default rounding mode rounds ties to even
  if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
      r > static_cast<double>(std::numeric_limits<Int>::max())) {
    return 0;
  }
  return static_cast<Int>(r);
}

}  // namespace

double leading_number(std::string_view raw) {
  const std::string text = compact(raw);
  std::size_t pos = 0;
  if (text.size() >= 2 && text[0] == '&') {
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    if (kind == 'H') return radix_integer(text, 2, 16);
    if (kind == 'O') return radix_integer(text, 2, 8);
  }
  std::string number;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) number.push_back(text[pos++]);
  bool digits = false;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    number.push_back(text[pos++]);
    digits = true;
  }
  if (pos < text.size() && text[pos] == '.') {
    number.push_back(text[pos++]);
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
      number.push_back(text[pos++]);
      digits = true;
    }
  }
  if (!digits) return 0;
  if (pos < text.size() && (text[pos] == 'E' || text[pos] == 'e' || text[pos] == 'D' ||
                            text[pos] == 'd')) {
    std::string exponent = "e";
    std::size_t p = pos + 1;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) exponent.push_back(text[p++]);
    bool exponent_digits = false;
    while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
      exponent.push_back(text[p++]);
      exponent_digits = true;
    }
    if (exponent_digits) number += exponent;
  }
  const double value = std::strtod(number.c_str(), nullptr);
  return std::isfinite(value) ? value : 0;
}

std::int16_t leading_int16(std::string_view text) {
  return rounded<std::int16_t>(leading_number(text));
}

std::int32_t leading_int32(std::string_view text) {
  return rounded<std::int32_t>(leading_number(text));
}

}  // namespace driver
