// VXI resource names of the simulated modules: "<type><board>::<logical address>[::INSTR]",
// such as "VXI0::8::INSTR" or "GPIB-VXI0::24::INSTR".
#pragma once

#include <string>
#include <string_view>

#include "visa/visa_types.h"

namespace sim {

struct ResourceName {
  std::string_view type;  // "VXI", "GPIB-VXI"; compared ignoring case
  long board = 0;
  long logical_address = 0;
};

// Reads a resource name; false when it is malformed.
bool parse_resource_name(std::string_view name, ResourceName* parsed);
// The full name of a module: prefix, board, "::", logical address, "::INSTR".
std::string resource_name(std::string_view prefix, unsigned board, int logical_address);
bool equal_ignoring_case(std::string_view a, std::string_view b);
// Copies `name` into a VISA name buffer, cut to VI_FIND_BUFLEN - 1 characters; null: nothing.
void copy_name(const std::string& name, visa::ViChar* buffer);

}  // namespace sim
