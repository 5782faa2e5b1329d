#include "records/records_reader.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "records/record_export.h"

namespace records {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A read's work on the reader's store; returns what went wrong, empty when it worked.
using Job = std::function<std::string(RecordStore& store)>;

// The queue's places: one running read and one waiting read of each kind at most. The page comes
// first when both wait.
enum Slot { kPageSlot, kRunSlot, kYieldSlot, kExportSlot, kReportSlot };

}  // namespace

// What the reader and its jobs share with the window thread.
struct RecordsReader::Shared {
  explicit Shared(QObject* receiver) : context(receiver) {}

  QObject* const context;
  mutable std::mutex mutex;
  bool closing = false;
  std::size_t undelivered = 0;
  std::function<void(ReadKind)> hook;

  void before(ReadKind kind) {
    std::function<void(ReadKind)> call;
    {
      std::lock_guard lock(mutex);
      call = hook;
    }
    if (call) call(kind);
  }

  // Hands `call` to the context's thread, unless the reader is closing; without a context, calls
  // it here.
  static void deliver(const std::shared_ptr<Shared>& shared, std::function<void()> call) {
    if (shared->context == nullptr) {
      {
        std::lock_guard lock(shared->mutex);
        if (shared->closing) return;
      }
      call();
      return;
    }
    std::lock_guard lock(shared->mutex);
    if (shared->closing) return;
    ++shared->undelivered;
    QMetaObject::invokeMethod(
        shared->context,
        [shared, call = std::move(call)] {
          {
            std::lock_guard inner(shared->mutex);
            --shared->undelivered;
            if (shared->closing) return;
          }
          call();
        },
        Qt::QueuedConnection);
  }
};

// One thread with its own connection, running the jobs posted to it one at a time.
class RecordsReader::Worker {
 public:
  explicit Worker(std::string location) : state_(std::make_shared<State>()) {
    thread_ =
        std::thread([state = state_, location = std::move(location)] { run(*state, location); });
  }

  ~Worker() {
    stop();
    finish(SteadyClock::now());
  }

  // A newer job replaces the one waiting in its slot; the running one goes on.
  void post(Slot slot, Job job) {
    {
      std::lock_guard lock(state_->mutex);
      state_->queued[slot] = std::move(job);
    }
    state_->wake.notify_one();
  }

  bool idle() const {
    std::lock_guard lock(state_->mutex);
    return state_->queued.empty() && !state_->busy_since;
  }

  std::optional<SteadyClock::time_point> busy_since() const {
    std::lock_guard lock(state_->mutex);
    return state_->busy_since;
  }

  // No job starts after this; the waiting ones are dropped.
  void stop() {
    {
      std::lock_guard lock(state_->mutex);
      state_->stopping = true;
      state_->queued.clear();
    }
    state_->wake.notify_one();
  }

  // Joins the thread when it ends by `deadline`; otherwise leaves it to end on its own once its
  // read returns (it owns its state and its connection, and delivers nothing any more).
  void finish(SteadyClock::time_point deadline) {
    if (!thread_.joinable()) return;
    bool ended = false;
    {
      std::unique_lock lock(state_->mutex);
      ended = state_->ended_cv.wait_until(lock, deadline, [this] { return state_->ended; });
    }
    if (ended) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

 private:
  struct State {
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended_cv;
    std::map<Slot, Job> queued;
    std::optional<SteadyClock::time_point> busy_since;
    bool stopping = false;
    bool ended = false;
  };

  static void run(State& state, const std::string& location) {
    {
      // The connection belongs to this thread from its first statement to its last.
      RecordStore store(location, OpenMode::reader);
      bool reopen = true;
      std::unique_lock lock(state.mutex);
      for (;;) {
        state.wake.wait(lock, [&] { return state.stopping || !state.queued.empty(); });
        if (state.stopping) break;
        Job job = std::move(state.queued.begin()->second);
        state.queued.erase(state.queued.begin());
        state.busy_since = SteadyClock::now();
        lock.unlock();
        // A connection that failed a read may be lost or stuck: the next read takes a new one.
        if (reopen || !store.keeping_records()) store.open();
        reopen = !job(store).empty();
        job = nullptr;
        lock.lock();
        state.busy_since.reset();
      }
    }
    std::lock_guard lock(state.mutex);
    state.ended = true;
    state.ended_cv.notify_all();
  }

  std::shared_ptr<State> state_;
  std::thread thread_;
};

RecordsReader::RecordsReader(std::string location, QObject* context)
    : location_(std::move(location)),
      shared_(std::make_shared<Shared>(context)),
      view_(std::make_unique<Worker>(location_)),
      exports_(std::make_unique<Worker>(location_)) {}

RecordsReader::~RecordsReader() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->closing = true;
  }
  // Both threads are told first, so that they share the one wait.
  view_->stop();
  exports_->stop();
  const SteadyClock::time_point deadline = SteadyClock::now() + kCloseWait;
  view_->finish(deadline);
  exports_->finish(deadline);
}

void RecordsReader::read_page(PageRequest request, std::function<void(PageResult)> done) {
  view_->post(kPageSlot, [shared = shared_, request = std::move(request),
                          done = std::move(done)](RecordStore& store) {
    shared->before(ReadKind::page);
    PageResult result;
    RecordFilter filter = request.filter;
    result.error = store.read_together([&]() -> std::string {
      if (request.stations) {
        ReadResult<std::vector<std::string>> stations = store.stations(kMostStations);
        if (!stations.error.empty()) return stations.error;
        result.stations = std::move(stations.value);
      }
      if (request.summary) {
        ReadResult<Summary> summary = store.summarize(filter);
        if (!summary.error.empty()) return summary.error;
        // Fewer runs than before: the last page there is now.
        const std::size_t total = summary.value.count;
        const std::size_t page = std::max<std::size_t>(filter.limit.value_or(total), 1);
        filter.offset = total == 0 ? 0 : std::min(filter.offset, (total - 1) / page * page);
        result.summary = std::move(summary.value);
      }
      ReadResult<std::vector<RunRecord>> runs = store.query(filter, Detail::list);
      result.runs = std::move(runs.value);
      if (!runs.error.empty() || !request.unit_results) return runs.error;
      std::vector<std::string> ids;
      for (const RunRecord& run : result.runs) {
        if (!run.unit_result_id.empty()) ids.push_back(run.unit_result_id);
      }
      std::sort(ids.begin(), ids.end());
      ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
      if (ids.empty()) return std::string();
      ReadResult<std::vector<UnitResult>> unit_results = store.unit_results(ids);
      result.unit_results = std::move(unit_results.value);
      return unit_results.error;
    });
    result.offset = filter.offset;
    std::string error = result.error;
    Shared::deliver(shared,
                    [done, result = std::move(result)]() mutable { done(std::move(result)); });
    return error;
  });
}

void RecordsReader::read_run(
    std::string id, std::function<void(std::optional<RunRecord> run, std::string error)> done) {
  view_->post(kRunSlot,
              [shared = shared_, id = std::move(id), done = std::move(done)](RecordStore& store) {
                shared->before(ReadKind::run);
                ReadResult<std::optional<RunRecord>> found = store.find(id);
                std::string error = found.error;
                Shared::deliver(shared, [done, found = std::move(found)]() mutable {
                  done(std::move(found.value), std::move(found.error));
                });
                return error;
              });
}

void RecordsReader::read_yield(RecordFilter filter,
                               std::function<void(ReadResult<YieldFigures>)> done) {
  view_->post(kYieldSlot, [shared = shared_, filter = std::move(filter),
                           done = std::move(done)](RecordStore& store) {
    shared->before(ReadKind::yield);
    ReadResult<YieldFigures> figures = read_yield_figures(store, filter);
    std::string error = figures.error;
    Shared::deliver(shared,
                    [done, figures = std::move(figures)]() mutable { done(std::move(figures)); });
    return error;
  });
}

void RecordsReader::export_runs(RecordFilter filter, std::string file,
                                std::function<void(ExportResult)> done) {
  exports_->post(kExportSlot, [shared = shared_, filter = std::move(filter), file = std::move(file),
                               done = std::move(done)](RecordStore& store) {
    shared->before(ReadKind::exporting);
    ExportResult result;
    result.error = export_records(store, filter, file, &result.count);
    std::string error = result.error;
    Shared::deliver(shared, [done, result = std::move(result)] { done(result); });
    return error;
  });
}

void RecordsReader::write_yield_report(RecordFilter filter, YieldReportHeading heading,
                                       std::string file,
                                       std::function<void(YieldReportResult)> done) {
  exports_->post(kReportSlot,
                 [shared = shared_, filter = std::move(filter), heading = std::move(heading),
                  file = std::move(file), done = std::move(done)](RecordStore& store) mutable {
                   shared->before(ReadKind::report);
                   YieldReportResult result;
                   const ReadResult<YieldFigures> figures = read_yield_figures(store, filter);
                   std::string read_error = figures.error;
                   if (!read_error.empty()) {
                     result.error = "the records cannot be read: " + read_error;
                   } else {
                     heading.records = store.location_text();
                     heading.made = now();
                     result.count = figures.value.total.count;
                     result.error = records::write_yield_report(figures.value, heading, file);
                   }
                   Shared::deliver(shared, [done, result = std::move(result)] { done(result); });
                   return read_error;
                 });
}

bool RecordsReader::idle() const {
  // The threads first: a read hands its result over before its thread counts as idle, and only
  // this thread takes results off the count.
  if (!view_->idle() || !exports_->idle()) return false;
  std::lock_guard lock(shared_->mutex);
  return shared_->undelivered == 0;
}

std::optional<std::chrono::milliseconds> RecordsReader::busy_for() const {
  const std::optional<SteadyClock::time_point> since = view_->busy_since();
  if (!since) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - *since);
}

void RecordsReader::set_read_hook(std::function<void(ReadKind)> hook) {
  std::lock_guard lock(shared_->mutex);
  shared_->hook = std::move(hook);
}

}  // namespace records
