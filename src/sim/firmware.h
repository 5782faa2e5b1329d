// The seam between a simulated module and its firmware: what the module does on its own between
// host accesses (moving frames between buffers and over the bench cables, time-stamping them).
// The module's command set only records the mode and the comparator and timer values; a
// firmware attached with SimModule::set_firmware() acts on them. The hooks run on the thread
// that makes the VISA calls.
#pragma once

#include <cstdint>
#include <span>

#include "sim/bench_config.h"

namespace sim {

class SimModule;

class Firmware {
 public:
  virtual ~Firmware() = default;
  // The module has just changed mode (a "mode" command, or *RST returning it to IDLE).
  virtual void on_mode_change(SimModule& /*module*/, Mode /*previous*/) {}
  // The chassis clock reads `now_us`. Called before the chassis serves a message-based call or
  // a block move on the module, so the firmware can catch up with the time that has passed.
  virtual void on_time(SimModule& /*module*/, std::uint64_t /*now_us*/) {}
  // The host has written the next-buffer register (A16 0x3E); its value is next_buffer_register().
  virtual void on_next_buffer(SimModule& /*module*/) {}
  // A frame has reached the closed, working input `input` of the module at `at_us`.
  virtual void on_frame(SimModule& /*module*/, std::span<const std::uint16_t> /*words*/,
                        Route /*input*/, std::uint64_t /*at_us*/) {}
};

}  // namespace sim
