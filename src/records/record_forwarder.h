// Store and forward: the finished runs a station writes to its own store are forwarded, in the
// order they finished, to the line's shared store, on a thread of their own so that a slow or
// absent server never holds the station. A run leaves the station's queue only once the shared
// store has committed it; the shared store keys runs on their id, so a batch forwarded again
// after a lost acknowledgement changes nothing there. A run the shared store refuses for its
// content (a text it cannot hold, a run of that id with other content) is set aside in the
// station's store with the store's reason, and the runs behind it go on in order, in the same
// attempt. A server that stops answering is cut by the station's own watch (server_watch.h).
// Runs that wait when the program ends stay queued in the station's store for the next start.
// Finished unit results (a unit's final test) follow the runs the same way, from a queue of their
// own; they count among the runs waiting, forwarded and set aside.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "records/run_record.h"
#include "records/unit_result.h"

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
  // Runs the shared store refused for their content, set aside in the station's store (kept
  // there; RecordStore::set_aside_runs() lists them with their reasons), and the reason of the
  // latest one.
  std::size_t set_aside = 0;
  std::string set_aside_reason;
};

// The reason while an exchange with the server has gone unanswered for a while.
inline constexpr const char* kServerDoesNotAnswer = "the records server does not answer";

class RecordForwarder {
 public:
  struct Options {
    std::string station_store;  // the station's own record file
    std::string shared_store;   // the shared store's location
    // How long the station's file may be locked by its writer before a read or the queue's
    // update counts as failed.
    std::chrono::milliseconds station_busy_timeout{1000};
    // How long a statement on the shared store may take before it counts as failed (the server's
    // statement time-out). A server that has not answered for this long and a second more is cut
    // off by the station.
    std::chrono::milliseconds server_timeout{5000};
    // A server that has not answered for this long is said not to answer (state_changed), while
    // the exchange goes on.
    std::chrono::milliseconds no_answer_notice{4000};
    // When runs wait, the shared store is tried again this often.
    std::chrono::milliseconds retry_interval{5000};
    // Runs sent in one transaction.
    std::size_t batch = 200;
    // Called on the forwarding thread after every attempt, and on the watch's thread when the
    // server does not answer.
    std::function<void()> state_changed;
    // Called on the forwarding thread with the ids of each batch the shared store committed, in
    // the order they were sent.
    std::function<void(const std::vector<std::string>& ids)> batch_forwarded;
  };

  explicit RecordForwarder(Options options);
  // Cuts the exchange with the server in flight and ends: what was not forwarded stays queued.
  // Waits for the server not at all, for the station's file at most its busy time-out, and for a
  // connection being opened at most its connect time-out (2 s by default), less the time since
  // stop().
  ~RecordForwarder();
  // Begins the end without waiting for it: no exchange is begun from now on and the one in flight
  // is cut, so that a close may let the forwarder's wait run beside its other waits.
  void stop();
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
  // Sends `runs` in one transaction; when the shared store refuses their content, in halves, in
  // order, setting aside each run it refuses. False when forwarding stops for now (`state` says
  // why).
  bool send(RecordStore& station, RecordStore& shared, const std::vector<RunRecord>& runs,
            ForwardState& state);
  // The same for unit results.
  bool send_unit_results(RecordStore& station, RecordStore& shared,
                         const std::vector<UnitResult>& results, ForwardState& state);
  // Takes runs the shared store committed off the station's queue.
  bool taken(RecordStore& station, std::vector<std::string> ids, ForwardState& state);
  // An exchange with the server under the watch; `state` learns when the watch cut it.
  bool exchange(const std::function<bool()>& call);
  std::string server_reason(const RecordStore& shared) const;
  bool stopping() const;
  void publish(ForwardState state);
  // The watch found the exchange `exchange` unanswered; nothing when it has ended since.
  void no_answer(std::uint64_t exchange);

  const Options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool nudged_ = true;
  bool stopping_ = false;
  ForwardState state_;
  std::size_t attempts_ = 0;              // states published
  bool last_exchange_cut_ = false;        // the forwarding thread's
  std::uint64_t exchange_in_flight_ = 0;  // the watch's number for it; 0 between exchanges
  std::unique_ptr<class ServerWatch> watch_;
  // A Qt thread, so that Qt's per-thread data of the SQL connections it owns ends with it. Last:
  // started once everything above exists.
  std::unique_ptr<QThread> thread_;
};

}  // namespace records
