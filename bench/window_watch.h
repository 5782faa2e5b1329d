// What the window benchmarks share: an operator that answers nothing, a watch on the window
// thread's longest stall, and a way to turn its events for a while.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "driver/operator.h"

namespace bench {

using Millis = std::chrono::duration<double, std::milli>;

class SilentOperator final : public driver::Operator {
 public:
  void message(const std::string&, const std::string&) override {}
  std::optional<std::string> input(const std::string&, const std::string&,
                                   const std::string&) override {
    return std::nullopt;
  }
  void print(const std::string&) override {}
  std::string short_date() override { return "12/8/2026"; }
};

// The window thread's longest stall: the largest gap between the ticks of a 2 ms timer, less the
// 2 ms.
class StallWatch {
 public:
  StallWatch() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(2);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = std::chrono::steady_clock::now();
      longest_ = std::max(longest_, Millis(now - last_).count() - 2.0);
      last_ = now;
    });
  }
  void start() {
    longest_ = 0;
    last_ = std::chrono::steady_clock::now();
    timer_.start();
  }
  double stop() {
    timer_.stop();
    return longest_;
  }

 private:
  QTimer timer_;
  std::chrono::steady_clock::time_point last_;
  double longest_ = 0;
};

// Turns the window thread's events for `ms`.
inline void turn_events(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace bench
