// Error texts and the reports the technician sees after a failed step; the tick wait and the
// abort poll that the procedures share.
#include <array>

#include "driver/number_text.h"
#include "driver/quor_driver.h"
#include "driver/status_rules.h"

namespace driver {

using visa::ViSession;
using visa::ViStatus;

namespace {

constexpr const char* kErrorBoxTitle = "Error";

}  // namespace

ViStatus QuorDriver::quor_error_message(ViSession session, ViStatus code, std::string& message) {
  message.clear();
  if (code >= visa::VI_INSTR_ERROR_OFFSET && code <= kInstrumentErrorLast) {
    switch (code) {
      case QUOR_ERROR_MANF_ID:
        message = "Invalid Manufacturer ID";
        break;
      case QUOR_ERROR_MODEL_CODE:
        message = "Invalid Model Code";
        break;
      case QUOR_ERROR_INSTRUMENT:
        message = "Instrument Error";
        break;
      default:
        message = "Unknown Error Code";
        break;
    }
    return visa::VI_SUCCESS;
  }
  if (code >= visa::VI_ERROR_PARAMETER1 && code <= visa::VI_ERROR_PARAMETER8) {
    message = "Error in Parameter " + std::to_string(code - visa::VI_ERROR_PARAMETER1 + 1);
    return visa::VI_SUCCESS;
  }
  // The library's description; the buffer is larger than the text it may hold, and always
  // terminated, whatever the library writes.
  std::array<visa::ViChar, visa::VI_FIND_BUFLEN + 1> buffer{};
  const ViStatus status = library_.viStatusDesc(session, code, buffer.data());
  buffer[kDescriptionBufferSize] = '\0';
  if (status >= visa::VI_SUCCESS) message = buffer.data();
  return status;
}

ViStatus QuorDriver::quor_error_query(ViSession session, std::int32_t& error_number,
                                      std::string& message) {
  ViStatus result = visa::VI_SUCCESS;
  if (const ViStatus check = quor_check_session(session); check != visa::VI_SUCCESS) return check;
  std::string reply;
  const ViStatus status = quor_cmd(session, "SYST:ERR?", reply);
  if (keep_status(status, result)) return result;

  const std::size_t comma = reply.find(',');
  if (comma == std::string::npos) {
    error_number = 0;
    message = reply;
  } else {
    error_number = leading_int32(std::string_view(reply).substr(0, comma + 1));
    message = reply.substr(comma + 1);
  }
  return result;
}

std::string QuorDriver::quor_error_text(ViSession session, ViStatus code) {
  std::string message;
  if (code == QUOR_ERROR_INSTRUMENT) {
    std::int32_t number = 0;
    quor_error_query(session, number, message);
  } else {
    quor_error_message(session, code, message);
  }
  return message;
}

std::string QuorDriver::format_error_report(const UnitRecord& unit, ViStatus status,
                                            std::string_view description) {
  std::string message;
  if (unit.model_code == kQuorModelCode) message = quor_error_text(unit.session, status);
  std::string report(description);
  report += '\n';
  report += fixed_text(message);
  return report;
}

void QuorDriver::report_status(const UnitRecord& unit, ViStatus status,
                               std::string_view description) {
  if (status == visa::VI_SUCCESS) {
    state_.last_error_text = kNoError;
    return;
  }
  state_.last_error_text = format_error_report(unit, status, description);
  if (state_.reported_errors.size() < kReportedErrorLimit) {
    state_.reported_errors.push_back(state_.last_error_text);
  }
  if (state_.error_box) person_.message(state_.last_error_text, kErrorBoxTitle);
}

void QuorDriver::show_step(const std::string& text) {
  if (display_ != nullptr) display_->show_step_text(text);
  if (state_.last_error_text != kNoError) delay_ticks(50, 1);
}

void QuorDriver::delay_ticks(std::int16_t ticks, int interval_ms) {
  if (state_.waits_ended) return;
  const std::int64_t deadline = pump_.now_ms() + std::int64_t{ticks} * interval_ms;
  state_.tick_wait_intervals.push_back(interval_ms);
  state_.tick_counter = 0;
  pump_.start_tick_timer(interval_ms);

  // Alone, the wait counts its own ticks. Once a wait has run inside it, those ticks were not
  // at this wait's interval, so from then on it ends on the first tick at or past its deadline,
  // with the timer shortened for a last part tick.
  std::int64_t counted = 0;
  std::int16_t seen = state_.tick_counter;
  std::uint64_t nested_seen = state_.tick_waits_ended;
  bool interrupted = false;
  // A timer that stopped (its window gone) would leave the wait waiting for ever.
  while (!state_.waits_ended && pump_.tick_timer_running()) {
    pump_.wait_for_events();
    // The counter is 16 bits wide: the difference is taken modulo 2^16.
    const auto new_ticks = static_cast<std::uint16_t>(
        static_cast<std::uint16_t>(state_.tick_counter) - static_cast<std::uint16_t>(seen));
    seen = state_.tick_counter;
    const bool nested = state_.tick_waits_ended != nested_seen;
    nested_seen = state_.tick_waits_ended;
    if (nested) interrupted = true;
    if (!interrupted) {
      counted += new_ticks;
      if (counted >= ticks) break;
      continue;
    }
    if (new_ticks == 0 && !nested) continue;
    const std::int64_t left = deadline - pump_.now_ms();
    if (left <= 0) break;
    if (left < interval_ms) pump_.start_tick_timer(static_cast<int>(left));
  }

  state_.tick_wait_intervals.pop_back();
  ++state_.tick_waits_ended;
  if (state_.tick_wait_intervals.empty() || state_.waits_ended) {
    pump_.stop_tick_timer();
  } else {
    pump_.start_tick_timer(state_.tick_wait_intervals.back());
  }
}

void QuorDriver::end_waits() {
  state_.waits_ended = true;
  pump_.stop_tick_timer();
}

bool QuorDriver::abort_requested() {
  pump_.process_events();
  return state_.abort_flag;
}

void QuorDriver::set_error_options(int flags) { state_.error_box = (flags & 2) != 0; }

}  // namespace driver
