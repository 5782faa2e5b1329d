#include "simtime/virtual_time_pump.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace simtime {

void VirtualTimePump::yield(bool wait) {
  ++yields_;
  if (yields_ > yield_limit) {
    std::fprintf(stderr, "VirtualTimePump: a wait did not end after %llu yields\n",
                 static_cast<unsigned long long>(yield_limit));
    std::abort();
  }
  if (timer_running_) {
    const int tick_ms = std::max(timer_interval_ms_, shortest_tick_ms);
    clock_.advance_ms(static_cast<std::uint64_t>(std::max(tick_ms, 0)));
    if (state_ != nullptr) ++state_->tick_counter;
  }
  // With the timer running the next tick is due at once on virtual time: no wait.
  if (window_events_) window_events_(wait && !timer_running_);
  for (auto it = timed_actions_.begin(); it != timed_actions_.end(); ++it) {
    if (it->first == yields_) {
      auto action = std::move(it->second);
      timed_actions_.erase(it);
      action();
      return;
    }
  }
  if (!actions_.empty()) {
    auto action = std::move(actions_.front());
    actions_.pop_front();
    action();
  }
}

}  // namespace simtime
