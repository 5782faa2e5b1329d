#include "records/record_forwarder.h"

#include <QThread>

#include <utility>

#include "records/record_store.h"
#include "records/server_watch.h"

namespace records {

namespace {

std::vector<std::string> ids_of(const std::vector<RunRecord>& runs) {
  std::vector<std::string> ids;
  ids.reserve(runs.size());
  for (const RunRecord& run : runs) ids.push_back(run.id);
  return ids;
}

}  // namespace

RecordForwarder::RecordForwarder(Options options)
    : options_(std::move(options)),
      watch_(std::make_unique<ServerWatch>(
          ServerWatch::Limits{options_.no_answer_notice,
                              options_.server_timeout + std::chrono::seconds{1}},
          [this](std::uint64_t exchange) { no_answer(exchange); })),
      thread_(QThread::create([this] { run(); })) {
  thread_->start();
}

RecordForwarder::~RecordForwarder() {
  stop();
  thread_->wait();
}

void RecordForwarder::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  // The server is not waited for: the exchange in flight, and any the thread still makes on its
  // way out, fail at once.
  watch_->cut_all();
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

void RecordForwarder::no_answer(std::uint64_t exchange) {
  {
    std::lock_guard lock(mutex_);
    // An exchange that has ended since may have worked, and its state is the newer.
    if (stopping_ || exchange != exchange_in_flight_) return;
    state_.reaching_server = false;
    state_.reason = kServerDoesNotAnswer;
  }
  idle_.notify_all();
  if (options_.state_changed) options_.state_changed();
}

bool RecordForwarder::stopping() const {
  std::lock_guard lock(mutex_);
  return stopping_;
}

bool RecordForwarder::exchange(const std::function<bool()>& call) {
  {
    std::lock_guard lock(mutex_);
    exchange_in_flight_ = watch_->begin();
  }
  const bool done = call();
  std::lock_guard lock(mutex_);
  last_exchange_cut_ = watch_->end();
  exchange_in_flight_ = 0;
  return done;
}

std::string RecordForwarder::server_reason(const RecordStore& shared) const {
  return last_exchange_cut_ ? std::string(kServerDoesNotAnswer) : shared.reason();
}

bool RecordForwarder::taken(RecordStore& station, std::vector<std::string> ids,
                            ForwardState& state) {
  // The shared store has them; should this fail, they are sent again and change nothing.
  if (std::string error = station.forwarded(ids); !error.empty()) {
    state.reason = "the record file cannot be written: " + error;
    return false;
  }
  state.forwarded += ids.size();
  if (options_.batch_forwarded) options_.batch_forwarded(ids);
  return true;
}

bool RecordForwarder::send(RecordStore& station, RecordStore& shared,
                           const std::vector<RunRecord>& runs, ForwardState& state) {
  if (stopping()) return false;
  if (exchange([&] { return shared.import_runs(runs); })) {
    return taken(station, ids_of(runs), state);
  }
  const std::string refusal = shared.refusal();
  if (refusal.empty()) {
    state.reaching_server = false;
    state.reason = server_reason(shared);
    return false;
  }
  if (runs.size() == 1) {
    if (std::string error = station.set_aside(runs.front().id, refusal); !error.empty()) {
      state.reason = "the record file cannot be written: " + error;
      return false;
    }
    return true;
  }
  // Some run of them cannot go in: each half on its own, the first first, down to the runs
  // refused, so that only those are held back and a batch of 200 with one such run costs some 16
  // transactions rather than 200.
  const auto middle = runs.begin() + std::ptrdiff_t(runs.size() / 2);
  return send(station, shared, {runs.begin(), middle}, state) &&
         send(station, shared, {middle, runs.end()}, state);
}

bool RecordForwarder::send_unit_results(RecordStore& station, RecordStore& shared,
                                        const std::vector<UnitResult>& results,
                                        ForwardState& state) {
  if (stopping()) return false;
  if (exchange([&] { return shared.import_unit_results(results); })) {
    std::vector<std::string> ids;
    for (const UnitResult& result : results) ids.push_back(result.id);
    if (std::string error = station.unit_results_forwarded(ids); !error.empty()) {
      state.reason = "the record file cannot be written: " + error;
      return false;
    }
    state.forwarded += ids.size();
    return true;
  }
  const std::string refusal = shared.refusal();
  if (refusal.empty()) {
    state.reaching_server = false;
    state.reason = server_reason(shared);
    return false;
  }
  if (results.size() == 1) {
    if (std::string error = station.set_aside_unit_result(results.front().id, refusal);
        !error.empty()) {
      state.reason = "the record file cannot be written: " + error;
      return false;
    }
    return true;
  }
  const auto middle = results.begin() + std::ptrdiff_t(results.size() / 2);
  return send_unit_results(station, shared, {results.begin(), middle}, state) &&
         send_unit_results(station, shared, {middle, results.end()}, state);
}

void RecordForwarder::forward_waiting(RecordStore& station, RecordStore& shared) {
  ForwardState state;
  state.reaching_server = true;
  bool runs_sent = false;
  while (!stopping()) {
    ReadResult<std::vector<RunRecord>> batch = station.forward_batch(options_.batch);
    if (!batch.error.empty()) {
      state.reason = "the record file cannot be read: " + batch.error;
      break;
    }
    if (batch.value.empty()) {
      runs_sent = true;
      break;
    }
    if (!send(station, shared, batch.value, state)) break;
  }
  // The unit results after the runs of their steps.
  while (runs_sent && !stopping()) {
    ReadResult<std::vector<UnitResult>> batch = station.forward_unit_result_batch(options_.batch);
    if (!batch.error.empty()) {
      state.reason = "the record file cannot be read: " + batch.error;
      break;
    }
    if (batch.value.empty() || !send_unit_results(station, shared, batch.value, state)) break;
  }
  const ReadResult<ForwardBacklog> backlog = station.forward_backlog();
  state.waiting = backlog.value.count;
  state.waiting_since = backlog.value.oldest;
  state.set_aside = backlog.value.set_aside;
  state.set_aside_reason = backlog.value.latest_refusal;
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
  shared.set_connection_observer([this](int socket) { watch_->set_socket(socket); });
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, options_.retry_interval, [this] { return stopping_ || nudged_; });
    if (stopping_) return;
    nudged_ = false;
    lock.unlock();
    if (!station.keeping_records()) station.open();
    if (!shared.keeping_records()) exchange([&] { return shared.open(); });
    if (!station.keeping_records()) {
      publish({false, "the record file cannot be read: " + station.reason(), 0, {}, 0, 0, {}});
    } else if (!shared.keeping_records()) {
      const ReadResult<ForwardBacklog> backlog = station.forward_backlog();
      publish({false, server_reason(shared), backlog.value.count, backlog.value.oldest, 0,
               backlog.value.set_aside, backlog.value.latest_refusal});
    } else {
      forward_waiting(station, shared);
    }
    lock.lock();
  }
}

}  // namespace records
