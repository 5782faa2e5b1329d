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

// The handlers of the commands, one a command header. Each gets the argument (without blanks
// around it) and leaves its reply or its error-queue entry behind.
struct SimModule::Commands {
  using Handler = void (*)(SimModule& module, std::string_view argument);

  static void fail(SimModule& module, int code) { module.push_error(code, scpi_message(code)); }
  // Commands without parameters refuse one.
  static bool plain(SimModule& module, std::string_view argument) {
    if (argument.empty()) return true;
    fail(module, kScpiParameterNotAllowed);
    return false;
  }
  // Commands that need one unsigned number, stored in `target`.
  static void number_into(SimModule& module, std::string_view argument, std::uint32_t& target,
                          std::uint32_t maximum) {
    if (argument.empty()) return fail(module, kScpiMissingParameter);
    const auto value = parse_unsigned(argument);
    if (!value) return fail(module, kScpiDataTypeError);
    if (*value > maximum) return fail(module, kScpiIllegalParameterValue);
    target = *value;
  }

  static void identity(SimModule& m, std::string_view argument) {
    if (plain(m, argument)) m.reply(m.config_.identity);
  }
  static void reset(SimModule& m, std::string_view argument) {
    if (plain(m, argument)) m.reset();
  }
  static void clear_status(SimModule& m, std::string_view argument) {
    if (plain(m, argument)) m.errors_.clear();
  }
  static void status_byte(SimModule& m, std::string_view argument) {
    if (plain(m, argument)) m.reply(std::to_string(m.status_byte()));
  }
  static void operation_complete(SimModule& m, std::string_view argument) { plain(m, argument); }
  static void operation_complete_query(SimModule& m, std::string_view argument) {
    if (plain(m, argument)) m.reply("1");
  }
  static void self_test(SimModule& m, std::string_view argument) {
    if (plain(m, argument)) m.reply(std::to_string(m.self_test_result_));
  }
  static void next_error(SimModule& m, std::string_view argument) {
    if (!plain(m, argument)) return;
    if (m.errors_.empty()) {
      m.reply("0,\"No error\"");
      return;
    }
    const ScpiError oldest = m.errors_.front();
    m.errors_.pop_front();
    m.reply(std::to_string(oldest.code) + ",\"" + oldest.message + "\"");
  }
  static void route(SimModule& m, std::string_view argument, bool closed) {
    if (argument.empty()) return fail(m, kScpiMissingParameter);
    const std::string name = lower_text(argument);
    const auto found = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                    [&](const RouteName& r) { return name == r.name; });
    if (found == std::end(kRoutes)) return fail(m, kScpiIllegalParameterValue);
    m.routes_[static_cast<std::size_t>(found->route)] = closed;
  }
  static void route_close(SimModule& m, std::string_view argument) { route(m, argument, true); }
  static void route_open(SimModule& m, std::string_view argument) { route(m, argument, false); }
  static void mode(SimModule& m, std::string_view argument) {
    if (argument.empty()) return fail(m, kScpiMissingParameter);
    const std::string name = lower_text(argument);
    const auto found = std::find_if(std::begin(kModes), std::end(kModes),
                                    [&](const ModeName& entry) { return name == entry.name; });
    if (found == std::end(kModes)) return fail(m, kScpiIllegalParameterValue);
    m.set_mode(found->mode);
  }
  static void mode_query(SimModule& m, std::string_view argument) {
    if (!plain(m, argument)) return;
    std::string name = kModes[static_cast<std::size_t>(m.mode_)].name;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    m.reply(name);
  }
  static void timer(SimModule& m, std::string_view argument) {
    number_into(m, argument, m.timer_interval_, 0xFFFFFFFFU);
  }
  static void receive_start(SimModule& m, std::string_view argument) {
    number_into(m, argument, m.receive_start_, 0xFF);
  }
  static void receive_stop(SimModule& m, std::string_view argument) {
    number_into(m, argument, m.receive_stop_, 0xFF);
  }
  static void transmit_stop(SimModule& m, std::string_view argument) {
    number_into(m, argument, m.transmit_stop_, 0xFF);
  }
  static void calibration_query(SimModule& m, std::string_view argument) {
    if (!plain(m, argument)) return;
    // Six decimals with a "." in every locale ("1.250000").
    char text_value[400];  // room for the largest double
    const auto written = std::to_chars(text_value, text_value + sizeof text_value, m.cal_constant_,
                                       std::chars_format::fixed, 6);
    m.reply(std::string(text_value, written.ptr));
  }
  // "CAL 0" followed by the constant: "CAL 0 1.2", "CAL 0-.1".
  static void calibration(SimModule& m, std::string_view argument) {
    if (argument.empty()) return fail(m, kScpiMissingParameter);
    if (argument.front() != '0') return fail(m, kScpiIllegalParameterValue);
    const std::string_view rest = argument.substr(1);
    if (trim(rest).empty()) return fail(m, kScpiMissingParameter);
    const auto value = parse_number(rest);
    if (!value) return fail(m, kScpiDataTypeError);
    m.cal_constant_ = *value;
  }
  static void voltage(SimModule& m, std::string_view argument) {
    if (argument.empty()) return fail(m, kScpiMissingParameter);
    const auto value = parse_number(argument);
    if (!value) return fail(m, kScpiDataTypeError);
    m.voltage_ = *value;
  }
  static void clear_trace(SimModule& m, std::string_view argument) {
    if (argument.empty()) return fail(m, kScpiMissingParameter);
    const std::string which = lower_text(argument);
    if (which == "ping" || which == "pong") {
      const std::size_t first = (which == "ping" ? kPingOffset : kPongOffset) / 2;
      std::fill_n(m.memory_.begin() + static_cast<std::ptrdiff_t>(first), kBufferBytes / 2, 0);
      if (m.memory_fault_active_) m.apply_memory_fault(first, kBufferBytes / 2);
    } else if (which == "stam" || which == "stamp") {
      m.clear_stamps();
    } else {
      fail(m, kScpiIllegalParameterValue);
    }
  }
  static void trace_query(SimModule& m, std::string_view argument) {
    if (argument.empty()) return fail(m, kScpiMissingParameter);
    const std::string which = lower_text(argument);
    if (which != "stam" && which != "stamp") return fail(m, kScpiIllegalParameterValue);
    // Ten items of seven characters: "#H" and four upper-case hexadecimal digits, then a
    // comma between items.
    std::string list;
    for (std::size_t i = 0; i < m.stamps_.size(); ++i) {
      char item[8];
      std::snprintf(item, sizeof item, "#H%04X", static_cast<unsigned>(m.stamps_[i]));
      if (i != 0) list += ',';
      list += item;
    }
    m.reply(list);
  }

  // Header patterns as header_is() reads them: the upper-case letters are the short form, case
  // is ignored, a leading colon is allowed, and a query matches only a pattern ending in "?".
  // No header matches two rows; a header that matches none is -113 "Undefined header".
  struct Row {
    std::string_view pattern;
    Handler run;
  };
  static constexpr Row kTable[] = {
      {"*IDN?", identity},
      {"*RST", reset},
      {"*CLS", clear_status},
      {"*STB?", status_byte},
      {"*OPC", operation_complete},
      {"*OPC?", operation_complete_query},
      {"*TST?", self_test},
      {"SYSTem:ERRor?", next_error},
      {"SYSTem:ERRor:NEXT?", next_error},
      {"ROUTe:CLOSe", route_close},
      {"ROUTe:OPEN", route_open},
      {"MODE", mode},
      {"MODE?", mode_query},
      {"TIMer", timer},
      {"COMMunicate:RECeive:STARt", receive_start},
      {"COMMunicate:RECeive:STOP", receive_stop},
      {"COMMunicate:TRANsmit:STOP", transmit_stop},
      {"CALibration?", calibration_query},
      {"CALibration", calibration},
      {"VOLTage", voltage},
      {"TRACe:DATA:CLR", clear_trace},
      {"TRACe:DATA?", trace_query},
  };
};

void SimModule::execute(std::string_view text) {
  if (text.empty()) return;
  if (text.find('(') != std::string_view::npos) {
    execute_config_line(text);
    return;
  }
  const CommandParts parts = split_command(text);

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

  for (const Commands::Row& row : Commands::kTable) {
    if (header_is(parts.header, row.pattern)) {
      row.run(*this, parts.argument);
      return;
    }
  }
  Commands::fail(*this, kScpiUndefinedHeader);
}

}  // namespace sim
