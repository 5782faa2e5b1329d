// The event pump of a station on virtual time (--simulate --virtual-time): the one virtual-time
// pump with the windows' events run as usual, so the station's timed waits cost no real time.
// With no tick timer running it waits for window events as the real pump does.
#pragma once

#include "simtime/virtual_time_pump.h"

namespace station {

class VirtualTimePump final : public simtime::VirtualTimePump {
 public:
  // Ticks of 0 ms still move the clock, so that a wait for a deadline ends.
  explicit VirtualTimePump(sim::VirtualClock& clock);
};

}  // namespace station
