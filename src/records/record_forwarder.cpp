#include "records/record_forwarder.h"

#include <QThread>

#include <utility>

#include "records/record_store.h"

namespace records {

RecordForwarder::RecordForwarder(Options options)
    : options_(std::move(options)), thread_(QThread::create([this] { run(); })) {
  thread_->start();
}

RecordForwarder::~RecordForwarder() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_->wait();
}

void RecordForwarder::nudge() {
  {
    std::lock_guard lock(mutex_);
    nudged_ = true;
  }
  wake_.notify_one();
}

ForwardState RecordForwarder::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool RecordForwarder::wait_until_forwarded(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  const std::size_t after = attempts_;
  nudged_ = true;
  wake_.notify_one();
  return idle_.wait_for(lock, limit, [this, after] {
    return attempts_ > after && state_.waiting == 0 && state_.reason.empty();
  });
}

void RecordForwarder::publish(ForwardState state) {
  {
    std::lock_guard lock(mutex_);
    state.forwarded += state_.forwarded;
    state_ = std::move(state);
    ++attempts_;
  }
  idle_.notify_all();
  if (options_.state_changed) options_.state_changed();
}

void RecordForwarder::forward_waiting(RecordStore& station, RecordStore& shared) {
  ForwardState state;
  state.reaching_server = true;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    ReadResult<std::vector<RunRecord>> batch = station.forward_batch(options_.batch);
    if (!batch.error.empty()) {
      state.reason = "the record file cannot be read: " + batch.error;
      break;
    }
    if (batch.value.empty()) break;
    if (!shared.import_runs(batch.value)) {
      state.reaching_server = false;
      state.reason = shared.reason();
      break;
    }
    std::vector<std::string> ids;
    ids.reserve(batch.value.size());
    for (const RunRecord& run : batch.value) ids.push_back(run.id);
    // The shared store has them; should this fail, they are sent again and change nothing.
    if (std::string error = station.forwarded(ids); !error.empty()) {
      state.reason = "the record file cannot be written: " + error;
      break;
    }
    state.forwarded += ids.size();
    if (options_.batch_forwarded) options_.batch_forwarded(ids);
  }
  const ReadResult<ForwardBacklog> backlog = station.forward_backlog();
  state.waiting = backlog.value.count;
  state.waiting_since = backlog.value.oldest;
  if (!backlog.error.empty() && state.reason.empty()) {
    state.reason = "the record file cannot be read: " + backlog.error;
  }
  publish(std::move(state));
}

void RecordForwarder::run() {
  // Both connections belong to this thread.
  // It shares the station's file with the writer: it may wait for the writer's short
  // transactions, as the writer waits for its own.
  RecordStore station(options_.station_store, OpenMode::reader, options_.station_busy_timeout);
  RecordStore shared(options_.shared_store, OpenMode::shared, options_.server_timeout);
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, options_.retry_interval, [this] { return stopping_ || nudged_; });
    if (stopping_) return;
    nudged_ = false;
    lock.unlock();
    if (!station.keeping_records()) station.open();
    if (!shared.keeping_records()) shared.open();
    if (!station.keeping_records()) {
      publish({false, "the record file cannot be read: " + station.reason(), 0, {}, 0});
    } else if (!shared.keeping_records()) {
      const ReadResult<ForwardBacklog> backlog = station.forward_backlog();
      publish({false, shared.reason(), backlog.value.count, backlog.value.oldest, 0});
    } else {
      forward_waiting(station, shared);
    }
    lock.lock();
  }
}

}  // namespace records
