// The event pump on virtual time, for the station run with --simulate --virtual-time and for the
// suites, tools and benchmarks. Each yield moves the simulated clock on by one tick interval
// while the tick timer runs and counts the tick, so timed waits cost no real time; then the
// window events run through a hook the owner supplies (none without windows), then a scripted
// action due at this yield, if any.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <utility>

#include "driver/driver_state.h"
#include "driver/event_pump.h"
#include "sim/sim_clock.h"

namespace simtime {

// Runs the pending window events; with `wait`, waits for one when none is pending. Asked to
// wait only by wait_for_events() while no tick timer runs, when a window event is the only way
// the wait can end.
using WindowEvents = std::function<void(bool wait)>;

class VirtualTimePump : public driver::EventPump {
 public:
  VirtualTimePump(driver::DriverState& state, sim::VirtualClock& clock,
                  WindowEvents window_events = {})
      : state_(&state), clock_(clock), window_events_(std::move(window_events)) {}
  // For a station that owns its driver state: name it with count_ticks_in() before use.
  explicit VirtualTimePump(sim::VirtualClock& clock, WindowEvents window_events = {})
      : clock_(clock), window_events_(std::move(window_events)) {}
  void count_ticks_in(driver::DriverState& state) { state_ = &state; }
  void set_window_events(WindowEvents window_events) { window_events_ = std::move(window_events); }

  void process_events() override { yield(false); }
  void wait_for_events() override { yield(true); }
  void start_tick_timer(int interval_ms) override {
    timer_interval_ms_ = interval_ms;
    timer_running_ = true;
  }
  void stop_tick_timer() override { timer_running_ = false; }
  bool tick_timer_running() const override { return timer_running_; }
  std::int64_t now_ms() const override {
    return static_cast<std::int64_t>(clock_.now_us() / 1000U);
  }

  // Runs `action` at the next yield that has no earlier action queued.
  void then(std::function<void()> action) { actions_.push_back(std::move(action)); }
  // Runs `action` at yield number `n` (counting from 1), instead of a queued one.
  void at_yield(std::uint64_t n, std::function<void()> action) {
    timed_actions_.emplace_back(n, std::move(action));
  }

  std::uint64_t yields() const { return yields_; }
  // As the timer was last started, even at 0 or less.
  int timer_interval_ms() const { return timer_interval_ms_; }

  // Past this many yields a wait is taken never to end: the program stops with a message.
  std::uint64_t yield_limit = std::numeric_limits<std::uint64_t>::max();
  // Each tick moves the clock on by at least this many milliseconds.
  int shortest_tick_ms = 0;

 private:
  void yield(bool wait);

  driver::DriverState* state_ = nullptr;
  sim::VirtualClock& clock_;
  WindowEvents window_events_;
  bool timer_running_ = false;
  int timer_interval_ms_ = 0;
  std::uint64_t yields_ = 0;
  std::deque<std::function<void()>> actions_;
  std::deque<std::pair<std::uint64_t, std::function<void()>>> timed_actions_;
};

}  // namespace simtime
