#include "sim/command_parser.h"

#include <cctype>
#include <charconv>

namespace sim {
namespace {

// One colon-separated part of a SCPI header against its pattern, whose upper-case letters
// are the short form ("ROUTe" accepts "rout" and "route").
bool node_matches(std::string_view part, std::string_view pattern) {
  std::string short_form;
  for (char c : pattern) {
    if (std::islower(static_cast<unsigned char>(c)) == 0) short_form += c;
  }
  const std::string text = lower_text(part);
  return text == lower_text(short_form) || text == lower_text(pattern);
}

}  // namespace

const char* scpi_message(int code) {
  switch (code) {
    case kScpiSyntaxError:
      return "Syntax error";
    case kScpiDataTypeError:
      return "Data type error";
    case kScpiParameterNotAllowed:
      return "Parameter not allowed";
    case kScpiMissingParameter:
      return "Missing parameter";
    case kScpiUndefinedHeader:
      return "Undefined header";
    case kScpiIllegalParameterValue:
      return "Illegal parameter value";
    case kScpiQueueOverflow:
      return "Queue overflow";
    default:
      return "Error";
  }
}

std::string lower_text(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string normalized(std::string_view command) { return lower_text(trim(command)); }

CommandParts split_command(std::string_view text) {
  std::size_t split = 0;
  while (split < text.size() && !is_blank(text[split])) ++split;
  return CommandParts{text.substr(0, split), trim(text.substr(split))};
}

bool header_is(std::string_view header, std::string_view pattern) {
  if (!header.empty() && header.front() == ':') header.remove_prefix(1);
  const bool pattern_query = !pattern.empty() && pattern.back() == '?';
  const bool header_query = !header.empty() && header.back() == '?';
  if (pattern_query != header_query) return false;
  if (pattern_query) {
    pattern.remove_suffix(1);
    header.remove_suffix(1);
  }
  while (true) {
    const std::size_t hp = header.find(':');
    const std::size_t pp = pattern.find(':');
    if ((hp == std::string_view::npos) != (pp == std::string_view::npos)) return false;
    if (!node_matches(header.substr(0, hp), pattern.substr(0, pp))) return false;
    if (hp == std::string_view::npos) return true;
    header.remove_prefix(hp + 1);
    pattern.remove_prefix(pp + 1);
  }
}

std::optional<std::uint32_t> parse_unsigned(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> parse_number(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::uint32_t> parse_register_value(std::string_view text) {
  text = trim(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '#' && (text[1] == 'H' || text[1] == 'h')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace sim
