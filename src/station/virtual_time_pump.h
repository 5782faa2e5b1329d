// The event pump of a station on virtual time (--simulate --virtual-time): the windows' events
// run as usual, but while the tick timer runs every yield moves the simulated chassis' clock on
// by one tick interval and counts the tick, so the station's timed waits cost no real time. With
// no timer running it waits for window events as the real pump does.
#pragma once

#include "driver/driver_state.h"
#include "driver/event_pump.h"
#include "sim/sim_clock.h"

namespace station {

class VirtualTimePump final : public driver::EventPump {
 public:
  explicit VirtualTimePump(sim::VirtualClock& clock) : clock_(clock) {}
  // The driver state whose tick counter the ticks go to (the station's, made after the pump).
  void count_ticks_in(driver::DriverState& state) { state_ = &state; }

  void process_events() override;
  void wait_for_events() override;
  void start_tick_timer(int interval_ms) override {
    interval_ms_ = interval_ms > 0 ? interval_ms : 1;
    running_ = true;
  }
  void stop_tick_timer() override { running_ = false; }
  bool tick_timer_running() const override { return running_; }
  std::int64_t now_ms() const override {
    return static_cast<std::int64_t>(clock_.now_us() / 1000U);
  }

 private:
  void tick();

  sim::VirtualClock& clock_;
  driver::DriverState* state_ = nullptr;
  bool running_ = false;
  int interval_ms_ = 1;
};

}  // namespace station
