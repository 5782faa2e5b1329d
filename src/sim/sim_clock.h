// Time source of the simulated chassis: real for the station, virtual in the test suites so
// that a time-out or a tick wait costs no real time.
#pragma once

#include <cstdint>

namespace sim {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint64_t now_us() const = 0;
  // Lets `us` microseconds pass (a real clock sleeps; a virtual one just advances).
  virtual void wait_us(std::uint64_t us) = 0;
};

class RealClock final : public Clock {
 public:
  RealClock();
  std::uint64_t now_us() const override;
  void wait_us(std::uint64_t us) override;

 private:
  std::int64_t origin_ns_;
};

class VirtualClock final : public Clock {
 public:
  std::uint64_t now_us() const override { return now_us_; }
  void wait_us(std::uint64_t us) override { now_us_ += us; }
  void advance_us(std::uint64_t us) { now_us_ += us; }
  void advance_ms(std::uint64_t ms) { now_us_ += ms * 1000U; }

 private:
  std::uint64_t now_us_ = 0;
};

}  // namespace sim
