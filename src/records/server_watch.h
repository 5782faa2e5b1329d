// Station-side time limits on a records server's connection. The server's own statement time-out
// fires only while the server runs: a server that is stopped (SIGSTOP, a paused virtual machine)
// keeps the connection up, the kernel acknowledges what is sent and keep-alives pass, and the
// driver waits for an answer for ever. The watch counts how long an exchange in flight has heard
// nothing from the server (no data, and nothing of what it sends acknowledged); past a limit it
// says so, and past a longer one it shuts the connection's socket down (shutdown(2)), so that the
// driver's wait ends with an error at once. At close it cuts at once. Internal to src/records.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace records {

class ServerWatch {
 public:
  struct Limits {
    // Silence after which `silent` is called, once an exchange.
    std::chrono::milliseconds notice{4000};
    // Silence after which the socket is shut down.
    std::chrono::milliseconds cut{6000};
  };

  // `silent` is given the number begin() gave the exchange it tells of, which may have ended by
  // the time it is called.
  ServerWatch(Limits limits, std::function<void(std::uint64_t exchange)> silent);
  ~ServerWatch();
  ServerWatch(const ServerWatch&) = delete;
  ServerWatch& operator=(const ServerWatch&) = delete;

  // The socket of the connection in use, -1 when there is none; called on the connection's
  // thread. The watch keeps a copy of its own (dup), let go of when another socket or -1 is set
  // and when the watch ends: the driver's number may be closed and reused at any time.
  void set_socket(int socket);
  // An exchange with the server begins and ends, on the connection's thread. begin() numbers the
  // exchange (from 1); end() tells whether the watch cut the connection during it.
  std::uint64_t begin();
  bool end();
  // From now on the connection is cut at once, in an exchange or not, and so is any connection
  // opened later (at close: the connection's statements are let go of on the server too).
  void cut_all();

 private:
  void run();
  // How long the exchange in flight has heard nothing from the server. Under the lock, on the
  // watch's thread.
  std::chrono::steady_clock::duration silence();
  // Shuts the socket in use down, once. Under the lock.
  void cut();

  const Limits limits_;
  const std::function<void(std::uint64_t exchange)> silent_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  int socket_ = -1;  // our copy
  bool in_flight_ = false;
  std::uint64_t exchange_ = 0;  // the number of the latest exchange
  std::chrono::steady_clock::time_point begun_{};
  // The bytes the server had acknowledged when last looked at, and when that count last grew.
  std::uint64_t acknowledged_ = 0;
  std::chrono::steady_clock::time_point acknowledged_at_{};
  bool noticed_ = false;
  bool cut_ = false;         // during the exchange in flight
  bool socket_cut_ = false;  // the socket in use
  bool cut_all_ = false;
  bool ending_ = false;
  std::thread thread_;  // last: started once everything above exists
};

}  // namespace records
