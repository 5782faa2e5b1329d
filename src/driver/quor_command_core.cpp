// The command core: every message-based command goes through quor_cmd, which checks the
// module's status byte after the command so that a rejected command comes back as an error.
#include <algorithm>
#include <array>

#include "driver/number_text.h"
#include "driver/quor_driver.h"
#include "driver/status_rules.h"

namespace driver {

using visa::ViSession;
using visa::ViStatus;

std::string fixed_text(std::string_view text, std::size_t length) {
  std::string result(text.substr(0, length));
  result.resize(length, ' ');
  return result;
}

QuorDriver::QuorDriver(visa::VisaLibrary& library, DriverState& state, Operator& person,
                       EventPump& pump)
    : library_(library), state_(state), person_(person), pump_(pump) {}

ViStatus QuorDriver::quor_check_session(ViSession session) {
  return session == 0 ? visa::VI_ERROR_INV_OBJECT : visa::VI_SUCCESS;
}

ViStatus QuorDriver::quor_check_range(std::int16_t value, std::int16_t low, std::int16_t high,
                                      ViStatus code) {
  return (value < low || value > high) ? code : visa::VI_SUCCESS;
}

ViStatus QuorDriver::write_text(ViSession session, std::string_view text) {
  return library_.viWrite(session, reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<visa::ViUInt32>(text.size()), &state_.returned_count);
}

ViStatus QuorDriver::read_reply(ViSession session, std::string& text) {
  std::array<unsigned char, kReplyBufferSize> buffer{};
  state_.returned_count = 0;
  const ViStatus status =
      library_.viRead(session, buffer.data(), kReplyBufferSize, &state_.returned_count);
  // Only the bytes the library says it read belong to the reply.
  const std::size_t count = std::min<std::size_t>(state_.returned_count, kReplyBufferSize);
  state_.reply_buffer.assign(reinterpret_cast<const char*>(buffer.data()), count);
  if (status >= visa::VI_SUCCESS) text = state_.reply_buffer;
  return status;
}

ViStatus QuorDriver::quor_cmd(ViSession session, std::string_view command, std::string& reply) {
  reply.clear();
  ViStatus result = visa::VI_SUCCESS;
  if (const ViStatus check = quor_check_session(session); check != visa::VI_SUCCESS) return check;

  ViStatus status = write_text(session, command);
  if (keep_status(status, result)) return result;

  // One reply is read for a query, however many "?" the command holds.
  if (command.find('?') != std::string_view::npos) {
    status = read_reply(session, reply);
    if (keep_status(status, result)) return result;
  }

  status = write_text(session, "*STB?");
  if (keep_status(status, result)) return result;

  std::string status_reply;
  status = read_reply(session, status_reply);
  if (keep_status(status, result)) return result;

  const std::int16_t status_byte = leading_int16(status_reply);
  if ((status_byte & kStatusByteErrorBit) != 0) result = QUOR_ERROR_INSTRUMENT;
  return result;
}

ViStatus QuorDriver::quor_close(ViSession session) {
  if (const ViStatus check = quor_check_session(session); check != visa::VI_SUCCESS) return check;
  const ViStatus status = library_.viClose(session);
  // The manager that the driver's init opened for this session goes with it.
  if (const auto it = state_.init_managers.find(session); it != state_.init_managers.end()) {
    close_manager(it->second);
    state_.init_managers.erase(it);
  }
  return status;
}

void QuorDriver::close_manager(ViSession manager) {
  if (library_.viClose(manager) < visa::VI_SUCCESS) state_.managers_left_open.push_back(manager);
}

void QuorDriver::close_managers_left_open() {
  for (const ViSession manager : state_.managers_left_open) {
    if (manager != state_.default_rm) library_.viClose(manager);
  }
  state_.managers_left_open.clear();
}

}  // namespace driver
