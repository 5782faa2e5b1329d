// The driver's program-wide values, one set for the whole program run.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "visa/visa_types.h"

namespace driver {

struct DriverState {
  // Count out-value of every viRead and viWrite.
  visa::ViUInt32 returned_count = 0;
  // Filled by each read of the command core.
  std::string reply_buffer;
  // Status of the last direct VISA call made outside the driver operations.
  visa::ViStatus last_visa_status = visa::VI_SUCCESS;
  // "No Error" or the last error report; empty until the first report.
  std::string last_error_text;
  bool abort_flag = false;
  // Counts DelayTimer ticks during a tick wait.
  std::int16_t tick_counter = 0;
  // When set, every error report also opens a message box.
  bool error_box = false;
  // Opened by the module search; closed at its end and again at shut-down. 0 until then.
  visa::ViSession default_rm = 0;
  // Manager opened for each session that the driver's init opened; closed with that session.
  std::map<visa::ViSession, visa::ViSession> init_managers;
};

}  // namespace driver
