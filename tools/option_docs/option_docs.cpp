// Writes the station's documents of its options from the one table the parser is built from
// (station::kOptions), so that no option exists without its line in them:
//   option_docs manual TEMPLATE OUT   the manual page: TEMPLATE with its OPTIONS section made
//   option_docs table OUT             README's option table (Markdown)
//   option_docs update-readme README  README's option table replaced by the current one
// In the manual page's template, the line `.\" @options` marks where the options go, and a
// block that begins `.\" option NAME` (up to the next such line or `.\" end of option details`)
// is the further description of --NAME, placed after its line. A block for an option the
// station does not take ends the program with status 1, as a wrong use does.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "station/command_line.h"

namespace {

using station::kOptions;
using station::OptionDescription;
using station::OptionGroup;

constexpr std::string_view kOptionsMark = ".\\\" @options";
constexpr std::string_view kDetailMark = ".\\\" option ";
constexpr std::string_view kDetailsEnd = ".\\\" end of option details";
constexpr std::string_view kTableBegin =
    "<!-- The option table: made from the station's options by tools/option_docs (CONTRIBUTING.md, "
    "\"The option table\"). -->";
constexpr std::string_view kTableEnd = "<!-- End of the option table. -->";

std::vector<OptionGroup> groups_in_use() {
  std::vector<OptionGroup> groups;
  for (const OptionDescription& row : kOptions) {
    if (std::find(groups.begin(), groups.end(), row.group) == groups.end()) {
      groups.push_back(row.group);
    }
  }
  std::sort(groups.begin(), groups.end());
  return groups;
}

std::string capitalised(std::string_view text) {
  std::string result(text);
  if (!result.empty())
    result[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(result[0])));
  return result;
}

// Text for roff: backslashes and dashes escaped, a line never starting with a control character.
std::string roff(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\') {
      escaped += "\\e";
    } else if (c == '-') {
      escaped += "\\-";
    } else {
      escaped += c;
    }
  }
  if (!escaped.empty() && (escaped[0] == '.' || escaped[0] == '\'')) escaped.insert(0, "\\&");
  return escaped;
}

std::string manual_options(const std::map<std::string, std::string, std::less<>>& details) {
  std::string text = ".SH OPTIONS\n";
  for (const OptionGroup group : groups_in_use()) {
    text += ".SS \"" + capitalised(station::group_name(group)) + "\"\n";
    for (const OptionDescription& row : kOptions) {
      if (row.group != group) continue;
      text += ".TP\n";
      if (!row.short_name.empty())
        text.append("\\fB\\-").append(roff(row.short_name)).append("\\fR, ");
      text.append("\\fB\\-\\-").append(roff(row.name)).append("\\fR");
      if (!row.value_name.empty()) text.append(" \\fI").append(roff(row.value_name)).append("\\fR");
      text.append("\n").append(roff(row.help)).append("\n");
      if (row.needs_simulate) text += "Needs\n.BR \\-\\-simulate .\n";
      if (const auto found = details.find(row.name); found != details.end()) {
        text += found->second;
      }
    }
  }
  return text;
}

bool read_lines(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream file(path);
  if (!file) return false;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return true;
}

bool write_text(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  return static_cast<bool>(file.flush());
}

bool takes_option(std::string_view name) {
  return std::any_of(std::begin(kOptions), std::end(kOptions),
                     [&](const OptionDescription& row) { return row.name == name; });
}

int write_manual(const std::string& template_path, const std::string& out) {
  std::vector<std::string> lines;
  if (!read_lines(template_path, lines)) {
    std::cerr << "option_docs: cannot read " << template_path << "\n";
    return 1;
  }
  std::map<std::string, std::string, std::less<>> details;
  std::vector<std::string> kept;
  std::string* detail = nullptr;
  for (const std::string& line : lines) {
    if (line.rfind(kDetailMark, 0) == 0) {
      const std::string name = line.substr(kDetailMark.size());
      if (!takes_option(name)) {
        std::cerr << "option_docs: " << template_path << " describes --" << name
                  << ", which the station does not take: take its block out of the template\n";
        return 1;
      }
      detail = &details[name];
    } else if (line == kDetailsEnd) {
      detail = nullptr;
    } else if (detail != nullptr) {
      *detail += line + "\n";
    } else {
      kept.push_back(line);
    }
  }
  std::string text;
  bool placed = false;
  for (const std::string& line : kept) {
    if (line == kOptionsMark) {
      text += manual_options(details);
      placed = true;
    } else {
      text += line + "\n";
    }
  }
  if (!placed) {
    std::cerr << "option_docs: " << template_path << " has no line " << kOptionsMark << "\n";
    return 1;
  }
  return write_text(out, text) ? 0 : 1;
}

std::string markdown(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '|') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// Between its two marker lines, both included.
std::string readme_table() {
  std::string text = std::string(kTableBegin) + "\n";
  for (const OptionGroup group : groups_in_use()) {
    text += "\n**" + capitalised(station::group_name(group)) + "**\n\n";
    text += "| Option | What it does |\n|---|---|\n";
    for (const OptionDescription& row : kOptions) {
      if (row.group != group) continue;
      text += "| ";
      if (!row.short_name.empty()) text.append("`-").append(row.short_name).append("`, ");
      text.append("`--").append(row.name);
      if (!row.value_name.empty()) text.append(" ").append(row.value_name);
      text.append("` | ").append(markdown(row.help));
      if (row.needs_simulate) text += " Needs `--simulate`.";
      text += " |\n";
    }
  }
  return text + "\n" + std::string(kTableEnd) + "\n";
}

int update_readme(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream read;
  read << file.rdbuf();
  const std::string text = read.str();
  const std::size_t begin = text.find(kTableBegin);
  const std::size_t end = text.find(kTableEnd);
  if (!file || begin == std::string::npos || end == std::string::npos || end < begin) {
    std::cerr << "option_docs: " << path << " has no option table between its two marker lines\n";
    return 1;
  }
  const std::size_t after = text.find('\n', end);
  const std::string updated = text.substr(0, begin) + readme_table() +
                              (after == std::string::npos ? "" : text.substr(after + 1));
  return write_text(path, updated) ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 3 && arguments[0] == "manual") {
    return write_manual(arguments[1], arguments[2]);
  }
  if (arguments.size() == 2 && arguments[0] == "table") {
    return write_text(arguments[1], readme_table()) ? 0 : 1;
  }
  if (arguments.size() == 2 && arguments[0] == "update-readme") return update_readme(arguments[1]);
  std::cerr << "usage: option_docs manual TEMPLATE OUT | table OUT | update-readme README\n";
  return 2;
}
