#include "testing/virtual_pump.h"

#include <cstdio>
#include <cstdlib>

namespace testing_support {

void VirtualPump::at_yield(std::uint64_t n, std::function<void()> action) {
  timed_actions_.emplace_back(n, std::move(action));
}

void VirtualPump::yield() {
  ++yields_;
  if (yields_ > yield_limit) {
    std::fprintf(stderr, "VirtualPump: a wait did not end after %llu yields\n",
                 static_cast<unsigned long long>(yield_limit));
    std::abort();
  }
  if (timer_running_) {
    clock_.advance_ms(static_cast<std::uint64_t>(timer_interval_ms_));
    if (state_ != nullptr) ++state_->tick_counter;
  }
  run_window_events();
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

}  // namespace testing_support
