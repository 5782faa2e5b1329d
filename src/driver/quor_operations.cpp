// Instrument-driver operations: search the chassis for Quor Bus modules, open one with an
// optional identity check and reset, reset it, validate a mode.
#include <algorithm>
#include <array>

#include "driver/quor_driver.h"
#include "driver/status_rules.h"

namespace driver {

using visa::ViSession;
using visa::ViStatus;

namespace {

constexpr std::uint16_t low12(visa::ViAttrState value) {
  return static_cast<std::uint16_t>(value & 0x0FFFU);
}

}  // namespace

ViStatus QuorDriver::quor_find_modules(std::span<std::int16_t> logical_addresses,
                                       std::span<std::int16_t> slots,
                                       std::span<std::uint16_t> interface_numbers,
                                       std::int16_t& count, std::int16_t& gpib_vxi) {
  ViStatus result = visa::VI_SUCCESS;
  ViStatus status = library_.viOpenDefaultRM(&state_.default_rm);
  if (keep_status(status, result)) return result;

  std::array<visa::ViChar, visa::VI_FIND_BUFLEN + 1> name{};
  visa::ViFindList list = 0;
  visa::ViUInt32 matches = 0;
  status =
      library_.viFindRsrc(state_.default_rm, kQuorSearchExpression, &list, &matches, name.data());
  if (keep_status(status, result)) {
    close_manager(state_.default_rm);
    return result;
  }

  gpib_vxi = name[0] == 'V' ? 0 : 1;
  count = 0;
  // The table holds one entry per possible logical address; modules past it are not recorded.
  const std::size_t capacity =
      std::min({logical_addresses.size(), slots.size(), interface_numbers.size()});

  for (visa::ViUInt32 i = 0; i < matches; ++i) {
    name[visa::VI_FIND_BUFLEN] = '\0';
    ViSession module = 0;
    status = library_.viOpen(state_.default_rm, name.data(), 0, 0, &module);
    if (keep_status(status, result)) break;

    visa::ViAttrState model = 0;
    status = library_.viGetAttribute(module, visa::VI_ATTR_MODEL_CODE, &model);
    if (keep_status(status, result)) break;
    if (model == kQuorModelCode && static_cast<std::size_t>(count) < capacity) {
      visa::ViAttrState la = 0;
      visa::ViAttrState slot = 0;
      visa::ViAttrState interface_number = 0;
      status = library_.viGetAttribute(module, visa::VI_ATTR_VXI_LA, &la);
      if (keep_status(status, result)) break;
      status = library_.viGetAttribute(module, visa::VI_ATTR_SLOT, &slot);
      if (keep_status(status, result)) break;
      status = library_.viGetAttribute(module, visa::VI_ATTR_INTF_NUM, &interface_number);
      if (keep_status(status, result)) break;
      const auto index = static_cast<std::size_t>(count);
      logical_addresses[index] = static_cast<std::int16_t>(la);
      slots[index] = static_cast<std::int16_t>(slot);
      interface_numbers[index] = static_cast<std::uint16_t>(interface_number);
      ++count;
    }
    status = library_.viClose(module);
    if (keep_status(status, result)) break;
    if (i + 1 < matches) {
      status = library_.viFindNext(list, name.data());
      if (keep_status(status, result)) break;
    }
  }
  // Closing the manager releases the find list and any module session left open by a failure.
  close_manager(state_.default_rm);
  return result;
}

ViStatus QuorDriver::quor_init(const std::string& resource, std::int16_t id_query,
                               std::int16_t reset, ViSession& session) {
  session = 0;
  if (const ViStatus s = quor_check_range(id_query, 0, 1, visa::VI_ERROR_PARAMETER2); s != 0) {
    return s;
  }
  if (const ViStatus s = quor_check_range(reset, 0, 1, visa::VI_ERROR_PARAMETER3); s != 0) {
    return s;
  }

  ViStatus result = visa::VI_SUCCESS;
  ViSession manager = 0;
  ViStatus status = library_.viGetDefaultRM(&manager);
  if (keep_status(status, result)) return result;

  const auto fail = [&](ViStatus code) {
    if (session != 0) library_.viClose(session);
    session = 0;
    close_manager(manager);
    return code;
  };

  status = library_.viOpen(manager, resource.c_str(), 0, 0, &session);
  if (keep_status(status, result)) {
    session = 0;  // nothing was opened, whatever the library left here
    return fail(status);
  }

  if (id_query == 1) {
    visa::ViAttrState value = 0;
    status = library_.viGetAttribute(session, visa::VI_ATTR_MANF_ID, &value);
    if (keep_status(status, result)) return fail(status);
    if (low12(value) != kQuorManufacturerId) return fail(QUOR_ERROR_MANF_ID);
    status = library_.viGetAttribute(session, visa::VI_ATTR_MODEL_CODE, &value);
    if (keep_status(status, result)) return fail(status);
    if (low12(value) != kQuorModelCode) return fail(QUOR_ERROR_MODEL_CODE);
  }
  if (reset == 1) {
    status = quor_reset(session);
    if (keep_status(status, result)) return fail(status);
  }
  status = library_.viSetAttribute(session, visa::VI_ATTR_TMO_VALUE, kInitTimeoutMs);
  if (keep_status(status, result)) return fail(status);

  state_.init_managers[session] = manager;
  return result;
}

ViStatus QuorDriver::quor_reset(ViSession session) {
  if (const ViStatus check = quor_check_session(session); check != visa::VI_SUCCESS) return check;
  std::string reply;
  return quor_cmd(session, "*RST", reply);
}

ViStatus QuorDriver::quor_configure_mode(ViSession session, std::int16_t mode) {
  if (const ViStatus check = quor_check_session(session); check != visa::VI_SUCCESS) return check;
  return quor_check_range(mode, 0, 7, visa::VI_ERROR_PARAMETER2);
}

}  // namespace driver
