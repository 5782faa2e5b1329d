// Store and forward: the finished runs a station writes to its own store are forwarded, in the
// order they finished, to the line's shared store, on a thread of their own so that a slow or
// absent server never holds the station. A run leaves the station's queue only once the shared
// store has committed it; the shared store keys runs on their id, so a batch forwarded again
// after a lost acknowledgement changes nothing there. Runs that wait when the program ends stay
// queued in the station's store for the next start.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "records/run_record.h"

class QThread;

namespace records {

struct ForwardState {
  // The shared store took the last batch (or there was none to send).
  bool reaching_server = false;
  // Why runs cannot be forwarded now ("the records server refused the connection"); empty
  // while they can.
  std::string reason;
  std::size_t waiting = 0;                 // runs still to forward
  std::optional<TimePoint> waiting_since;  // when the oldest of them finished
  std::size_t forwarded = 0;               // by this program run
};

class RecordForwarder {
 public:
  struct Options {
    std::string station_store;  // the station's own record file
    std::string shared_store;   // the shared store's location
    // How long the station's file may be locked by its writer before a read or the queue's
    // update counts as failed.
    std::chrono::milliseconds station_busy_timeout{1000};
    // How long a statement on the shared store may take before it counts as failed.
    std::chrono::milliseconds server_timeout{5000};
    // When runs wait, the shared store is tried again this often.
    std::chrono::milliseconds retry_interval{5000};
    // Runs sent in one transaction.
    std::size_t batch = 200;
    // Called on the forwarding thread after every attempt.
    std::function<void()> state_changed;
    // Called on the forwarding thread with the ids of each batch the shared store committed, in
    // the order they were sent.
    std::function<void(const std::vector<std::string>& ids)> batch_forwarded;
  };

  explicit RecordForwarder(Options options);
  // Ends after the batch in flight; what waits stays queued.
  ~RecordForwarder();
  RecordForwarder(const RecordForwarder&) = delete;
  RecordForwarder& operator=(const RecordForwarder&) = delete;

  // A run finished: forward now rather than at the next retry.
  void nudge();
  ForwardState state() const;
  // Waits until nothing waits to be forwarded, or `limit` passes; true when nothing waits.
  bool wait_until_forwarded(std::chrono::milliseconds limit);

 private:
  void run();
  // Forwards batches until the queue is empty or the shared store fails.
  void forward_waiting(class RecordStore& station, class RecordStore& shared);
  void publish(ForwardState state);

  const Options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool nudged_ = true;
  bool stopping_ = false;
  ForwardState state_;
  std::size_t attempts_ = 0;  // states published
  // A Qt thread, so that Qt's per-thread data of the SQL connections it owns ends with it. Last:
  // started once everything above exists.
  std::unique_ptr<QThread> thread_;
};

}  // namespace records
