#include "sim/fault_catalogue.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <initializer_list>

#include "sim/sim_chassis.h"

namespace sim {
namespace {

DataBitFault stuck_high(std::uint8_t bits) {
  DataBitFault fault;
  fault.stuck_high = bits;
  return fault;
}

DataBitFault stuck_low(std::uint8_t bits) {
  DataBitFault fault;
  fault.stuck_low = bits;
  return fault;
}

DataBitFault flipped(std::uint8_t bits) {
  DataBitFault fault;
  fault.flipped = bits;
  return fault;
}

// Removes every bench cable that `matches`.
template <typename Match>
void cut_cables(SimChassis& chassis, Match matches) {
  const std::vector<Cable> cables = chassis.cables();
  for (const Cable& cable : cables) {
    if (matches(cable)) chassis.cut_cable(cable);
  }
}

std::string joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text.append(part.data(), part.size());
  return text;
}

constexpr std::uint32_t kMemoryFaultFirstByte = 0x2000;
constexpr std::uint32_t kMemoryFaultBytes = 0x200;
constexpr int kReadTimeoutCall = 20;
constexpr int kBusErrorCall = 500;
constexpr int kWriteErrorCall = 30;

constexpr std::array<FaultEntry, 18> kCatalogue{{
    {"dead-input-1", "input 1 (unprotected) receives nothing",
     [](SimChassis&, SimModule& m) { m.set_route_dead(Route::Unpr); }},
    {"dead-input-2", "input 2 (protected) receives nothing",
     [](SimChassis&, SimModule& m) { m.set_route_dead(Route::Prot); }},
    {"dead-output-1", "output 1 sends nothing",
     [](SimChassis&, SimModule& m) { m.set_route_dead(Route::Out1); }},
    {"dead-output-2", "output 2 sends nothing",
     [](SimChassis&, SimModule& m) { m.set_route_dead(Route::Out2); }},
    {"stuck-receive-bit", "received data bit 7 stuck at 1",
     [](SimChassis&, SimModule& m) { m.set_receive_data_fault(stuck_high(0x80)); }},
    {"dropped-receive-bit", "received data bit 0 stuck at 0",
     [](SimChassis&, SimModule& m) { m.set_receive_data_fault(stuck_low(0x01)); }},
    {"flipped-receive-bit", "received data bit 3 inverted",
     [](SimChassis&, SimModule& m) { m.set_receive_data_fault(flipped(0x08)); }},
    {"stuck-transmit-bit", "sent data bit 6 stuck at 1",
     [](SimChassis&, SimModule& m) { m.set_transmit_data_fault(stuck_high(0x40)); }},
    {"flipped-transmit-bit", "sent data bit 0 inverted",
     [](SimChassis&, SimModule& m) { m.set_transmit_data_fault(flipped(0x01)); }},
    {"cut-output-cable", "the cables from output 1 are cut",
     [](SimChassis& c, SimModule& m) {
       cut_cables(c, [&](const Cable& cable) {
         return cable.from_la == m.logical_address() && cable.output == Route::Out1;
       });
     }},
    {"cut-input-cable", "the cables into input 1 from other modules are cut",
     [](SimChassis& c, SimModule& m) {
       cut_cables(c, [&](const Cable& cable) {
         return cable.to_la == m.logical_address() && cable.input == Route::Unpr &&
                cable.from_la != m.logical_address();
       });
     }},
    {"repeated-frame", "every frame sent goes out twice",
     [](SimChassis&, SimModule& m) { m.set_repeated_frames(1); }},
    {"stamp-skew", "the time stamp jumps 5 counts before the fifth frame received",
     [](SimChassis&, SimModule& m) { m.set_stamp_skew(4, 5); }},
    {"self-test-fail", "*TST? reports 1 (self test failed)",
     [](SimChassis&, SimModule& m) { m.set_self_test_result(1); }},
    {"memory-bit-error", "bit 8 stuck at 1 in 256 words of PING from byte 0x2000",
     [](SimChassis&, SimModule& m) {
       m.set_memory_fault({kMemoryFaultFirstByte, kMemoryFaultBytes, 0x0100, 0});
     }},
    {"visa-read-timeout", "the 20th viRead of the module times out (VI_ERROR_TMO)",
     [](SimChassis&, SimModule& m) {
       m.fail_after(VisaFunction::Read, kReadTimeoutCall - 1, visa::VI_ERROR_TMO);
     }},
    {"visa-write-timeout", "the 30th viWrite to the module times out (VI_ERROR_TMO)",
     [](SimChassis&, SimModule& m) {
       m.fail_after(VisaFunction::Write, kWriteErrorCall - 1, visa::VI_ERROR_TMO);
     }},
    {"visa-bus-error", "the 500th viIn16 of the module fails (VI_ERROR_BERR)",
     [](SimChassis&, SimModule& m) {
       m.fail_after(VisaFunction::In16, kBusErrorCall - 1, visa::VI_ERROR_BERR);
     }},
}};

}  // namespace

std::span<const FaultEntry> fault_catalogue() { return kCatalogue; }

const FaultEntry* find_fault(std::string_view name) {
  for (const FaultEntry& entry : kCatalogue) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

ParsedFault parse_fault(std::string_view text) {
  ParsedFault parsed;
  const std::size_t at = text.find('@');
  const std::string_view name = text.substr(0, at);
  FaultRequest request;
  request.entry = find_fault(name);
  if (request.entry == nullptr) {
    parsed.error = joined({"unknown fault \"", name, "\" (--fault help lists them)"});
    return parsed;
  }
  if (at != std::string_view::npos) {
    const std::string_view address = text.substr(at + 1);
    int value = -1;
    const auto [end, error] =
        std::from_chars(address.data(), address.data() + address.size(), value);
    if (address.empty() || error != std::errc{} || end != address.data() + address.size() ||
        value < 0 || value > 255) {
      parsed.error =
          joined({"\"", address, "\" in --fault ", text, " is not a logical address (0 to 255)"});
      return parsed;
    }
    request.logical_address = static_cast<std::int16_t>(value);
  }
  parsed.request = request;
  return parsed;
}

std::string fault_label(const FaultRequest& request) {
  return std::string(request.entry->name) + "@" + std::to_string(request.logical_address);
}

std::string apply_fault(SimChassis& chassis, const FaultRequest& request) {
  SimModule* module = chassis.module_at(request.logical_address);
  if (module == nullptr) {
    return "no module at logical address " + std::to_string(request.logical_address) + " for " +
           request.entry->name;
  }
  request.entry->apply(chassis, *module);
  return {};
}

std::string fault_list_text() {
  std::size_t width = 0;
  for (const FaultEntry& entry : kCatalogue)
    width = std::max(width, std::string(entry.name).size());
  std::string text;
  for (const FaultEntry& entry : kCatalogue) {
    std::string name = entry.name;
    name.resize(width + 2, ' ');
    text += "  " + name + entry.description + "\n";
  }
  return text;
}

}  // namespace sim
