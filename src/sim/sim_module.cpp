#include "sim/sim_module.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

std::string lower_text(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// The form in which commands are compared: no blanks around it, lower case.
std::string normalized(std::string_view command) { return lower_text(trim(command)); }

// One colon-separated part of a SCPI header against its pattern, whose upper-case letters
// are the short form ("ROUTe" accepts "rout" and "route").
bool node_matches(std::string_view part, std::string_view pattern) {
  std::string short_form;
  for (char c : pattern) {
    if (std::islower(static_cast<unsigned char>(c)) == 0) short_form += c;
  }
  const std::string text = lower_text(part);
  return text == lower_text(short_form) || text == lower_text(pattern);
}

// A whole header against a pattern such as "SYSTem:ERRor?"; a leading colon is allowed.
bool header_is(std::string_view header, std::string_view pattern) {
  if (!header.empty() && header.front() == ':') header.remove_prefix(1);
  const bool pattern_query = !pattern.empty() && pattern.back() == '?';
  const bool header_query = !header.empty() && header.back() == '?';
  if (pattern_query != header_query) return false;
  if (pattern_query) {
    pattern.remove_suffix(1);
    header.remove_suffix(1);
  }
  while (true) {
    const std::size_t hp = header.find(':');
    const std::size_t pp = pattern.find(':');
    if ((hp == std::string_view::npos) != (pp == std::string_view::npos)) return false;
    if (!node_matches(header.substr(0, hp), pattern.substr(0, pp))) return false;
    if (hp == std::string_view::npos) return true;
    header.remove_prefix(hp + 1);
    pattern.remove_prefix(pp + 1);
  }
}

// Unsigned decimal with optional blanks around it and leading zeros ("  04", "00010").
std::optional<std::uint32_t> parse_unsigned(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Decimal number such as " 1.2", "-.1", "100".
std::optional<double> parse_number(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Number with an optional "#H" prefix for hexadecimal ("#H86c5").
std::optional<std::uint32_t> parse_register_value(std::string_view text) {
  text = trim(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '#' && (text[1] == 'H' || text[1] == 'h')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

struct ModeName {
  const char* name;
  Mode mode;
};
constexpr ModeName kModes[] = {{"idle", Mode::Idle}, {"rec", Mode::Rec},   {"recm", Mode::Recm},
                               {"trnd", Mode::Trnd}, {"trno", Mode::Trno}, {"trns", Mode::Trns},
                               {"trnc", Mode::Trnc}, {"self", Mode::Self}};

struct RouteName {
  const char* name;
  Route route;
};
constexpr RouteName kRoutes[] = {{"out1", Route::Out1}, {"out2", Route::Out2},
                                 {"out3", Route::Out3}, {"out4", Route::Out4},
                                 {"ampl", Route::Ampl}, {"unpr", Route::Unpr},
                                 {"prot", Route::Prot}};

const char* scpi_message(int code) {
  switch (code) {
    case kScpiSyntaxError:
      return "Syntax error";
    case kScpiDataTypeError:
      return "Data type error";
    case kScpiParameterNotAllowed:
      return "Parameter not allowed";
    case kScpiMissingParameter:
      return "Missing parameter";
    case kScpiUndefinedHeader:
      return "Undefined header";
    case kScpiIllegalParameterValue:
      return "Illegal parameter value";
    case kScpiQueueOverflow:
      return "Queue overflow";
    default:
      return "Error";
  }
}

std::size_t attribute_index(visa::ViAttr attribute) {
  switch (attribute) {
    case visa::VI_ATTR_TMO_VALUE:
      return 0;
    case visa::VI_ATTR_VXI_LA:
      return 1;
    case visa::VI_ATTR_MANF_ID:
      return 2;
    case visa::VI_ATTR_MEM_SPACE:
      return 3;
    case visa::VI_ATTR_MODEL_CODE:
      return 4;
    case visa::VI_ATTR_SLOT:
      return 5;
    case visa::VI_ATTR_INTF_NUM:
      return 6;
    default:
      return 7;  // anything else
  }
}

}  // namespace

std::string simulated_identity(std::int16_t logical_address) {
  char serial[16];
  std::snprintf(serial, sizeof serial, "SIM-LA%03d", static_cast<int>(logical_address));
  return std::string("ARDENVALE,QUOR BUS SIMULATED,") + serial + ",1.00";
}

SimModule::SimModule(ModuleConfig config)
    : config_(std::move(config)),
      memory_space_(config_.memory_space),
      space_bits_(config_.memory_space == visa::VI_A32_SPACE ? 1 : 0),
      memory_(kMemoryBytes / 2, 0) {
  if (config_.identity.empty()) config_.identity = simulated_identity(config_.logical_address);
}

// --- Registers and memory ---

std::uint16_t SimModule::id_register() const {
  return static_cast<std::uint16_t>(kIdDeviceClassBits | (space_bits_ << 12) |
                                    (config_.manufacturer_id & 0x0FFFU));
}

std::uint16_t SimModule::device_type_register() const {
  return static_cast<std::uint16_t>(kDeviceTypeMemoryBits | (config_.model_code & 0x0FFFU));
}

visa::ViStatus SimModule::check_window(visa::ViUInt16 space, visa::ViBusAddress offset,
                                       visa::ViBusSize words) const {
  visa::ViBusAddress window = 0;
  if (space == visa::VI_A16_SPACE) {
    window = kA16WindowBytes;
  } else if (space == memory_space_) {
    window = kMemoryBytes;
  } else {
    return visa::VI_ERROR_INV_SPACE;
  }
  if ((offset & 1U) != 0 || offset >= window) return visa::VI_ERROR_INV_OFFSET;
  if (words > (window - offset) / 2) return visa::VI_ERROR_INV_OFFSET;
  return visa::VI_SUCCESS;
}

std::uint16_t SimModule::a16_read(visa::ViBusAddress offset) const {
  switch (offset) {
    case kIdRegister:
      return id_register();
    case kDeviceTypeRegister:
      return device_type_register();
    default:
      return a16_[offset >> 1];
  }
}

void SimModule::a16_write(visa::ViBusAddress offset, visa::ViUInt16 value) {
  if (offset == kIdRegister || offset == kDeviceTypeRegister) return;  // read-only registers
  a16_[offset >> 1] = value;
  if (offset == kNextBufferRegister) {
    ++next_buffer_writes_;
    if (firmware_ != nullptr) firmware_->on_next_buffer(*this);
  }
}

visa::ViStatus SimModule::in16_slow(visa::ViUInt16 space, visa::ViBusAddress offset,
                                    visa::ViUInt16* value) const {
  const visa::ViStatus status = check_window(space, offset, 1);
  if (status != visa::VI_SUCCESS) return status;
  *value = space == visa::VI_A16_SPACE ? a16_read(offset) : memory_[offset >> 1];
  return visa::VI_SUCCESS;
}

visa::ViStatus SimModule::out16_slow(visa::ViUInt16 space, visa::ViBusAddress offset,
                                     visa::ViUInt16 value) {
  const visa::ViStatus status = check_window(space, offset, 1);
  if (status != visa::VI_SUCCESS) return status;
  if (space == visa::VI_A16_SPACE) {
    a16_write(offset, value);
  } else {
    memory_[offset >> 1] = value;
  }
  return visa::VI_SUCCESS;
}

visa::ViStatus SimModule::move_in16(visa::ViUInt16 space, visa::ViBusAddress offset,
                                    visa::ViBusSize count, visa::ViUInt16* values) {
  if (const visa::ViStatus fault = take_fault(VisaFunction::MoveIn16); fault != visa::VI_SUCCESS) {
    return fault;
  }
  const visa::ViStatus status = check_window(space, offset, count);
  if (status != visa::VI_SUCCESS) return status;
  if (space == visa::VI_A16_SPACE) {
    for (visa::ViBusSize i = 0; i < count; ++i) values[i] = a16_read(offset + 2 * i);
  } else if (count != 0) {
    std::memcpy(values, &memory_[offset >> 1], count * sizeof(std::uint16_t));
  }
  return visa::VI_SUCCESS;
}

visa::ViStatus SimModule::move_out16(visa::ViUInt16 space, visa::ViBusAddress offset,
                                     visa::ViBusSize count, const visa::ViUInt16* values) {
  if (const visa::ViStatus fault = take_fault(VisaFunction::MoveOut16);
      fault != visa::VI_SUCCESS) {
    return fault;
  }
  const visa::ViStatus status = check_window(space, offset, count);
  if (status != visa::VI_SUCCESS) return status;
  if (space == visa::VI_A16_SPACE) {
    for (visa::ViBusSize i = 0; i < count; ++i) a16_write(offset + 2 * i, values[i]);
  } else if (count != 0) {
    std::memcpy(&memory_[offset >> 1], values, count * sizeof(std::uint16_t));
    if (memory_fault_active_) apply_memory_fault(offset >> 1, count);
  }
  return visa::VI_SUCCESS;
}

void SimModule::write_words(std::size_t first_word, std::span<const std::uint16_t> words) {
  std::copy(words.begin(), words.end(), memory_.begin() + static_cast<std::ptrdiff_t>(first_word));
  if (memory_fault_active_) apply_memory_fault(first_word, words.size());
}

void SimModule::apply_memory_fault(std::size_t first, std::size_t count) {
  const std::size_t region_first = memory_fault_.first_byte / 2;
  const std::size_t region_end =
      std::min<std::size_t>(memory_.size(), region_first + memory_fault_.bytes / 2);
  const std::size_t from = std::max(first, region_first);
  const std::size_t to = std::min(first + count, region_end);
  const auto keep = static_cast<std::uint16_t>(~memory_fault_.stuck_low);
  for (std::size_t i = from; i < to; ++i) {
    memory_[i] = static_cast<std::uint16_t>((memory_[i] | memory_fault_.stuck_high) & keep);
  }
}

void SimModule::set_memory_fault(const MemoryFault& fault) {
  memory_fault_ = fault;
  memory_fault_active_ = true;
  apply_memory_fault(0, memory_.size());
}

void SimModule::clear_buffers() {
  std::fill(memory_.begin(), memory_.end(), 0);
  if (memory_fault_active_) apply_memory_fault(0, memory_.size());
}

// --- Inspection ---

std::size_t SimModule::command_count(std::string_view command) const {
  const std::string wanted = normalized(command);
  return static_cast<std::size_t>(
      std::count_if(command_log_.begin(), command_log_.end(),
                    [&](const std::string& sent) { return normalized(sent) == wanted; }));
}

std::optional<std::uint16_t> SimModule::nv_register(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= nv_registers_.size()) return std::nullopt;
  return nv_registers_[static_cast<std::size_t>(index)];
}

std::uint8_t SimModule::status_byte() const { return errors_.empty() ? 0 : 4; }

std::uint64_t SimModule::attribute_read_count(visa::ViAttr attribute) const {
  return attribute_reads_[attribute_index(attribute)];
}

void SimModule::note_attribute_read(visa::ViAttr attribute) {
  ++attribute_reads_[attribute_index(attribute)];
}

void SimModule::push_error(int code, std::string message) {
  if (errors_.size() >= kErrorQueueCapacity) {
    // A full queue keeps its oldest entries and reports the overflow in the last place.
    errors_.back() = ScpiError{kScpiQueueOverflow, scpi_message(kScpiQueueOverflow)};
    return;
  }
  errors_.push_back(ScpiError{code, std::move(message)});
}

// --- Fault injection ---

void SimModule::set_query_reply(std::string query, std::string reply_text) {
  const std::string key = normalized(query);
  for (auto& [known, text] : forced_replies_) {
    if (known == key) {
      text = std::move(reply_text);
      return;
    }
  }
  forced_replies_.emplace_back(key, std::move(reply_text));
}

void SimModule::clear_query_reply(std::string_view query) {
  const std::string key = normalized(query);
  std::erase_if(forced_replies_, [&](const auto& entry) { return entry.first == key; });
}

void SimModule::fail_next(VisaFunction function, visa::ViStatus status, int times) {
  fail_after(function, 0, status, times);
}

void SimModule::fail_after(VisaFunction function, int skip, visa::ViStatus status, int times) {
  Fault& fault = faults_[static_cast<std::size_t>(function)];
  fault.remaining = times > 0 ? times : 0;
  fault.skip = fault.remaining > 0 && skip > 0 ? skip : 0;
  fault.status = status;
}

void SimModule::clear_faults() {
  faults_.fill(Fault{});
  receive_fault_ = DataBitFault{};
  transmit_fault_ = DataBitFault{};
  dead_routes_.fill(false);
  extra_copies_ = 0;
  stamp_skew_from_ = 0;
  stamp_skew_ = 0;
  memory_fault_active_ = false;
}

void SimModule::power_cycle() {
  const bool use_nv = nv_flag_.value_or(1) != 0;
  if (use_nv && nv_registers_[0]) {
    const std::uint16_t id = *nv_registers_[0];
    config_.manufacturer_id = id & 0x0FFFU;
    space_bits_ = (id >> 12) & 0x3U;
    if (space_bits_ <= 1) {
      memory_space_ = space_bits_ == 0 ? visa::VI_A24_SPACE : visa::VI_A32_SPACE;
      config_.memory_space = memory_space_;
    }
  }
  if (use_nv && nv_registers_[1]) config_.model_code = *nv_registers_[1] & 0x0FFFU;
  errors_.clear();
  reply_.clear();
  reply_pos_ = 0;
  a16_.fill(0);
  routes_.fill(false);
  timer_interval_ = 0;
  receive_start_ = 0;
  receive_stop_ = 0;
  transmit_stop_ = 0;
  voltage_ = 0.0;
  clear_buffers();
  clear_stamps();
  set_mode(Mode::Idle);
}

// --- Message-based I/O ---

std::size_t SimModule::read_reply(unsigned char* buffer, std::size_t count, bool* ended) {
  std::size_t copied = 0;
  *ended = false;
  while (copied < count && reply_pos_ < reply_.size()) {
    const char c = reply_[reply_pos_++];
    buffer[copied++] = static_cast<unsigned char>(c);
    if (c == '\n') {
      *ended = true;
      break;
    }
  }
  if (reply_pos_ >= reply_.size()) {
    reply_.clear();
    reply_pos_ = 0;
  }
  return copied;
}

void SimModule::reply(std::string text) {
  reply_ = std::move(text);
  reply_ += '\n';
  reply_pos_ = 0;
}

void SimModule::write_command(std::string_view text) {
  command_log_.push_back(std::string(text));
  // A new command discards a reply the host never read.
  reply_.clear();
  reply_pos_ = 0;
  execute(trim(text));
}

void SimModule::set_mode(Mode mode) {
  const Mode previous = mode_;
  mode_ = mode;
  if (firmware_ != nullptr) firmware_->on_mode_change(*this, previous);
}

// *RST: idle, routes open, comparators and timer at 0, and empty buffers and stamps, so that a
// frame chain left over from an earlier run never runs on into a new one.
void SimModule::reset() {
  ++reset_count_;
  routes_.fill(false);
  timer_interval_ = 0;
  receive_start_ = 0;
  receive_stop_ = 0;
  transmit_stop_ = 0;
  voltage_ = 0.0;
  set_mode(Mode::Idle);
  clear_buffers();
  clear_stamps();
}

// Configuration lines of the module's boot monitor: "vxi_scan();", "nvsetflag(1);",
// "nvsetvxireg(0, #H86c5);". They are stored; the values take effect after a restart.
void SimModule::execute_config_line(std::string_view text) {
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  std::string_view tail = close == std::string_view::npos ? "" : text.substr(close + 1);
  if (close == std::string_view::npos || close < open || (!tail.empty() && trim(tail) != ";")) {
    push_error(kScpiSyntaxError, scpi_message(kScpiSyntaxError));
    return;
  }
  const std::string name = lower_text(trim(text.substr(0, open)));
  const std::string_view arguments = text.substr(open + 1, close - open - 1);
  if (name == "vxi_scan" && trim(arguments).empty()) return;
  if (name == "nvsetflag") {
    const auto flag = parse_unsigned(arguments);
    if (!flag) {
      push_error(kScpiIllegalParameterValue, scpi_message(kScpiIllegalParameterValue));
      return;
    }
    nv_flag_ = static_cast<int>(*flag);
    return;
  }
  if (name == "nvsetvxireg") {
    const std::size_t comma = arguments.find(',');
    const auto index = parse_unsigned(arguments.substr(0, comma));
    const auto value = comma == std::string_view::npos
                           ? std::nullopt
                           : parse_register_value(arguments.substr(comma + 1));
    if (!index || !value || *index >= nv_registers_.size() || *value > 0xFFFF) {
      push_error(kScpiIllegalParameterValue, scpi_message(kScpiIllegalParameterValue));
      return;
    }
    nv_registers_[*index] = static_cast<std::uint16_t>(*value);
    return;
  }
  push_error(kScpiUndefinedHeader, scpi_message(kScpiUndefinedHeader));
}

void SimModule::execute(std::string_view text) {
  if (text.empty()) return;
  if (text.find('(') != std::string_view::npos) {
    execute_config_line(text);
    return;
  }
  std::size_t split = 0;
  while (split < text.size() && !is_blank(text[split])) ++split;
  const std::string_view header = text.substr(0, split);
  const std::string_view argument = trim(text.substr(split));
  const bool query = header.back() == '?';

  if (query) {
    ++query_count_;
    const std::string key = normalized(text);
    for (const auto& [known, forced] : forced_replies_) {
      if (known == key) {
        reply(forced);
        return;
      }
    }
  }

  const auto fail = [this](int code) { push_error(code, scpi_message(code)); };
  // Commands without parameters refuse one.
  const auto plain = [&]() {
    if (argument.empty()) return true;
    fail(kScpiParameterNotAllowed);
    return false;
  };
  // Commands that need one unsigned number, stored in `target`.
  const auto number_into = [&](std::uint32_t& target, std::uint32_t maximum) {
    if (argument.empty()) return fail(kScpiMissingParameter);
    const auto value = parse_unsigned(argument);
    if (!value) return fail(kScpiDataTypeError);
    if (*value > maximum) return fail(kScpiIllegalParameterValue);
    target = *value;
  };

  if (header_is(header, "*IDN?")) {
    if (plain()) reply(config_.identity);
  } else if (header_is(header, "*RST")) {
    if (plain()) reset();
  } else if (header_is(header, "*CLS")) {
    if (plain()) errors_.clear();
  } else if (header_is(header, "*STB?")) {
    if (plain()) reply(std::to_string(status_byte()));
  } else if (header_is(header, "*OPC")) {
    plain();
  } else if (header_is(header, "*OPC?")) {
    if (plain()) reply("1");
  } else if (header_is(header, "*TST?")) {
    if (plain()) reply(std::to_string(self_test_result_));
  } else if (header_is(header, "SYSTem:ERRor?") || header_is(header, "SYSTem:ERRor:NEXT?")) {
    if (!plain()) return;
    if (errors_.empty()) {
      reply("0,\"No error\"");
    } else {
      const ScpiError oldest = errors_.front();
      errors_.pop_front();
      reply(std::to_string(oldest.code) + ",\"" + oldest.message + "\"");
    }
  } else if (header_is(header, "ROUTe:CLOSe") || header_is(header, "ROUTe:OPEN")) {
    if (argument.empty()) return fail(kScpiMissingParameter);
    const std::string name = lower_text(argument);
    const auto found = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                    [&](const RouteName& r) { return name == r.name; });
    if (found == std::end(kRoutes)) return fail(kScpiIllegalParameterValue);
    routes_[static_cast<std::size_t>(found->route)] = header_is(header, "ROUTe:CLOSe");
  } else if (header_is(header, "MODE")) {
    if (argument.empty()) return fail(kScpiMissingParameter);
    const std::string name = lower_text(argument);
    const auto found = std::find_if(std::begin(kModes), std::end(kModes),
                                    [&](const ModeName& m) { return name == m.name; });
    if (found == std::end(kModes)) return fail(kScpiIllegalParameterValue);
    set_mode(found->mode);
  } else if (header_is(header, "MODE?")) {
    if (!plain()) return;
    std::string name = kModes[static_cast<std::size_t>(mode_)].name;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    reply(name);
  } else if (header_is(header, "TIMer")) {
    number_into(timer_interval_, 0xFFFFFFFFU);
  } else if (header_is(header, "COMMunicate:RECeive:STARt")) {
    number_into(receive_start_, 0xFF);
  } else if (header_is(header, "COMMunicate:RECeive:STOP")) {
    number_into(receive_stop_, 0xFF);
  } else if (header_is(header, "COMMunicate:TRANsmit:STOP")) {
    number_into(transmit_stop_, 0xFF);
  } else if (header_is(header, "CALibration?")) {
    if (!plain()) return;
    char text_value[32];
    std::snprintf(text_value, sizeof text_value, "%.6f", cal_constant_);
    reply(text_value);
  } else if (header_is(header, "CALibration")) {
    // "CAL 0" followed by the constant: "CAL 0 1.2", "CAL 0-.1".
    if (argument.empty()) return fail(kScpiMissingParameter);
    if (argument.front() != '0') return fail(kScpiIllegalParameterValue);
    const std::string_view rest = argument.substr(1);
    if (trim(rest).empty()) return fail(kScpiMissingParameter);
    const auto value = parse_number(rest);
    if (!value) return fail(kScpiDataTypeError);
    cal_constant_ = *value;
  } else if (header_is(header, "VOLTage")) {
    if (argument.empty()) return fail(kScpiMissingParameter);
    const auto value = parse_number(argument);
    if (!value) return fail(kScpiDataTypeError);
    voltage_ = *value;
  } else if (header_is(header, "TRACe:DATA:CLR")) {
    if (argument.empty()) return fail(kScpiMissingParameter);
    const std::string which = lower_text(argument);
    if (which == "ping" || which == "pong") {
      const std::size_t first = (which == "ping" ? kPingOffset : kPongOffset) / 2;
      std::fill_n(memory_.begin() + static_cast<std::ptrdiff_t>(first), kBufferBytes / 2, 0);
      if (memory_fault_active_) apply_memory_fault(first, kBufferBytes / 2);
    } else if (which == "stam" || which == "stamp") {
      clear_stamps();
    } else {
      fail(kScpiIllegalParameterValue);
    }
  } else if (header_is(header, "TRACe:DATA?")) {
    if (argument.empty()) return fail(kScpiMissingParameter);
    const std::string which = lower_text(argument);
    if (which != "stam" && which != "stamp") return fail(kScpiIllegalParameterValue);
    // Ten items of seven characters: "#H" and four upper-case hexadecimal digits, then a
    // comma between items.
    std::string list;
    for (std::size_t i = 0; i < stamps_.size(); ++i) {
      char item[8];
      std::snprintf(item, sizeof item, "#H%04X", static_cast<unsigned>(stamps_[i]));
      if (i != 0) list += ',';
      list += item;
    }
    reply(list);
  } else {
    fail(kScpiUndefinedHeader);
  }
}

}  // namespace sim
