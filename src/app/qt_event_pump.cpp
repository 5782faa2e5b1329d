#include "app/qt_event_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>

namespace app {

void QtEventPump::process_events() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void QtEventPump::wait_for_events() {
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventPump::start_tick_timer(int interval_ms) {
  if (timer_ != nullptr) timer_->start(interval_ms);
}

void QtEventPump::stop_tick_timer() {
  if (timer_ != nullptr) timer_->stop();
}

bool QtEventPump::tick_timer_running() const { return timer_ != nullptr && timer_->isActive(); }

std::int64_t QtEventPump::now_ms() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace app
