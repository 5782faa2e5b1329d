#include "sim/resource_name.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace sim {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

void copy_name(const std::string& name, visa::ViChar* buffer) {
  if (buffer == nullptr) return;
  const std::size_t length = std::min<std::size_t>(name.size(), visa::VI_FIND_BUFLEN - 1);
  std::memcpy(buffer, name.data(), length);
  buffer[length] = '\0';
}

std::string resource_name(std::string_view prefix, unsigned board, int logical_address) {
  return std::string(prefix) + std::to_string(board) + "::" + std::to_string(logical_address) +
         "::INSTR";
}

bool parse_resource_name(std::string_view name, ResourceName* parsed) {
  std::size_t i = 0;
  while (i < name.size() &&
         (std::isalpha(static_cast<unsigned char>(name[i])) != 0 || name[i] == '-')) {
    ++i;
  }
  if (i == 0) return false;
  parsed->type = name.substr(0, i);
  name.remove_prefix(i);
  std::size_t digits = 0;
  while (digits < name.size() && std::isdigit(static_cast<unsigned char>(name[digits])) != 0) {
    ++digits;
  }
  parsed->board = 0;
  if (digits > 0) {
    const auto result = std::from_chars(name.data(), name.data() + digits, parsed->board);
    if (result.ec != std::errc()) return false;
  }
  name.remove_prefix(digits);
  if (name.substr(0, 2) != "::") return false;
  name.remove_prefix(2);
  const auto [end, error] =
      std::from_chars(name.data(), name.data() + name.size(), parsed->logical_address);
  if (error != std::errc() || end == name.data()) return false;
  name.remove_prefix(static_cast<std::size_t>(end - name.data()));
  return name.empty() || equal_ignoring_case(name, "::INSTR");
}

}  // namespace sim
