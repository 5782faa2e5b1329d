#include "sim/sim_chassis.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "sim/chassis_handles.h"
#include "sim/quor_firmware.h"
#include "sim/resource_expression.h"
#include "sim/resource_name.h"
#include "sim/sim_status.h"

namespace sim {

using namespace visa;

namespace {

constexpr std::size_t index_of(VisaFunction function) { return static_cast<std::size_t>(function); }

}  // namespace

struct SimChassis::Impl final : Backplane {
  Impl(BenchConfig bench_config, Clock& chassis_clock)
      : bench(std::move(bench_config)), clock(chassis_clock) {
    modules.reserve(bench.modules.size());
    for (const ModuleConfig& config : bench.modules) {
      modules.push_back(std::make_unique<SimModule>(config));
      firmwares.push_back(std::make_unique<QuorFirmware>(*this));
      modules.back()->set_firmware(firmwares.back().get());
    }
  }

  SimModule* module_at(std::int16_t logical_address) const {
    for (const auto& module : modules) {
      if (module->logical_address() == logical_address) return module.get();
    }
    return nullptr;
  }

  void note_command(std::int16_t logical_address, std::string_view text) {
    command_log.push_back({logical_address, std::string(text)});
  }

  // --- Backplane ---
  std::uint64_t catch_up() override {
    const std::uint64_t now = clock.now_us();
    for (const auto& module : modules) module->run_firmware(now);
    return now;
  }

  void send(SimModule& from, std::span<const std::uint16_t> frame, std::uint64_t at_us) override {
    struct Reached {
      SimModule* module;
      Route input;
    };
    std::vector<Reached> reached;
    for (const Cable& cable : bench.cables) {
      if (cable.from_la != from.logical_address() || !is_output(cable.output) ||
          !from.route_closed(cable.output) || from.route_dead(cable.output)) {
        continue;
      }
      SimModule* to = module_at(cable.to_la);
      if (to == nullptr || !is_input(cable.input) || !to->route_closed(cable.input) ||
          to->route_dead(cable.input)) {
        continue;
      }
      // One signal: a module reached over several cables or inputs takes the frame once.
      if (std::none_of(reached.begin(), reached.end(),
                       [&](const Reached& r) { return r.module == to; })) {
        reached.push_back(Reached{to, cable.input});
      }
    }
    for (const Reached& r : reached) {
      if (Firmware* firmware = r.module->firmware(); firmware != nullptr) {
        firmware->on_frame(*r.module, frame, r.input, at_us);
      }
    }
  }

  std::string name_of(const SimModule& module) const {
    return resource_name(bench.resource_prefix, module.config().interface_number,
                         module.logical_address());
  }

  BenchConfig bench;
  Clock& clock;
  std::vector<std::unique_ptr<SimModule>> modules;  // stable addresses for sessions
  ChassisCommandHistory command_log;
  std::vector<std::unique_ptr<QuorFirmware>> firmwares;  // one per module, same order
  HandleTable handles;
  std::array<std::uint64_t, index_of(VisaFunction::Count_)> calls{};
  CallFaults faults;  // calls that belong to no module
};

SimChassis::SimChassis(BenchConfig bench, Clock& clock)
    : impl_(std::make_unique<Impl>(std::move(bench), clock)) {}

SimChassis::~SimChassis() = default;

// --- Resource manager, search and sessions ---

ViStatus SimChassis::viOpenDefaultRM(ViSession* manager) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::OpenDefaultRM)];
  if (manager == nullptr) return kErrorUserBuf;
  *manager = VI_NULL;
  if (const ViStatus fault = d.faults.take(VisaFunction::OpenDefaultRM); fault != VI_SUCCESS) {
    return fault;
  }
  ChassisObject added;
  added.kind = ObjectKind::Manager;
  *manager = d.handles.add(std::move(added));
  return VI_SUCCESS;
}

ViStatus SimChassis::viFindRsrc(ViSession manager, const char* expression, ViFindList* list,
                                ViUInt32* count, ViChar first_name[VI_FIND_BUFLEN]) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::FindRsrc)];
  if (list != nullptr) *list = VI_NULL;
  if (count != nullptr) *count = 0;
  if (d.handles.find(manager, ObjectKind::Manager) == nullptr) return VI_ERROR_INV_OBJECT;
  if (const ViStatus fault = d.faults.take(VisaFunction::FindRsrc); fault != VI_SUCCESS) {
    return fault;
  }
  if (expression == nullptr) return VI_ERROR_INV_EXPR;
  const ResourceExpression compiled(expression);
  if (!compiled.valid()) return VI_ERROR_INV_EXPR;

  std::vector<std::string> matches;
  for (const auto& module : d.modules) {
    std::string name = d.name_of(*module);
    if (compiled.matches(name)) matches.push_back(std::move(name));
  }
  if (matches.empty()) return VI_ERROR_RSRC_NFOUND;

  if (count != nullptr) *count = static_cast<ViUInt32>(matches.size());
  copy_name(matches.front(), first_name);
  if (list != nullptr) {
    ChassisObject added;
    added.kind = ObjectKind::FindList;
    added.manager = manager;
    added.names = std::move(matches);
    added.next = 1;
    *list = d.handles.add(std::move(added));
  }
  return VI_SUCCESS;
}

ViStatus SimChassis::viFindNext(ViFindList list, ViChar next_name[VI_FIND_BUFLEN]) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::FindNext)];
  ChassisObject* found = d.handles.find(list, ObjectKind::FindList);
  if (found == nullptr) return VI_ERROR_INV_OBJECT;
  if (const ViStatus fault = d.faults.take(VisaFunction::FindNext); fault != VI_SUCCESS) {
    return fault;
  }
  if (found->next >= found->names.size()) return VI_ERROR_RSRC_NFOUND;
  copy_name(found->names[found->next++], next_name);
  return VI_SUCCESS;
}

ViStatus SimChassis::viOpen(ViSession manager, const char* resource, ViUInt32 /*access_mode*/,
                            ViUInt32 /*open_timeout*/, ViSession* session) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::Open)];
  if (session != nullptr) *session = VI_NULL;
  if (d.handles.find(manager, ObjectKind::Manager) == nullptr) return VI_ERROR_INV_OBJECT;
  if (session == nullptr) return kErrorUserBuf;
  if (const ViStatus fault = d.faults.take(VisaFunction::Open); fault != VI_SUCCESS) {
    return fault;
  }
  ResourceName parsed;
  if (resource == nullptr || !parse_resource_name(resource, &parsed)) {
    return VI_ERROR_INV_RSRC_NAME;
  }
  if (!equal_ignoring_case(parsed.type, d.bench.resource_prefix)) return VI_ERROR_RSRC_NFOUND;
  const auto found = std::find_if(d.modules.begin(), d.modules.end(), [&](const auto& module) {
    return module->config().interface_number == parsed.board &&
           module->logical_address() == parsed.logical_address;
  });
  if (found == d.modules.end()) return VI_ERROR_RSRC_NFOUND;
  SimModule& module = **found;
  if (const ViStatus fault = module.take_fault(VisaFunction::Open); fault != VI_SUCCESS) {
    return fault;
  }
  if (module.config().open_fails) return kErrorRsrcBusy;

  ChassisObject added;
  added.kind = ObjectKind::Session;
  added.manager = manager;
  added.module = &module;
  *session = d.handles.add(std::move(added));
  return VI_SUCCESS;
}

ViStatus SimChassis::viClose(ViObject object) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::Close)];
  ChassisObject* found = d.handles.find(object);
  if (found == nullptr) return VI_ERROR_INV_OBJECT;
  if (const ViStatus fault = d.faults.take(VisaFunction::Close); fault != VI_SUCCESS) {
    return fault;
  }
  d.handles.close(object);
  return VI_SUCCESS;
}

// --- Attributes ---

ViStatus SimChassis::viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::GetAttribute)];
  ChassisObject* found = d.handles.find(object);
  if (found == nullptr) return VI_ERROR_INV_OBJECT;
  if (value == nullptr) return kErrorUserBuf;
  if (found->kind != ObjectKind::Session) return VI_ERROR_NSUP_ATTR;
  SimModule& module = *found->module;
  if (const ViStatus fault = module.take_fault(VisaFunction::GetAttribute); fault != VI_SUCCESS) {
    return fault;
  }
  const ModuleConfig& config = module.config();
  // Each value leaves at its own width, zero-extended (an LA of -1 reads 0xFFFF).
  switch (attribute) {
    case VI_ATTR_TMO_VALUE:
      *value = found->timeout_ms;
      break;
    case VI_ATTR_VXI_LA:
      *value = static_cast<ViUInt16>(config.logical_address);
      break;
    case VI_ATTR_MANF_ID:
      *value = config.manufacturer_id;
      break;
    case VI_ATTR_MEM_SPACE:
      *value = config.memory_space;
      break;
    case VI_ATTR_MODEL_CODE:
      *value = config.model_code;
      break;
    case VI_ATTR_SLOT:
      *value = static_cast<ViUInt16>(config.slot);
      break;
    case VI_ATTR_INTF_NUM:
      *value = config.interface_number;
      break;
    default:
      return VI_ERROR_NSUP_ATTR;
  }
  module.note_attribute_read(attribute);
  return VI_SUCCESS;
}

ViStatus SimChassis::viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::SetAttribute)];
  ChassisObject* found = d.handles.find(object);
  if (found == nullptr) return VI_ERROR_INV_OBJECT;
  if (found->kind != ObjectKind::Session) return VI_ERROR_NSUP_ATTR;
  if (const ViStatus fault = found->module->take_fault(VisaFunction::SetAttribute);
      fault != VI_SUCCESS) {
    return fault;
  }
  switch (attribute) {
    case VI_ATTR_TMO_VALUE:
      if (value > 0xFFFFFFFFU) return VI_ERROR_NSUP_ATTR_STATE;
      found->timeout_ms = static_cast<std::uint32_t>(value);
      found->module->note_timeout_set(found->timeout_ms);
      return VI_SUCCESS;
    case VI_ATTR_VXI_LA:
    case VI_ATTR_MANF_ID:
    case VI_ATTR_MEM_SPACE:
    case VI_ATTR_MODEL_CODE:
    case VI_ATTR_SLOT:
    case VI_ATTR_INTF_NUM:
      return kErrorAttrReadonly;
    default:
      return VI_ERROR_NSUP_ATTR;
  }
}

// --- Message-based I/O ---

ViStatus SimChassis::viWrite(ViSession session, const unsigned char* buffer, ViUInt32 count,
                             ViUInt32* returned) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::Write)];
  if (returned != nullptr) *returned = 0;
  SimModule* module = d.handles.session_module(session);
  if (module == nullptr) return VI_ERROR_INV_OBJECT;
  if (buffer == nullptr && count != 0) return kErrorUserBuf;
  if (const ViStatus fault = module->take_fault(VisaFunction::Write); fault != VI_SUCCESS) {
    return fault;
  }
  d.catch_up();
  const std::string_view text(reinterpret_cast<const char*>(buffer), count);
  d.note_command(module->logical_address(), text);
  module->write_command(text);
  if (returned != nullptr) *returned = count;
  return VI_SUCCESS;
}

ViStatus SimChassis::viRead(ViSession session, unsigned char* buffer, ViUInt32 count,
                            ViUInt32* returned) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::Read)];
  if (returned != nullptr) *returned = 0;
  ChassisObject* found = d.handles.find(session, ObjectKind::Session);
  if (found == nullptr) return VI_ERROR_INV_OBJECT;
  if (buffer == nullptr && count != 0) return kErrorUserBuf;
  SimModule& module = *found->module;
  if (const ViStatus fault = module.take_fault(VisaFunction::Read); fault != VI_SUCCESS) {
    return fault;
  }
  d.catch_up();
  if (!module.reply_pending()) {
    // Nothing to read: the read waits out the session's time-out on the chassis clock.
    d.clock.wait_us(static_cast<std::uint64_t>(found->timeout_ms) * 1000U);
    return VI_ERROR_TMO;
  }
  // The module marks the last byte of a reply (the "\n") with END, so a read that reaches it
  // completes with VI_SUCCESS, as on a VXI word-serial interface with the termination character
  // not enabled. A read that fills the buffer first reports VI_SUCCESS_MAX_CNT and leaves the
  // rest for the next read.
  bool ended = false;
  const std::size_t copied = module.read_reply(buffer, count, &ended);
  if (returned != nullptr) *returned = static_cast<ViUInt32>(copied);
  return ended ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
}

ViStatus SimChassis::viStatusDesc(ViObject /*object*/, ViStatus status,
                                  ViChar description[VI_FIND_BUFLEN]) {
  // Any object, even 0 or a closed one, may ask for a text: callers describe the failure of
  // an open that left them without a session.
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::StatusDesc)];
  if (description == nullptr) return kErrorUserBuf;
  const char* text = status_text(status);
  const std::size_t length = std::min<std::size_t>(std::strlen(text), VI_FIND_BUFLEN - 1);
  std::memcpy(description, text, length);
  description[length] = '\0';
  return VI_SUCCESS;
}

// --- Register access: one counter, one indexed lookup, then the module ---

ViStatus SimChassis::viIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                            ViUInt16* value) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::In16)];
  SimModule* module = d.handles.session_module(session);
  if (module == nullptr) [[unlikely]]
    return VI_ERROR_INV_OBJECT;
  if (value == nullptr) [[unlikely]]
    return kErrorUserBuf;
  return module->in16(space, offset, value);
}

ViStatus SimChassis::viOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                             ViUInt16 value) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::Out16)];
  SimModule* module = d.handles.session_module(session);
  if (module == nullptr) [[unlikely]]
    return VI_ERROR_INV_OBJECT;
  return module->out16(space, offset, value);
}

ViStatus SimChassis::viMoveIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                ViBusSize count, ViUInt16* values) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::MoveIn16)];
  SimModule* module = d.handles.session_module(session);
  if (module == nullptr) return VI_ERROR_INV_OBJECT;
  if (values == nullptr && count != 0) return kErrorUserBuf;
  d.catch_up();
  return module->move_in16(space, offset, count, values);
}

ViStatus SimChassis::viMoveOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                 ViBusSize count, const ViUInt16* values) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::MoveOut16)];
  SimModule* module = d.handles.session_module(session);
  if (module == nullptr) return VI_ERROR_INV_OBJECT;
  if (values == nullptr && count != 0) return kErrorUserBuf;
  d.catch_up();
  return module->move_out16(space, offset, count, values);
}

// --- Inspection ---

int SimChassis::open_object_count() const { return impl_->handles.open_objects(); }

int SimChassis::open_session_count() const { return impl_->handles.open_sessions(); }

std::uint64_t SimChassis::call_count(VisaFunction function) const {
  return function == VisaFunction::Count_ ? 0 : impl_->calls[index_of(function)];
}

std::uint64_t SimChassis::total_calls() const {
  std::uint64_t total = 0;
  for (const std::uint64_t count : impl_->calls) total += count;
  return total;
}

const ChassisCommandHistory& SimChassis::command_log() const { return impl_->command_log; }

void SimChassis::reset_call_counts() { impl_->calls.fill(0); }

SimModule* SimChassis::module_at(std::int16_t logical_address) {
  return impl_->module_at(logical_address);
}

std::uint32_t SimChassis::session_timeout_ms(ViSession session) const {
  const ChassisObject* found = impl_->handles.find(session, ObjectKind::Session);
  return found != nullptr ? found->timeout_ms : 0;
}

SimModule* SimChassis::module_of(ViSession session) {
  return impl_->handles.session_module(session);
}

std::vector<SimModule*> SimChassis::modules() {
  std::vector<SimModule*> all;
  for (const auto& module : impl_->modules) all.push_back(module.get());
  return all;
}

void SimChassis::fail_next(VisaFunction function, ViStatus status, int times) {
  if (function == VisaFunction::Count_) return;
  impl_->faults.fail_after(function, 0, status, times);
}

void SimChassis::poll_firmware() { impl_->catch_up(); }

const std::vector<Cable>& SimChassis::cables() const { return impl_->bench.cables; }

bool SimChassis::cut_cable(const Cable& cable) {
  return std::erase(impl_->bench.cables, cable) != 0;
}

void SimChassis::connect_cable(const Cable& cable) { impl_->bench.cables.push_back(cable); }

void SimChassis::restart() {
  impl_->catch_up();
  for (const auto& module : impl_->modules) module->power_cycle();
}

}  // namespace sim
