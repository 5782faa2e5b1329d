// The event-pump seam on real windows: Qt's event loop and the main window's DelayTimer.
#pragma once

#include <QPointer>
#include <QTimer>

#include "driver/event_pump.h"

namespace app {

class QtEventPump final : public driver::EventPump {
 public:
  // The main window's DelayTimer; its tick handler counts the ticks.
  void set_delay_timer(QTimer* timer) { timer_ = timer; }

  void process_events() override;
  void wait_for_events() override;
  void start_tick_timer(int interval_ms) override;
  void stop_tick_timer() override;
  bool tick_timer_running() const override;
  std::int64_t now_ms() const override;

 private:
  QPointer<QTimer> timer_;
};

}  // namespace app
