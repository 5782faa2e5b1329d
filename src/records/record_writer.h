// The station's record store on a thread of its own, so that no write, however slow the file or
// its lock, holds the window. The window thread hands each write over and goes on; the writer
// thread owns the store's connection, writes in the order the writes were handed over, retries
// waiting records on its own timer, and publishes the store's state after every write. While the
// store fails, writes go to its journal at once instead of each waiting for the store; the retry
// writes them, a batch at a time until none waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "records/run_writes.h"

class QThread;

namespace records {

// The store's state as of its last write, for the status line.
struct StoreState {
  bool keeping_records = false;
  std::string reason;           // RecordStore::reason()
  std::string status_text;      // RecordStore::status_text()
  std::size_t waiting = 0;      // runs not yet in the file
  std::size_t in_memory = 0;    // of them, those in memory only (the journal cannot be written)
  std::size_t handed_over = 0;  // runs handed to the writer and not yet written or waiting
  bool closing = false;         // the writer writes what waits before it ends
};

class RecordWriter final : public RunWrites {
 public:
  struct Options {
    std::string path;
    // The writer may wait this long for another program's lock: it holds no window.
    std::chrono::milliseconds busy_timeout{1000};
    // Waiting records are written again, and a failed store opened again, this often.
    std::chrono::milliseconds retry_interval{10000};
    // Finished runs are queued for forwarding to a shared store.
    bool forward = false;
    // The station's id: only its runs left running are marked interrupted
    // (RecordStore::set_station).
    std::string station_id;
    // Called on the writer thread after every write and retry.
    std::function<void()> state_changed;
    // The end writes what waits for at most this long; what is left waits in the journal for the
    // next start.
    std::chrono::milliseconds close_time{3000};
  };

  explicit RecordWriter(Options options);
  // write_out(close_time) (after an earlier write_out(), for at most 1 s: only what was handed
  // over since is left), then ends the thread. Records that could not be written wait in the
  // journal for the next start. Past the deadline the store is not opened again and writes go to
  // the journal, so the end waits at most for a statement begun before it, which the busy
  // time-out bounds while it waits for a lock.
  ~RecordWriter() override;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Opens the store (see RecordStore::open) and waits for it: the start-up's one wait.
  bool open();
  const std::string& path() const { return options_.path; }

  void begin_run(const RunRecord& record) override;
  void save_progress(const std::string& id, const std::string& report) override;
  void complete_run(const RunRecord& record) override;
  void begin_unit_result(const UnitResult& result) override;
  void complete_unit_result(const UnitResult& result) override;
  // Writes waiting records now instead of at the next retry.
  void retry();
  // Waits until every write handed over so far is done.
  void flush();
  // Writes everything handed over and every waiting record, for at most `time` (and a store's
  // busy time-out): what cannot be written by then waits in the journal. Returns by then even
  // when the writer is still inside a statement (what it writes then is written or waits in the
  // journal all the same). Calls `meanwhile` on the calling thread about every 50 ms while it
  // waits (to show the state). True when nothing waits any more.
  bool write_out(std::chrono::milliseconds time, const std::function<void()>& meanwhile = {});

  StoreState state() const;
  // How long the procedure's passed runs on this station usually take (RecordStore::
  // typical_durations(), for simulated runs or real ones), as read when the store was opened and
  // after each passed run; none when none passed. Waits for nothing: any thread may ask.
  std::optional<std::chrono::milliseconds> typical_duration(Procedure procedure,
                                                            bool simulated) const;
  // Messages for the technician since the last call (a damaged file moved aside).
  std::vector<std::string> take_notices();

 private:
  using Job = std::function<void(RecordStore& store)>;
  void post(Job job);
  void run();
  void publish(RecordStore& store);
  // Retries until nothing waits or the deadline passes.
  void write_waiting(RecordStore& store, std::chrono::steady_clock::time_point deadline);
  void run_job(Job& job, RecordStore& store);
  // Past the deadline of a write_out() or the end.
  bool late() const;
  // The station's runs are placed after those the store holds, whatever the wall clock says:
  // after every open, and whenever the store takes writes again.
  void follow_store(RecordStore& store);
  // Reads the typical durations again (on the writer thread).
  void read_durations(RecordStore& store);

  const Options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  // Set by write_out() and the end: writes past it wait without trying the store.
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  bool written_out_ = false;
  std::size_t handed_over_ = 0;
  StoreState state_;
  std::vector<std::string> notices_;
  // Real runs' durations, then simulated ones'.
  std::vector<std::pair<Procedure, std::chrono::milliseconds>> durations_[2];
  // The writer thread's: whether the store took writes when last seen.
  bool keeping_records_ = false;
  // A Qt thread, so that Qt's per-thread data of the SQL connection it owns ends with it. Last:
  // started once everything above exists.
  std::unique_ptr<QThread> thread_;
};

}  // namespace records
