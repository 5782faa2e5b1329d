// The Quor Bus instrument driver: command core with status-byte checking, error codes and
// reports, module search and opening. Status codes throughout, never exceptions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "driver/driver_state.h"
#include "driver/event_pump.h"
#include "driver/operator.h"
#include "driver/quor_codes.h"
#include "driver/step_display.h"
#include "driver/unit_record.h"
#include "visa/visa_library.h"

namespace driver {

class QuorDriver {
 public:
  QuorDriver(visa::VisaLibrary& library, DriverState& state, Operator& person, EventPump& pump);

  // The main window registers its error report label here; until then steps are not shown.
  void set_step_display(StepDisplay* display) { display_ = display; }

  DriverState& state() { return state_; }

  // --- Command core ---
  // Writes `command`, reads one reply when it holds "?", then checks the status byte.
  visa::ViStatus quor_cmd(visa::ViSession session, std::string_view command, std::string& reply);
  static visa::ViStatus quor_check_session(visa::ViSession session);
  static visa::ViStatus quor_check_range(std::int16_t value, std::int16_t low, std::int16_t high,
                                         visa::ViStatus code);
  visa::ViStatus quor_close(visa::ViSession session);
  // At shut-down: closes again the managers whose close failed (but the default manager, which
  // the shut-down closes itself).
  void close_managers_left_open();

  // --- Error texts and reports ---
  visa::ViStatus quor_error_message(visa::ViSession session, visa::ViStatus code,
                                    std::string& message);
  visa::ViStatus quor_error_query(visa::ViSession session, std::int32_t& error_number,
                                  std::string& message);
  std::string quor_error_text(visa::ViSession session, visa::ViStatus code);
  std::string format_error_report(const UnitRecord& unit, visa::ViStatus status,
                                  std::string_view description);
  void report_status(const UnitRecord& unit, visa::ViStatus status, std::string_view description);
  void show_step(const std::string& text);
  // Waits until the tick timer has fired `ticks` times at `interval_ms`. A wait that runs
  // inside this one (from a window event it handles) does not move its end: the time the
  // inner wait took counts, its ticks do not, and the timer returns to this wait's interval.
  void delay_ticks(std::int16_t ticks, int interval_ms);
  // The program is shutting down: every tick wait returns at once, now and from here on.
  void end_waits();
  bool abort_requested();
  void set_error_options(int flags);

  // --- Operations ---
  visa::ViStatus quor_find_modules(std::span<std::int16_t> logical_addresses,
                                   std::span<std::int16_t> slots,
                                   std::span<std::uint16_t> interface_numbers, std::int16_t& count,
                                   std::int16_t& gpib_vxi);
  visa::ViStatus quor_init(const std::string& resource, std::int16_t id_query, std::int16_t reset,
                           visa::ViSession& session);
  visa::ViStatus quor_reset(visa::ViSession session);
  visa::ViStatus quor_configure_mode(visa::ViSession session, std::int16_t mode);

 private:
  // Closes a manager; one whose close fails is kept for close_managers_left_open.
  void close_manager(visa::ViSession manager);
  // Reads one reply into the reply buffer; the text read goes to `text`.
  visa::ViStatus read_reply(visa::ViSession session, std::string& text);
  visa::ViStatus write_text(visa::ViSession session, std::string_view text);

  visa::VisaLibrary& library_;
  DriverState& state_;
  Operator& person_;
  EventPump& pump_;
  StepDisplay* display_ = nullptr;
};

inline constexpr const char* kNoError = "No Error";

}  // namespace driver
