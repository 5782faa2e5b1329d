#include "records/record_writer.h"

#include <QThread>

#include <algorithm>
#include <future>
#include <thread>
#include <utility>

namespace records {

namespace {

using Steady = std::chrono::steady_clock;

// How often write_out() lets its caller show the state, and how long the writer waits before it
// tries a store that took nothing again.
constexpr std::chrono::milliseconds kShowEvery{50};
constexpr std::chrono::milliseconds kAfterWriteOut{1000};

}  // namespace

RecordWriter::RecordWriter(Options options)
    : options_(std::move(options)), thread_(QThread::create([this] { run(); })) {
  thread_->start();
}

RecordWriter::~RecordWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // After a write_out() (the window's close), only the runs handed over since are left: a run
    // that ended with the close, say.
    deadline_ = Steady::now() + (written_out_ ? std::min(options_.close_time, kAfterWriteOut)
                                              : options_.close_time);
  }
  wake_.notify_one();
  thread_->wait();
}

void RecordWriter::post(Job job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

bool RecordWriter::open() {
  // No file named (a command line in error): records are not kept, and the state says so.
  if (options_.path.empty()) {
    flush();
    return false;
  }
  std::promise<bool> opened;
  std::future<bool> result = opened.get_future();
  post([this, &opened](RecordStore& store) {
    const bool open = store.open();
    follow_store(store);
    read_durations(store);
    opened.set_value(open);
  });
  return result.get();
}

void RecordWriter::begin_run(const RunRecord& record) {
  post([record](RecordStore& store) { store.begin_run(record); });
}

void RecordWriter::save_progress(const std::string& id, const std::string& report) {
  post([id, report](RecordStore& store) { store.save_progress(id, report); });
}

void RecordWriter::complete_run(const RunRecord& record) {
  {
    std::lock_guard lock(mutex_);
    ++handed_over_;
  }
  post([this, record](RecordStore& store) {
    const bool written = store.complete_run(record);
    if (written && record.outcome == Outcome::passed) read_durations(store);
    std::lock_guard lock(mutex_);
    --handed_over_;
  });
}

void RecordWriter::begin_unit_result(const UnitResult& result) {
  post([result](RecordStore& store) { store.begin_unit_result(result); });
}

void RecordWriter::complete_unit_result(const UnitResult& result) {
  {
    std::lock_guard lock(mutex_);
    ++handed_over_;
  }
  post([this, result](RecordStore& store) {
    store.complete_unit_result(result);
    std::lock_guard lock(mutex_);
    --handed_over_;
  });
}

void RecordWriter::retry() {
  post([this](RecordStore& store) {
    if (!late() && (!store.keeping_records() || store.waiting() > 0)) store.retry();
  });
}

void RecordWriter::flush() {
  std::promise<void> done;
  std::future<void> result = done.get_future();
  post([&done](RecordStore&) { done.set_value(); });
  result.wait();
}

bool RecordWriter::write_out(std::chrono::milliseconds time,
                             const std::function<void()>& meanwhile) {
  const Steady::time_point deadline = Steady::now() + time;
  {
    std::lock_guard lock(mutex_);
    deadline_ = deadline;
    written_out_ = true;
  }
  // Shared with the job, which may outlive this wait: a statement that does not end holds the
  // writer, not the caller.
  const auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> result = done->get_future();
  post([this, done, deadline](RecordStore& store) {
    write_waiting(store, deadline);
    done->set_value(store.waiting() == 0);
  });
  // The last statement begun before the deadline may wait for a lock that long.
  const Steady::time_point given_up = deadline + options_.busy_timeout;
  if (meanwhile) meanwhile();
  while (result.wait_until(std::min(given_up, Steady::now() + kShowEvery)) !=
             std::future_status::ready &&
         Steady::now() < given_up) {
    if (meanwhile) meanwhile();
  }
  if (result.wait_for(std::chrono::milliseconds{0}) != std::future_status::ready) {
    // The writer is still inside a statement: writes handed over from now on wait in the
    // journal, and the store is not opened again.
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    deadline_.reset();
  }
  return result.get();
}

StoreState RecordWriter::state() const {
  std::lock_guard lock(mutex_);
  StoreState state = state_;
  state.handed_over = handed_over_;
  state.closing = deadline_.has_value();
  return state;
}

std::vector<std::string> RecordWriter::take_notices() {
  std::lock_guard lock(mutex_);
  return std::exchange(notices_, {});
}

void RecordWriter::follow_store(RecordStore& store) {
  keeping_records_ = store.keeping_records();
  if (!keeping_records_) return;
  const ReadResult<std::optional<TimePoint>> latest = store.latest_made();
  if (latest.error.empty() && latest.value) run_clock().follow(*latest.value);
}

void RecordWriter::read_durations(RecordStore& store) {
  if (!store.keeping_records()) return;
  const std::string station =
      options_.station_id.empty() ? default_station_id() : options_.station_id;
  for (const bool simulated : {false, true}) {
    auto read = store.typical_durations(station, simulated);
    if (!read.error.empty()) continue;
    std::lock_guard lock(mutex_);
    durations_[simulated ? 1 : 0] = std::move(read.value);
  }
}

std::optional<std::chrono::milliseconds> RecordWriter::typical_duration(Procedure procedure,
                                                                        bool simulated) const {
  std::lock_guard lock(mutex_);
  for (const auto& [kind, duration] : durations_[simulated ? 1 : 0]) {
    if (kind == procedure) return duration;
  }
  return std::nullopt;
}

void RecordWriter::publish(RecordStore& store) {
  // Opened again (or free again): a file that could not be opened at the start may hold later
  // places than the clock gives.
  if (!keeping_records_ && store.keeping_records()) follow_store(store);
  StoreState state{store.keeping_records(), store.reason(), store.status_text(), store.waiting(),
                   store.in_memory()};
  std::vector<std::string> notices = store.take_notices();
  {
    std::lock_guard lock(mutex_);
    state_ = std::move(state);
    for (std::string& notice : notices) notices_.push_back(std::move(notice));
  }
  if (options_.state_changed) options_.state_changed();
}

void RecordWriter::write_waiting(RecordStore& store, Steady::time_point deadline) {
  while (!options_.path.empty() && store.waiting() > 0 && Steady::now() < deadline) {
    const std::size_t written = store.retry();
    publish(store);
    if (written == 0) std::this_thread::sleep_for(kShowEvery);
  }
}

bool RecordWriter::late() const {
  std::lock_guard lock(mutex_);
  return deadline_ && Steady::now() >= *deadline_;
}

void RecordWriter::run_job(Job& job, RecordStore& store) {
  // While the store fails, a write joins those waiting instead of waiting for the store itself;
  // the retry writes them all in order.
  store.defer_writes(late() || (!store.keeping_records() && store.waiting() > 0));
  job(store);
  store.defer_writes(false);
}

void RecordWriter::run() {
  // The store and its connection belong to this thread from the first statement to the last.
  RecordStore store(options_.path, OpenMode::station, options_.busy_timeout);
  store.set_forwarding(options_.forward);
  store.set_station(options_.station_id);
  publish(store);
  auto next_retry = Steady::now() + options_.retry_interval;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_until(lock, next_retry, [this] { return stopping_ || !jobs_.empty(); });
    std::deque<Job> jobs = std::exchange(jobs_, {});
    const bool stopping = stopping_;
    lock.unlock();
    // Each job's outcome is published before the next job runs: a flush sees the state its
    // writes left.
    for (Job& job : jobs) {
      run_job(job, store);
      publish(store);
    }
    // The store works again and runs still wait: they follow at once, a batch at a time.
    if (!options_.path.empty() && store.keeping_records() && store.waiting() > 0) {
      next_retry = std::min(next_retry, Steady::now());
    }
    // Past a close's deadline nothing opens the store again: what waits stays in the journal.
    if (Steady::now() >= next_retry && !late()) {
      std::size_t written = 0;
      if (!options_.path.empty() && (!store.keeping_records() || store.waiting() > 0)) {
        written = store.retry();
        publish(store);
      }
      // A batch written and more waiting: the next batch follows at once, after any new write.
      next_retry =
          Steady::now() + (written > 0 && store.waiting() > 0 ? std::chrono::milliseconds{0}
                                                              : options_.retry_interval);
    }
    lock.lock();
    if (stopping && jobs_.empty()) {
      const Steady::time_point deadline = deadline_.value_or(Steady::now());
      lock.unlock();
      write_waiting(store, deadline);
      return;
    }
  }
}

}  // namespace records
