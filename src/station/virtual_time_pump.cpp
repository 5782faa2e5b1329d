#include "station/virtual_time_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace station {
namespace {

void run_window_events(bool wait) {
  QCoreApplication::processEvents(wait ? QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents
                                       : QEventLoop::AllEvents);
}

}  // namespace

VirtualTimePump::VirtualTimePump(sim::VirtualClock& clock)
    : simtime::VirtualTimePump(clock, run_window_events) {
  shortest_tick_ms = 1;
}

}  // namespace station
