#include "sim/sim_chassis.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <string_view>

#include "sim/quor_firmware.h"
#include "sim/resource_expression.h"
#include "sim/sim_status.h"

namespace sim {

using namespace visa;

// --- Benches ---

namespace benches {
namespace {

ModuleConfig quor_module(std::int16_t logical_address, std::int16_t slot) {
  ModuleConfig module;
  module.logical_address = logical_address;
  module.slot = slot;
  return module;
}

// A digitizer of another maker: present in the chassis, never a Quor Bus.
ModuleConfig foreign_module(std::int16_t logical_address, std::int16_t slot) {
  ModuleConfig module;
  module.logical_address = logical_address;
  module.slot = slot;
  module.manufacturer_id = 0xFFB;
  module.model_code = 0x0A21;
  module.identity = "OTHER MAKER,DIGITIZER 4,0,2.10";
  return module;
}

}  // namespace

std::vector<Cable> standard_cables(std::int16_t uut, std::int16_t qcu) {
  return {Cable{qcu, Route::Out1, uut, Route::Unpr}, Cable{uut, Route::Out1, qcu, Route::Unpr},
          Cable{uut, Route::Out2, uut, Route::Unpr}, Cable{uut, Route::Out3, uut, Route::Prot}};
}

BenchConfig standard() {
  BenchConfig bench;
  bench.modules = {quor_module(8, 2), quor_module(24, 3), foreign_module(40, 4)};
  bench.cables = standard_cables();
  return bench;
}

BenchConfig two_quor() {
  BenchConfig bench;
  bench.modules = {quor_module(8, 2), quor_module(24, 3)};
  bench.cables = standard_cables();
  return bench;
}

BenchConfig gpib_vxi() {
  BenchConfig bench = standard();
  bench.resource_prefix = "GPIB-VXI";
  return bench;
}

BenchConfig empty() { return BenchConfig{}; }

BenchConfig other_models_only() {
  BenchConfig bench;
  bench.modules = {foreign_module(40, 4), foreign_module(48, 5)};
  return bench;
}

}  // namespace benches

// --- Objects and handles ---

namespace {

enum class ObjectKind : std::uint8_t { Closed, Manager, FindList, Session };

constexpr std::uint32_t kDefaultTimeoutMs = 2000;
// Handles start well above 0 so that a handle is never mistaken for a count or an index.
constexpr ViObject kFirstHandle = 0x100;

struct Object {
  ObjectKind kind = ObjectKind::Closed;
  ViSession manager = VI_NULL;        // owning manager (find lists and sessions)
  SimModule* module = nullptr;        // sessions
  std::uint32_t timeout_ms = kDefaultTimeoutMs;
  std::vector<std::string> names;     // find lists: the matches
  std::size_t next = 0;               // find lists: index of the next name to hand out
};

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

void copy_name(const std::string& name, ViChar* buffer) {
  if (buffer == nullptr) return;
  const std::size_t length = std::min<std::size_t>(name.size(), VI_FIND_BUFLEN - 1);
  std::memcpy(buffer, name.data(), length);
  buffer[length] = '\0';
}

// "<type><board>::<logical address>[::INSTR]", such as "VXI0::8::INSTR".
struct ParsedName {
  std::string_view type;
  long board = 0;
  long logical_address = 0;
};

bool parse_resource_name(std::string_view name, ParsedName* parsed) {
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

  Object* object(ViObject handle) {
    const std::size_t index = handle - kFirstHandle;  // wraps for small handles
    if (index >= objects.size() || objects[index].kind == ObjectKind::Closed) return nullptr;
    return &objects[index];
  }
  Object* object(ViObject handle, ObjectKind kind) {
    Object* found = object(handle);
    return found != nullptr && found->kind == kind ? found : nullptr;
  }
  // The module of an open session, or null: the register path's only lookup.
  SimModule* session_module(ViSession session) {
    const std::size_t index = session - kFirstHandle;
    if (index >= objects.size()) return nullptr;
    const Object& found = objects[index];
    return found.kind == ObjectKind::Session ? found.module : nullptr;
  }

  // Handles are never reused: a closed one stays closed for the chassis' lifetime.
  ViObject add(Object added) {
    ++open_objects;
    if (added.kind == ObjectKind::Session) ++open_sessions;
    objects.push_back(std::move(added));
    return static_cast<ViObject>(kFirstHandle + objects.size() - 1);
  }

  void close(Object& closing) {
    if (closing.kind == ObjectKind::Session) --open_sessions;
    --open_objects;
    closing.kind = ObjectKind::Closed;
    closing.module = nullptr;
    closing.names.clear();
    closing.names.shrink_to_fit();
  }

  ViStatus chassis_fault(VisaFunction function) {
    Fault& fault = faults[index_of(function)];
    if (fault.remaining == 0) return VI_SUCCESS;
    --fault.remaining;
    return fault.status;
  }

  std::string resource_name(const SimModule& module) const {
    return bench.resource_prefix + std::to_string(module.config().interface_number) +
           "::" + std::to_string(module.logical_address()) + "::INSTR";
  }

  struct Fault {
    int remaining = 0;
    ViStatus status = VI_SUCCESS;
  };

  BenchConfig bench;
  Clock& clock;
  std::vector<std::unique_ptr<SimModule>> modules;  // stable addresses for sessions
  ChassisCommandHistory command_log;
  std::vector<std::unique_ptr<QuorFirmware>> firmwares;  // one per module, same order
  std::vector<Object> objects;                      // index = handle - kFirstHandle
  std::array<std::uint64_t, index_of(VisaFunction::Count_)> calls{};
  std::array<Fault, index_of(VisaFunction::Count_)> faults{};
  int open_objects = 0;
  int open_sessions = 0;
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
  if (const ViStatus fault = d.chassis_fault(VisaFunction::OpenDefaultRM); fault != VI_SUCCESS) {
    return fault;
  }
  Object added;
  added.kind = ObjectKind::Manager;
  *manager = d.add(std::move(added));
  return VI_SUCCESS;
}

ViStatus SimChassis::viFindRsrc(ViSession manager, const char* expression, ViFindList* list,
                                ViUInt32* count, ViChar first_name[VI_FIND_BUFLEN]) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::FindRsrc)];
  if (list != nullptr) *list = VI_NULL;
  if (count != nullptr) *count = 0;
  if (d.object(manager, ObjectKind::Manager) == nullptr) return VI_ERROR_INV_OBJECT;
  if (const ViStatus fault = d.chassis_fault(VisaFunction::FindRsrc); fault != VI_SUCCESS) {
    return fault;
  }
  if (expression == nullptr) return VI_ERROR_INV_EXPR;
  const ResourceExpression compiled(expression);
  if (!compiled.valid()) return VI_ERROR_INV_EXPR;

  std::vector<std::string> matches;
  for (const auto& module : d.modules) {
    std::string name = d.resource_name(*module);
    if (compiled.matches(name)) matches.push_back(std::move(name));
  }
  if (matches.empty()) return VI_ERROR_RSRC_NFOUND;

  if (count != nullptr) *count = static_cast<ViUInt32>(matches.size());
  copy_name(matches.front(), first_name);
  if (list != nullptr) {
    Object added;
    added.kind = ObjectKind::FindList;
    added.manager = manager;
    added.names = std::move(matches);
    added.next = 1;
    *list = d.add(std::move(added));
  }
  return VI_SUCCESS;
}

ViStatus SimChassis::viFindNext(ViFindList list, ViChar next_name[VI_FIND_BUFLEN]) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::FindNext)];
  Object* found = d.object(list, ObjectKind::FindList);
  if (found == nullptr) return VI_ERROR_INV_OBJECT;
  if (const ViStatus fault = d.chassis_fault(VisaFunction::FindNext); fault != VI_SUCCESS) {
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
  if (d.object(manager, ObjectKind::Manager) == nullptr) return VI_ERROR_INV_OBJECT;
  if (session == nullptr) return kErrorUserBuf;
  if (const ViStatus fault = d.chassis_fault(VisaFunction::Open); fault != VI_SUCCESS) {
    return fault;
  }
  ParsedName parsed;
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

  Object added;
  added.kind = ObjectKind::Session;
  added.manager = manager;
  added.module = &module;
  *session = d.add(std::move(added));
  return VI_SUCCESS;
}

ViStatus SimChassis::viClose(ViObject object) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::Close)];
  Object* found = d.object(object);
  if (found == nullptr) return VI_ERROR_INV_OBJECT;
  if (const ViStatus fault = d.chassis_fault(VisaFunction::Close); fault != VI_SUCCESS) {
    return fault;
  }
  if (found->kind == ObjectKind::Manager) {
    // Closing a manager closes every find list and session opened through it.
    for (Object& owned : d.objects) {
      if (owned.kind != ObjectKind::Closed && owned.kind != ObjectKind::Manager &&
          owned.manager == object) {
        d.close(owned);
      }
    }
  }
  d.close(*d.object(object));
  return VI_SUCCESS;
}

// --- Attributes ---

ViStatus SimChassis::viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::GetAttribute)];
  Object* found = d.object(object);
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
  Object* found = d.object(object);
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
  SimModule* module = d.session_module(session);
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
  Object* found = d.object(session, ObjectKind::Session);
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
  SimModule* module = d.session_module(session);
  if (module == nullptr) [[unlikely]] return VI_ERROR_INV_OBJECT;
  if (value == nullptr) [[unlikely]] return kErrorUserBuf;
  return module->in16(space, offset, value);
}

ViStatus SimChassis::viOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                             ViUInt16 value) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::Out16)];
  SimModule* module = d.session_module(session);
  if (module == nullptr) [[unlikely]] return VI_ERROR_INV_OBJECT;
  return module->out16(space, offset, value);
}

ViStatus SimChassis::viMoveIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                ViBusSize count, ViUInt16* values) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::MoveIn16)];
  SimModule* module = d.session_module(session);
  if (module == nullptr) return VI_ERROR_INV_OBJECT;
  if (values == nullptr && count != 0) return kErrorUserBuf;
  d.catch_up();
  return module->move_in16(space, offset, count, values);
}

ViStatus SimChassis::viMoveOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                 ViBusSize count, const ViUInt16* values) {
  Impl& d = *impl_;
  ++d.calls[index_of(VisaFunction::MoveOut16)];
  SimModule* module = d.session_module(session);
  if (module == nullptr) return VI_ERROR_INV_OBJECT;
  if (values == nullptr && count != 0) return kErrorUserBuf;
  d.catch_up();
  return module->move_out16(space, offset, count, values);
}

// --- Inspection ---

int SimChassis::open_object_count() const { return impl_->open_objects; }

int SimChassis::open_session_count() const { return impl_->open_sessions; }

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
  const Object* found = impl_->object(session, ObjectKind::Session);
  return found != nullptr ? found->timeout_ms : 0;
}

SimModule* SimChassis::module_of(ViSession session) { return impl_->session_module(session); }

std::vector<SimModule*> SimChassis::modules() {
  std::vector<SimModule*> all;
  for (const auto& module : impl_->modules) all.push_back(module.get());
  return all;
}

void SimChassis::fail_next(VisaFunction function, ViStatus status, int times) {
  if (function == VisaFunction::Count_) return;
  impl_->faults[index_of(function)] = Impl::Fault{times > 0 ? times : 0, status};
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
