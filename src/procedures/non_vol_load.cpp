#include "procedures/non_vol_load.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <system_error>

namespace procedures {
namespace {

std::string trimmed(const std::string& text) {
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && blank(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && blank(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

// The whole text as a number ("24", "-1", "2.5E1", "&H18"); nothing when it is not one.
std::optional<double> whole_number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  if (text.size() > 2 && text[0] == '&') {
    // "&H" hexadecimal and "&O" octal integers; 16 bits of them are signed.
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    if (kind != 'H' && kind != 'O') return std::nullopt;
    const std::string digits = text.substr(2);
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(digits.c_str(), &end, kind == 'H' ? 16 : 8);
    if (end == digits.c_str() || *end != '\0' || digits[0] == '-' || digits[0] == '+') {
      return std::nullopt;
    }
    if (errno == ERANGE || value > 0xFFFFU) return std::numeric_limits<double>::infinity();
    return static_cast<double>(value >= 0x8000U ? static_cast<long>(value) - 0x10000L
                                                : static_cast<long>(value));
  }
  // Only what a number may hold: sign, digits, point, exponent.
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0 && c != '+' && c != '-' && c != '.' &&
        c != 'e' && c != 'E') {
      return std::nullopt;
    }
  }
  // Read with "." as the decimal point whatever the process locale says.
  std::string_view number(text);
  if (number.size() > 1 && number.front() == '+' && number[1] != '-') number.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (end != number.data() + number.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    // Too large overflows; too small (a negative exponent) is 0.
    const std::size_t exponent = number.find_first_of("eE");
    const bool tiny = exponent != std::string_view::npos && exponent + 1 < number.size() &&
                      number[exponent + 1] == '-';
    return tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  if (error != std::errc()) return std::nullopt;
  return value;
}

}  // namespace

AddressConversion convert_address(const std::optional<std::string>& answer) {
  AddressConversion result;
  const std::optional<double> number = whole_number(trimmed(answer.value_or("")));
  if (!number) {
    result.error = non_vol_text::kTypeMismatch;
    return result;
  }
  const double rounded = std::nearbyint(*number);  // ties to even
  if (!std::isfinite(rounded) || rounded < -32768.0 || rounded > 32767.0) {
    result.error = non_vol_text::kOverflow;
    return result;
  }
  result.value = static_cast<std::int16_t>(rounded);
  return result;
}

NonVolLoad::NonVolLoad(core::Station& station, std::function<void()> end_program)
    : station_(station), end_program_(std::move(end_program)) {}

void NonVolLoad::load_non_vol() {
  // The program ends only once the units are released, so that the run is told as ended.
  if (!load_on_units()) end_program_();
}

bool NonVolLoad::load_on_units() {
  const core::ProcedureScope units(station_, core::procedure(core::ProcedureKind::load_non_vol));
  if (!units.claimed()) return true;
  const AddressConversion address =
      convert_address(station_.person.input(non_vol_text::kPrompt, non_vol_text::kDefaultAnswer));
  if (!address.value) {
    station_.person.message(address.error);
    station_.person.message(non_vol_text::kShutDown);
    station_.run.outcome = core::Outcome::failed;
    return false;
  }
  state_.address = *address.value;
  state_.resource = "VXI0::" + std::to_string(state_.address) + "::INSTR";
  station_.run.non_vol_address = state_.address;
  station_.run.resource = state_.resource;

  driver::DriverState& driver = station_.driver_state;
  bool all_succeeded = true;
  const auto note = [&](visa::ViStatus status) {
    driver.last_visa_status = status;
    if (status < visa::VI_SUCCESS) all_succeeded = false;
  };
  state_.session = 0;
  note(station_.visa.viOpenDefaultRM(&state_.manager));
  note(station_.visa.viOpen(state_.manager, state_.resource.c_str(), 0, 0, &state_.session));
  for (const char* line : kNonVolLines) {
    const std::string text(line);
    note(station_.visa.viWrite(state_.session, reinterpret_cast<const unsigned char*>(text.data()),
                               static_cast<visa::ViUInt32>(text.size()), &driver.returned_count));
  }
  station_.person.message(non_vol_text::kLoaded);
  note(station_.visa.viClose(state_.session));
  station_.run.outcome = all_succeeded ? core::Outcome::passed : core::Outcome::failed;
  return true;
}

}  // namespace procedures
