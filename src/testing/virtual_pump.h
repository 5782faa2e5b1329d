// An event pump on virtual time: each yield advances the clock by the tick timer's interval
// and counts one tick, so timed waits cost no real time. Scripted actions run at chosen yields.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "driver/driver_state.h"
#include "driver/event_pump.h"
#include "sim/sim_clock.h"

namespace testing_support {

class VirtualPump : public driver::EventPump {
 public:
  VirtualPump(driver::DriverState& state, sim::VirtualClock& clock)
      : state_(&state), clock_(clock) {}
  // For a station that owns its driver state: name it with count_ticks_in() before use.
  explicit VirtualPump(sim::VirtualClock& clock) : clock_(clock) {}
  void count_ticks_in(driver::DriverState& state) { state_ = &state; }

  void process_events() override { yield(); }
  void wait_for_events() override { yield(); }
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
  // Runs `action` at yield number `n` (counting from 1).
  void at_yield(std::uint64_t n, std::function<void()> action);

  std::uint64_t yields() const { return yields_; }
  int timer_interval_ms() const { return timer_interval_ms_; }

  // A wait that never ends would hang the suite: past this many yields the test is failed.
  std::uint64_t yield_limit = 10'000'000;

 protected:
  // Runs the window events that are pending (none without windows).
  virtual void run_window_events() {}

 private:
  void yield();

  driver::DriverState* state_ = nullptr;
  sim::VirtualClock& clock_;
  bool timer_running_ = false;
  int timer_interval_ms_ = 0;
  std::uint64_t yields_ = 0;
  std::deque<std::function<void()>> actions_;
  std::deque<std::pair<std::uint64_t, std::function<void()>>> timed_actions_;
};

}  // namespace testing_support
