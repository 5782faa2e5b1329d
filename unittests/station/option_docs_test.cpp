// The documents of the options, as the build makes them from the parser's table: every option
// has its line in the manual page the package installs and in README's option table, and
// README's table is the one the build makes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "station/command_line.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string roff_name(std::string_view name) {
  std::string escaped = "\\fB\\-\\-";
  for (const char c : name) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
  return escaped + "\\fR";
}

TEST(OptionDocsTest, EveryOptionHasItsLineInTheManualPageAndInReadme) {
  const std::vector<std::string> manual = lines_of(read_file(QUOR_MANUAL_PAGE_PATH));
  ASSERT_FALSE(manual.empty()) << QUOR_MANUAL_PAGE_PATH;
  const std::string readme = read_file(QUOR_README_PATH);
  const std::string table = read_file(QUOR_OPTION_TABLE_PATH);
  ASSERT_FALSE(table.empty()) << QUOR_OPTION_TABLE_PATH;
  EXPECT_NE(readme.find(table), std::string::npos)
      << "README's option table is not the one the options make: refresh it with\n"
         "  cmake --build build --target update_readme_options";
  const std::vector<std::string> readme_lines = lines_of(readme);

  for (const station::OptionDescription& row : station::kOptions) {
    const std::string name(row.name);
    // The option's line in OPTIONS: a tagged paragraph whose tag names it (after its short name),
    // then its text, and that it needs --simulate where it does.
    std::string tag = roff_name(name);
    if (!row.short_name.empty()) tag = "\\fB\\-" + std::string(row.short_name) + "\\fR, " + tag;
    int tagged = 0;
    for (std::size_t i = 1; i + 2 < manual.size(); ++i) {
      if (manual[i - 1] != ".TP" || manual[i].rfind(tag, 0) != 0) continue;
      ++tagged;
      EXPECT_EQ(manual[i + 2] == "Needs", row.needs_simulate) << name;
    }
    EXPECT_EQ(tagged, 1) << "--" << name << " in the manual page";

    int listed = 0;
    for (const std::string& line : readme_lines) {
      if (line.rfind("| `--" + name + "`", 0) == 0 || line.rfind("| `--" + name + " ", 0) == 0 ||
          line.find("`, `--" + name + "`") != std::string::npos) {
        ++listed;
        EXPECT_NE(line.find(std::string(row.help)), std::string::npos) << line;
      }
    }
    EXPECT_EQ(listed, 1) << "--" << name << " in README";
  }
  for (const std::string& line : manual) {
    EXPECT_EQ(line.rfind(".\\\" option ", 0), std::string::npos) << "a detail left: " << line;
    EXPECT_NE(line, ".\\\" @options");
  }
}

}  // namespace
