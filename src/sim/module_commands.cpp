// A module's message-based command set: what each command does to the module, its replies and
// its SCPI error queue. The text of the commands is read by command_parser.h.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "sim/sim_module.h"

namespace sim {
namespace {

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
constexpr RouteName kRoutes[] = {
    {"out1", Route::Out1}, {"out2", Route::Out2}, {"out3", Route::Out3}, {"out4", Route::Out4},
    {"ampl", Route::Ampl}, {"unpr", Route::Unpr}, {"prot", Route::Prot}};

}  // namespace

std::size_t SimModule::command_count(std::string_view command) const {
  const std::string wanted = normalized(command);
  return static_cast<std::size_t>(
      std::count_if(command_log_.begin(), command_log_.end(),
                    [&](const std::string& sent) { return normalized(sent) == wanted; }));
}

std::uint8_t SimModule::status_byte() const { return errors_.empty() ? 0 : 4; }

void SimModule::push_error(int code, std::string message) {
  if (errors_.size() >= kErrorQueueCapacity) {
    // A full queue keeps its oldest entries and reports the overflow in the last place.
    errors_.back() = ScpiError{kScpiQueueOverflow, scpi_message(kScpiQueueOverflow)};
    return;
  }
  errors_.push_back(ScpiError{code, std::move(message)});
}

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
  const CommandParts parts = split_command(text);
  const std::string_view header = parts.header;
  const std::string_view argument = parts.argument;

  if (parts.query()) {
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
    // Six decimals with a "." in every locale ("1.250000").
    char text_value[400];  // room for the largest double
    const auto written = std::to_chars(text_value, text_value + sizeof text_value, cal_constant_,
                                       std::chars_format::fixed, 6);
    reply(std::string(text_value, written.ptr));
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
