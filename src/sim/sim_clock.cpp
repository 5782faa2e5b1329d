#include "sim/sim_clock.h"

#include <chrono>
#include <thread>

namespace sim {
namespace {

std::int64_t steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

RealClock::RealClock() : origin_ns_(steady_ns()) {}

std::uint64_t RealClock::now_us() const {
  return static_cast<std::uint64_t>(steady_ns() - origin_ns_) / 1000U;
}

void RealClock::wait_us(std::uint64_t us) {
  std::this_thread::sleep_for(std::chrono::microseconds(us));
}

}  // namespace sim
