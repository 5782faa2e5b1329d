// The one place where long operations yield to the windows, and the tick source of timed waits.
// The windows supply one that runs Qt events and the main window's DelayTimer; the test suites
// one that advances a virtual clock.
#pragma once

#include <cstdint>

namespace driver {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs the window events that are pending, without waiting.
  virtual void process_events() = 0;
  // Runs pending window events, waiting for at least one when none is pending. Used by waits
  // that end only through an event (a timer tick, a click).
  virtual void wait_for_events() = 0;
  // Starts the tick timer at `interval_ms`; each tick adds 1 to the driver's tick counter.
  virtual void start_tick_timer(int interval_ms) = 0;
  virtual void stop_tick_timer() = 0;
  // False when the timer is not running (never started, stopped, or gone with its window):
  // no tick will come, so a tick wait must not go on.
  virtual bool tick_timer_running() const = 0;
  // Milliseconds on a clock that never goes back; where it starts does not matter. A tick wait
  // keeps its own deadline on it.
  virtual std::int64_t now_ms() const = 0;
};

}  // namespace driver
