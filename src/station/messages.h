// What the station says on the command line, in one voice: every line starts with the program's
// name; a complaint says what was wrong and what to do, and ends with the same hint. Every
// message of the command line and of the commands without a display is formed here.
#pragma once

#include <string>
#include <string_view>

namespace station {

inline constexpr std::string_view kProgramName = "quor_station";
inline constexpr std::string_view kHelpHint = "Try 'quor_station --help'.";

// "quor_station: TEXT.\n": what a command did (an export's count, the modules listed).
std::string report_line(std::string_view text);

// "quor_station: WHAT WAS WRONG: WHAT TO DO.\nTry 'quor_station --help'.\n". Each part is a
// phrase; a full stop at its end is dropped, so that texts from elsewhere fit in.
std::string complaint(std::string_view what_was_wrong, std::string_view what_to_do);

// The parser's own complaint ("Unknown option 'bogus'.") in the station's voice, with what to
// do about it.
std::string parser_complaint(std::string_view parser_error);

}  // namespace station
