#include "records/record_writer.h"

#include <QThread>

#include <future>
#include <utility>

namespace records {

RecordWriter::RecordWriter(Options options)
    : options_(std::move(options)), thread_(QThread::create([this] { run(); })) {
  thread_->start();
}

RecordWriter::~RecordWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
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
  post([&opened](RecordStore& store) { opened.set_value(store.open()); });
  return result.get();
}

void RecordWriter::begin_run(const RunRecord& record) {
  post([record](RecordStore& store) { store.begin_run(record); });
}

void RecordWriter::save_progress(const std::string& id, const std::string& report) {
  post([id, report](RecordStore& store) { store.save_progress(id, report); });
}

void RecordWriter::complete_run(const RunRecord& record) {
  post([record](RecordStore& store) { store.complete_run(record); });
}

void RecordWriter::retry() {
  post([](RecordStore& store) {
    if (!store.keeping_records() || store.waiting() > 0) store.retry();
  });
}

void RecordWriter::flush() {
  std::promise<void> done;
  std::future<void> result = done.get_future();
  post([&done](RecordStore&) { done.set_value(); });
  result.wait();
}

StoreState RecordWriter::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::vector<std::string> RecordWriter::take_notices() {
  std::lock_guard lock(mutex_);
  return std::exchange(notices_, {});
}

void RecordWriter::publish(RecordStore& store) {
  StoreState state{store.keeping_records(), store.reason(), store.status_text(), store.waiting()};
  std::vector<std::string> notices = store.take_notices();
  {
    std::lock_guard lock(mutex_);
    state_ = std::move(state);
    for (std::string& notice : notices) notices_.push_back(std::move(notice));
  }
  if (options_.state_changed) options_.state_changed();
}

void RecordWriter::run() {
  // The store and its connection belong to this thread from the first statement to the last.
  RecordStore store(options_.path, OpenMode::station, options_.busy_timeout);
  store.set_forwarding(options_.forward);
  publish(store);
  auto next_retry = std::chrono::steady_clock::now() + options_.retry_interval;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_until(lock, next_retry, [this] { return stopping_ || !jobs_.empty(); });
    std::deque<Job> jobs = std::exchange(jobs_, {});
    const bool stopping = stopping_;
    lock.unlock();
    // Each job's outcome is published before the next job runs: a flush sees the state its
    // writes left.
    for (Job& job : jobs) {
      job(store);
      publish(store);
    }
    if (std::chrono::steady_clock::now() >= next_retry) {
      if (!options_.path.empty() && (!store.keeping_records() || store.waiting() > 0)) {
        store.retry();
        publish(store);
      }
      next_retry = std::chrono::steady_clock::now() + options_.retry_interval;
    }
    lock.lock();
    if (stopping && jobs_.empty()) return;
  }
}

}  // namespace records
