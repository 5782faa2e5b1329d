#include "records/server_watch.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace records {

namespace {

using Clock = std::chrono::steady_clock;

// How often an exchange in flight is looked at.
constexpr std::chrono::milliseconds kTick{100};

// When the socket last received data from the server, as the kernel counts it (a TCP socket);
// none for a local socket.
std::optional<Clock::time_point> last_received(int socket) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return std::nullopt;
  return Clock::now() - std::chrono::milliseconds{info.tcpi_last_data_recv};
}

}  // namespace

ServerWatch::ServerWatch(Limits limits, std::function<void()> silent)
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
  if (cut_all_) cut();
}

void ServerWatch::begin() {
  {
    std::lock_guard lock(mutex_);
    in_flight_ = true;
    begun_ = Clock::now();
    noticed_ = false;
    cut_ = cut_all_;
    if (cut_all_) cut();
  }
  wake_.notify_all();
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

std::chrono::steady_clock::duration ServerWatch::silence() const {
  Clock::time_point heard = begun_;
  if (socket_ >= 0) {
    if (const auto received = last_received(socket_)) heard = std::max(heard, *received);
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
      lock.unlock();
      if (silent_) silent_();
      lock.lock();
      continue;
    }
    wake_.wait_for(lock, kTick);
  }
}

}  // namespace records
