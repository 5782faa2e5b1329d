#include "station/virtual_time_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace station {

void VirtualTimePump::tick() {
  if (!running_) return;
  clock_.advance_ms(static_cast<std::uint64_t>(interval_ms_));
  if (state_ != nullptr) ++state_->tick_counter;
}

void VirtualTimePump::process_events() {
  tick();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void VirtualTimePump::wait_for_events() {
  if (running_) {
    // The next tick is due at once on virtual time.
    tick();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return;
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace station
