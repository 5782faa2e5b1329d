#include "driver/number_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

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

bool is_radix_digit(char c, int radix) {
  const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const int digit = (u >= '0' && u <= '9') ? u - '0' : (u >= 'A' && u <= 'F') ? u - 'A' + 10 : -1;
  return digit >= 0 && digit < radix;
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

// A number that from_chars found out of range: too large (infinity with its sign) or too small
// (0). Its magnitude is the place of its first significant digit plus its exponent.
double out_of_range(const std::string& number) {
  const std::size_t e = number.find('e');
  const std::string mantissa = number.substr(0, e);
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string::npos) return 0.0;
  const long long place = first < point ? static_cast<long long>(point - first)
                                        : -static_cast<long long>(first - point - 1);
  long long exponent = 0;
  if (e != std::string::npos) {
    // Digits past what a long long holds only make the exponent larger still.
    const std::string digits = number.substr(e + 1);
    const bool negative = !digits.empty() && digits[0] == '-';
    for (char c : digits) {
      if (c >= '0' && c <= '9') exponent = std::min(exponent * 10 + (c - '0'), 1'000'000'000LL);
    }
    if (negative) exponent = -exponent;
  }
  if (place + exponent <= 0) return 0.0;
  const double infinity = std::numeric_limits<double>::infinity();
  return number[0] == '-' ? -infinity : infinity;
}

}  // namespace

double leading_number(std::string_view raw) { return leading_number_if_any(raw).value_or(0); }

std::optional<double> leading_number_if_any(std::string_view raw) {
  const std::string text = compact(raw);
  std::size_t pos = 0;
  if (text.size() >= 2 && text[0] == '&') {
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    const int radix = kind == 'H' ? 16 : kind == 'O' ? 8 : 0;
    if (radix != 0) {
      if (text.size() < 3 || !is_radix_digit(text[2], radix)) return std::nullopt;
      return radix_integer(text, 2, radix);
    }
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
  if (!digits) return std::nullopt;
  if (pos < text.size() &&
      (text[pos] == 'E' || text[pos] == 'e' || text[pos] == 'D' || text[pos] == 'd')) {
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
  // Read with "." as the decimal point whatever the process locale says.
  if (number.front() == '+') number.erase(0, 1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error == std::errc::result_out_of_range) return out_of_range(number);
  if (error != std::errc() || !std::isfinite(value)) return 0.0;
  return value;
}

std::int16_t leading_int16(std::string_view text) {
  return rounded<std::int16_t>(leading_number(text));
}

std::int32_t leading_int32(std::string_view text) {
  return rounded<std::int32_t>(leading_number(text));
}

std::string basic_number_text(double value) {
  const float single = static_cast<float>(value);
  if (std::isnan(single)) return " NaN";
  const std::string sign = std::signbit(single) && single != 0 ? "-" : " ";
  if (std::isinf(single)) return sign + "Inf";
  if (single == 0) return " 0";

  // Seven significant digits of the single-precision value, rounded from its exact binary
  // value: "d.dddddde[+-]xx", written without the process locale.
  char scientific[32];
  const std::to_chars_result written =
      std::to_chars(scientific, scientific + sizeof scientific,
                    std::fabs(static_cast<double>(single)), std::chars_format::scientific, 6);
  const std::string_view written_text(scientific,
                                      static_cast<std::size_t>(written.ptr - scientific));
  std::string digits;
  digits.push_back(written_text[0]);
  digits.append(written_text.substr(2, 6));
  const std::size_t exponent_at = written_text.find('e') + 1;
  int exponent = 0;
  const bool negative_exponent = written_text[exponent_at] == '-';
  static_cast<void>(std::from_chars(written_text.data() + exponent_at + 1,
                                    written_text.data() + written_text.size(), exponent));
  if (negative_exponent) exponent = -exponent;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string text = sign;
  if (exponent >= 7 || exponent < -4) {
    text.push_back(digits.front());
    if (digits.size() > 1) {
      text.push_back('.');
      text.append(digits, 1, std::string::npos);
    }
    text.push_back('E');
    text.push_back(exponent < 0 ? '-' : '+');
    const std::string magnitude = std::to_string(std::abs(exponent));
    if (magnitude.size() < 2) text.push_back('0');
    text.append(magnitude);
    return text;
  }
  if (exponent < 0) {
    text.push_back('.');
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text.append(digits);
    return text;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= whole) {
    text.append(digits);
    text.append(whole - digits.size(), '0');
    return text;
  }
  text.append(digits, 0, whole);
  text.push_back('.');
  text.append(digits, whole, std::string::npos);
  return text;
}

}  // namespace driver
