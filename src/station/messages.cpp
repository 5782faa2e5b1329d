#include "station/messages.h"

namespace station {
namespace {

std::string_view without_full_stop(std::string_view text) {
  while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string starting_lower(std::string_view text) {
  std::string lowered(text);
  // "Unknown option" reads "unknown option" after the program's name; a name ("VXI0") keeps
  // its capital.
  if (lowered.size() > 1 && lowered[0] >= 'A' && lowered[0] <= 'Z' && lowered[1] >= 'a' &&
      lowered[1] <= 'z') {
    lowered[0] = static_cast<char>(lowered[0] - 'A' + 'a');
  }
  return lowered;
}

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

}  // namespace

std::string report_line(std::string_view text) {
  return std::string(kProgramName) + ": " + std::string(without_full_stop(text)) + ".\n";
}

std::string complaint(std::string_view what_was_wrong, std::string_view what_to_do) {
  return std::string(kProgramName) + ": " + starting_lower(without_full_stop(what_was_wrong)) +
         ": " + std::string(without_full_stop(what_to_do)) + ".\n" + std::string(kHelpHint) + "\n";
}

std::string parser_complaint(std::string_view parser_error) {
  const std::string_view error = without_full_stop(parser_error);
  if (starts_with(error, "Unknown option")) {
    return complaint(error, "check its spelling");
  }
  if (starts_with(error, "Missing value")) return complaint(error, "give the option its value");
  if (starts_with(error, "Unexpected value")) {
    return complaint(error, "this option takes no value: leave the value out");
  }
  return complaint(error, "correct the command line");
}

}  // namespace station
