// The station's record store on a thread of its own, so that no write, however slow the file or
// its lock, holds the window. The window thread hands each write over and goes on; the writer
// thread owns the store's connection, writes in the order the writes were handed over, retries
// waiting records on its own timer, and publishes the store's state after every write.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "records/run_writes.h"

class QThread;

namespace records {

// The store's state as of its last write, for the status line.
struct StoreState {
  bool keeping_records = false;
  std::string reason;       // RecordStore::reason()
  std::string status_text;  // RecordStore::status_text()
  std::size_t waiting = 0;  // runs in memory, not yet in the file
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
    // Called on the writer thread after every write and retry.
    std::function<void()> state_changed;
  };

  explicit RecordWriter(Options options);
  // Writes everything handed over so far (records that cannot be written are lost with the
  // program, as they would be in memory), then ends the thread.
  ~RecordWriter() override;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Opens the store (see RecordStore::open) and waits for it: the start-up's one wait.
  bool open();
  const std::string& path() const { return options_.path; }

  void begin_run(const RunRecord& record) override;
  void save_progress(const std::string& id, const std::string& report) override;
  void complete_run(const RunRecord& record) override;
  // Writes waiting records now instead of at the next retry.
  void retry();
  // Waits until every write handed over so far is done.
  void flush();

  StoreState state() const;
  // Messages for the technician since the last call (a damaged file moved aside).
  std::vector<std::string> take_notices();

 private:
  using Job = std::function<void(RecordStore& store)>;
  void post(Job job);
  void run();
  void publish(RecordStore& store);

  const Options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  StoreState state_;
  std::vector<std::string> notices_;
  // A Qt thread, so that Qt's per-thread data of the SQL connection it owns ends with it. Last:
  // started once everything above exists.
  std::unique_ptr<QThread> thread_;
};

}  // namespace records
