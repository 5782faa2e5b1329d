// The driver's program-wide values, one set for the whole program run.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "visa/visa_types.h"

namespace driver {

inline constexpr std::size_t kReportedErrorLimit = 100;

struct DriverState {
  // Count out-value of every viRead and viWrite.
  visa::ViUInt32 returned_count = 0;
  // Filled by each read of the command core.
  std::string reply_buffer;
  // Status of the last direct VISA call made outside the driver operations.
  visa::ViStatus last_visa_status = visa::VI_SUCCESS;
  // "No Error" or the last error report; empty until the first report.
  std::string last_error_text;
  // Every error report since the procedure on the units began, the oldest first, at most
  // kReportedErrorLimit of them (later ones are not kept).
  std::vector<std::string> reported_errors;
  bool abort_flag = false;
  // Counts DelayTimer ticks; each tick wait starts it at 0 and watches how far it moves.
  std::int16_t tick_counter = 0;
  // The timer interval of each tick wait in progress, the innermost last. When a nested wait
  // ends, the timer goes back to the interval of the wait it interrupted.
  std::vector<int> tick_wait_intervals;
  // How many tick waits have ended so far: a wait sees from it that one ran inside it.
  std::uint64_t tick_waits_ended = 0;
  // Set when the program shuts down: every tick wait in progress returns at once, and a new
  // one does not wait.
  bool waits_ended = false;
  // When set, every error report also opens a message box.
  bool error_box = false;
  // Opened by the module search; closed at its end and again at shut-down. 0 until then.
  visa::ViSession default_rm = 0;
  // Manager opened for each session that the driver's init opened; closed with that session.
  std::map<visa::ViSession, visa::ViSession> init_managers;
  // Managers whose close failed (with the sessions and find lists they own); closed again at
  // shut-down, so that a failed close leaves nothing open for good.
  std::vector<visa::ViSession> managers_left_open;
};

}  // namespace driver
