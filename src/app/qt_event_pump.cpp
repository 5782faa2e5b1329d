#include "app/qt_event_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

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

}  // namespace app
