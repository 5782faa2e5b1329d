// The text side of a module's message-based command set: splitting a command into its header
// and argument, matching SCPI headers in their short and long forms, reading the numbers the
// commands carry, and the SCPI error numbers and texts the module reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// One entry of the module's error queue, as SYST:ERR? reports it: -113,"Undefined header".
struct ScpiError {
  int code = 0;
  std::string message;
};

// SCPI error numbers the command parser pushes.
inline constexpr int kScpiSyntaxError = -102;
inline constexpr int kScpiDataTypeError = -104;
inline constexpr int kScpiParameterNotAllowed = -108;
inline constexpr int kScpiMissingParameter = -109;
inline constexpr int kScpiUndefinedHeader = -113;
inline constexpr int kScpiIllegalParameterValue = -224;
inline constexpr int kScpiQueueOverflow = -350;

// The text of a SCPI error number ("Undefined header"); "Error" for one not listed above.
const char* scpi_message(int code);

std::string lower_text(std::string_view text);
bool is_blank(char c);
// Without blanks (spaces, tabs, line ends) around it.
std::string_view trim(std::string_view text);
// The form in which commands are compared: no blanks around it, lower case.
std::string normalized(std::string_view command);

// A command split at the first blank: "rout:clos out1" gives "rout:clos" and "out1".
struct CommandParts {
  std::string_view header;
  std::string_view argument;  // without blanks around it
  bool query() const { return !header.empty() && header.back() == '?'; }
};
// `text` must be trimmed.
CommandParts split_command(std::string_view text);

// A whole header against a pattern such as "SYSTem:ERRor?", whose upper-case letters are the
// short form of each colon-separated part; case is ignored and a leading colon is allowed.
bool header_is(std::string_view header, std::string_view pattern);

// Unsigned decimal with optional blanks around it and leading zeros ("  04", "00010").
std::optional<std::uint32_t> parse_unsigned(std::string_view text);
// Decimal number such as " 1.2", "-.1", "100"; "." is the decimal point in every locale.
std::optional<double> parse_number(std::string_view text);
// Number with an optional "#H" prefix for hexadecimal ("#H86c5").
std::optional<std::uint32_t> parse_register_value(std::string_view text);

}  // namespace sim
