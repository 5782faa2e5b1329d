// The simulated module's command parser, alone and behind the chassis's message-based calls:
// whatever a command holds, the module answers or queues a SCPI error.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/command_parser.h"
#include "sim/sim_chassis.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view trimmed = sim::trim(text);
  const sim::CommandParts parts = sim::split_command(trimmed);
  if (parts.header.size() + parts.argument.size() > trimmed.size()) std::abort();
  (void)sim::header_is(parts.header, "SYSTem:ERRor?");
  (void)sim::normalized(text);
  (void)sim::parse_unsigned(parts.argument);
  (void)sim::parse_number(parts.argument);
  (void)sim::parse_register_value(parts.argument);

  // The same text sent to a module, then a reply read (an error text when the command was not
  // a query) and the error queue's next entry. One chassis and session for the whole run: the
  // module keeps what earlier commands set, as a real one would.
  static sim::VirtualClock clock;
  static sim::SimChassis chassis(sim::benches::standard(), clock);
  static const visa::ViSession session = [] {
    visa::ViSession manager = 0;
    visa::ViSession opened = 0;
    if (chassis.viOpenDefaultRM(&manager) != visa::VI_SUCCESS ||
        chassis.viOpen(manager, "VXI0::8::INSTR", 0, 0, &opened) != visa::VI_SUCCESS) {
      std::abort();
    }
    chassis.viSetAttribute(opened, visa::VI_ATTR_TMO_VALUE, 10);
    return opened;
  }();
  visa::ViUInt32 returned = 0;
  chassis.viWrite(session, data, static_cast<visa::ViUInt32>(size), &returned);
  std::array<unsigned char, 256> reply{};
  chassis.viRead(session, reply.data(), reply.size(), &returned);
  if (returned > reply.size()) std::abort();
  const std::string error = "SYST:ERR?";
  chassis.viWrite(session, reinterpret_cast<const unsigned char*>(error.data()),
                  static_cast<visa::ViUInt32>(error.size()), &returned);
  chassis.viRead(session, reply.data(), reply.size(), &returned);
  if (chassis.open_session_count() != 1) std::abort();
  return 0;
}
