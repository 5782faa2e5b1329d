// The faults an engineer can put on a simulated module by name ("stuck-receive-bit@8"), for
// training technicians and for the fault-detection matrix: one table of names, one-line
// descriptions and the setter each one calls.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sim {

class SimChassis;
class SimModule;

// The UUT of the standard bench: where a fault goes when its name gives no address.
inline constexpr std::int16_t kDefaultFaultAddress = 8;

struct FaultEntry {
  const char* name;
  const char* description;
  // Puts the fault on `module` of `chassis`.
  void (*apply)(SimChassis& chassis, SimModule& module);
};

// Every fault, in the order --fault help lists them.
std::span<const FaultEntry> fault_catalogue();
const FaultEntry* find_fault(std::string_view name);

struct FaultRequest {
  const FaultEntry* entry = nullptr;
  std::int16_t logical_address = kDefaultFaultAddress;
};

struct ParsedFault {
  std::optional<FaultRequest> request;
  std::string error;  // set when the text names no fault or a bad address
};

// "NAME" or "NAME@LA" (LA a logical address 0 to 255).
ParsedFault parse_fault(std::string_view text);

// "NAME@LA".
std::string fault_label(const FaultRequest& request);

// Puts the fault on its module; returns an empty text, or why it could not (no such module).
std::string apply_fault(SimChassis& chassis, const FaultRequest& request);

// One line per fault: its name and its description, for the command line's help.
std::string fault_list_text();

}  // namespace sim
