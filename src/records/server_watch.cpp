#include "records/server_watch.h"

#include <fcntl.h>
// The kernel's tcp_info: glibc's (netinet/tcp.h) ends before tcpi_bytes_acked.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

namespace records {

namespace {

using Clock = std::chrono::steady_clock;

// How often an exchange in flight is looked at.
constexpr std::chrono::milliseconds kTick{100};

// What the kernel counts of a TCP socket; none for a local socket.
struct Heard {
  Clock::time_point data;          // when data last came from the server
  std::uint64_t acknowledged = 0;  // bytes of ours the server has acknowledged
};

std::optional<Heard> heard_on(int socket) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return std::nullopt;
  return Heard{Clock::now() - std::chrono::milliseconds{info.tcpi_last_data_recv},
               info.tcpi_bytes_acked};
}

}  // namespace

ServerWatch::ServerWatch(Limits limits, std::function<void(std::uint64_t exchange)> silent)
    : limits_(limits), silent_(std::move(silent)), thread_([this] { run(); }) {}

ServerWatch::~ServerWatch() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (socket_ >= 0) ::close(socket_);
}

void ServerWatch::set_socket(int socket) {
  std::lock_guard lock(mutex_);
  if (socket_ >= 0) ::close(socket_);
  // A copy of our own: the driver closes its number when the connection drops, and the number may
  // then name another socket; ours names this connection until we let it go. Without a copy (no
  // descriptor left) the connection is not watched.
  socket_ = socket >= 0 ? ::fcntl(socket, F_DUPFD_CLOEXEC, 0) : -1;
  socket_cut_ = false;
  acknowledged_ = 0;
  acknowledged_at_ = {};
  if (cut_all_) cut();
}

std::uint64_t ServerWatch::begin() {
  std::uint64_t exchange = 0;
  {
    std::lock_guard lock(mutex_);
    exchange = ++exchange_;
    in_flight_ = true;
    begun_ = Clock::now();
    noticed_ = false;
    cut_ = cut_all_;
    if (cut_all_) cut();
  }
  wake_.notify_all();
  return exchange;
}

bool ServerWatch::end() {
  std::lock_guard lock(mutex_);
  in_flight_ = false;
  return cut_;
}

void ServerWatch::cut_all() {
  std::lock_guard lock(mutex_);
  cut_all_ = true;
  cut();
}

std::chrono::steady_clock::duration ServerWatch::silence() {
  Clock::time_point heard = begun_;
  if (socket_ >= 0) {
    if (const auto on_socket = heard_on(socket_)) {
      heard = std::max(heard, on_socket->data);
      // A long request (a report of megabytes over a slow link) hears no data until it is all
      // sent, but the server takes it in: its acknowledgements count. A stopped server stops
      // acknowledging once its receive buffer is full (the probes of a closed window acknowledge
      // nothing new), so it is still cut.
      if (on_socket->acknowledged != acknowledged_) {
        acknowledged_ = on_socket->acknowledged;
        acknowledged_at_ = Clock::now();
      }
      heard = std::max(heard, acknowledged_at_);
    }
  }
  return Clock::now() - heard;
}

void ServerWatch::cut() {
  if (in_flight_) cut_ = true;
  if (socket_ < 0 || socket_cut_) return;
  // Not close(): the connection stays the driver's, which now reads its end and fails; shut down
  // through our copy, it is the same connection.
  ::shutdown(socket_, SHUT_RDWR);
  socket_cut_ = true;
}

void ServerWatch::run() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    if (!in_flight_) {
      wake_.wait(lock, [this] { return ending_ || in_flight_; });
      continue;
    }
    const Clock::duration silent = silence();
    if (silent >= limits_.cut && !cut_) cut();
    if (silent >= limits_.notice && !noticed_) {
      noticed_ = true;
      const std::uint64_t exchange = exchange_;
      lock.unlock();
      if (silent_) silent_(exchange);
      lock.lock();
      continue;
    }
    wake_.wait_for(lock, kTick);
  }
}

}  // namespace records
