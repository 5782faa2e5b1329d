// The station's record file written on a thread of its own, and store and forward: finished runs
// reach the shared store in the order they finished, once each, whatever the shared store does
// in between. A second SQLite file stands in for the shared store here.
#include <gtest/gtest.h>

#include <QFile>
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "other_connection.h"
#include "record_samples.h"
#include "records/record_forwarder.h"
#include "records/record_store.h"
#include "records/record_writer.h"

namespace records {
namespace {

using samples::bare_record;
using samples::full_record;
using namespace std::chrono_literals;

// Long enough for any slow machine; the tests wait for a state, never for a time.
constexpr std::chrono::milliseconds kPatience = 30s;

RecordWriter::Options writer_options(const std::string& path, bool forward = false) {
  RecordWriter::Options options;
  options.path = path;
  options.busy_timeout = 20ms;
  // Retries only when a test asks for one.
  options.retry_interval = 1h;
  options.forward = forward;
  return options;
}

std::vector<RunRecord> all_runs(const std::string& path) {
  RecordStore store(path, OpenMode::reader);
  EXPECT_TRUE(store.open()) << store.status_text();
  RecordFilter all;
  all.include_simulated = true;
  return store.query(all).value;
}

std::vector<std::string> ids_of(std::vector<RunRecord> runs) {
  std::vector<std::string> ids;
  for (const RunRecord& run : runs) ids.push_back(run.id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// Finished runs with every field, numbered in the order they finish.
RunRecord finished(int n) {
  RunRecord run = full_record("run-" + std::to_string(100 + n));
  run.started = samples::at(samples::kMorning + n * 60'000LL);
  run.ended = run.started + 30s;
  run.report = "report of run " + std::to_string(n) + "\r\n\"quoted\", comma\r\n";
  return run;
}

class Writer : public ::testing::Test {
 protected:
  std::string path() const { return folder_.file("records.sqlite"); }
  samples::Folder folder_;
};

TEST_F(Writer, HandsAWriteOverWhileTheFileIsLockedAndWritesItOnceTheLockIsGone) {
  RecordWriter writer(writer_options(path()));
  ASSERT_TRUE(writer.open());
  OtherConnection other(path());
  ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
  ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));

  // Returns at once, the file still locked.
  writer.complete_run(full_record());
  writer.flush();
  StoreState state = writer.state();
  EXPECT_FALSE(state.keeping_records);
  EXPECT_EQ(state.waiting, 1U);
  EXPECT_NE(state.status_text.find("locked"), std::string::npos) << state.status_text;

  ASSERT_TRUE(other.exec("ROLLBACK"));
  writer.retry();
  writer.flush();
  state = writer.state();
  EXPECT_TRUE(state.keeping_records) << state.status_text;
  EXPECT_EQ(state.waiting, 0U);
  EXPECT_EQ(all_runs(path()), std::vector<RunRecord>{full_record()});
}

TEST_F(Writer, WritesInTheOrderHandedOverAndFinishesEverythingBeforeItEnds) {
  RunRecord run = full_record();
  {
    RecordWriter writer(writer_options(path()));
    ASSERT_TRUE(writer.open());
    writer.begin_run(run);
    writer.save_progress(run.id, "first part");
    writer.save_progress(run.id, "first and second part");
    writer.complete_run(run);
    // Ends with the four writes possibly still queued.
  }
  EXPECT_EQ(all_runs(path()), std::vector<RunRecord>{run});
}

TEST_F(Writer, AFileThatCannotBeOpenedIsReportedAndItsRunsWaitInMemory) {
  const std::string blocked = folder_.file("not-a-folder");
  ASSERT_TRUE(QFile(QString::fromStdString(blocked)).open(QIODevice::WriteOnly));
  RecordWriter writer(writer_options(blocked + "/records.sqlite"));
  EXPECT_FALSE(writer.open());
  writer.complete_run(full_record());
  writer.flush();
  const StoreState state = writer.state();
  EXPECT_FALSE(state.keeping_records);
  EXPECT_EQ(state.waiting, 1U);
  EXPECT_EQ(state.reason, "the record file cannot be opened");

  ASSERT_TRUE(QFile::remove(QString::fromStdString(blocked)));
  writer.retry();
  writer.flush();
  EXPECT_TRUE(writer.state().keeping_records);
  EXPECT_EQ(all_runs(blocked + "/records.sqlite").size(), 1U);
}

// --- Store and forward ---

class Forwarding : public ::testing::Test {
 protected:
  std::string station() const { return folder_.file("station.sqlite"); }
  std::string shared() const { return folder_.file("shared/line.sqlite"); }

  void start_station() {
    writer_ = std::make_unique<RecordWriter>(writer_options(station(), true));
    ASSERT_TRUE(writer_->open());
  }
  void start_forwarding(const std::string& shared_store) {
    RecordForwarder::Options options;
    options.station_store = station();
    options.shared_store = shared_store;
    options.server_timeout = 20ms;
    options.retry_interval = 1h;
    options.batch = 3;  // several batches for a few runs
    options.batch_forwarded = [this](const std::vector<std::string>& ids) {
      std::lock_guard lock(mutex_);
      sent_.insert(sent_.end(), ids.begin(), ids.end());
    };
    forwarder_ = std::make_unique<RecordForwarder>(std::move(options));
  }
  // Finishes runs first..last on the station, in that order.
  std::vector<RunRecord> finish_runs(int first, int last) {
    std::vector<RunRecord> runs;
    for (int n = first; n <= last; ++n) {
      runs.push_back(finished(n));
      writer_->begin_run(runs.back());
      writer_->complete_run(runs.back());
    }
    writer_->flush();
    return runs;
  }
  std::vector<std::string> sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::size_t queued() {
    OtherConnection look(station());
    return look.value("SELECT COUNT(*) FROM forward_queue").toULongLong();
  }

  samples::Folder folder_;
  std::unique_ptr<RecordWriter> writer_;
  std::unique_ptr<RecordForwarder> forwarder_;
  std::mutex mutex_;
  std::vector<std::string> sent_;
};

TEST_F(Forwarding, FinishedRunsReachTheSharedStoreInOrderOnceEachAndRunningOnesWait) {
  start_station();
  const std::vector<RunRecord> runs = finish_runs(1, 7);
  RunRecord running = finished(8);
  writer_->begin_run(running);
  writer_->flush();
  start_forwarding(shared());

  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience)) << forwarder_->state().reason;
  std::vector<std::string> in_order;
  for (const RunRecord& run : runs) in_order.push_back(run.id);
  EXPECT_EQ(sent(), in_order);
  EXPECT_EQ(forwarder_->state().forwarded, 7U);
  EXPECT_EQ(queued(), 0U);
  std::vector<RunRecord> there = all_runs(shared());
  std::sort(there.begin(), there.end(),
            [](const RunRecord& a, const RunRecord& b) { return a.started < b.started; });
  EXPECT_EQ(there, runs) << "every field, the report and the last errors arrive as written";
}

TEST_F(Forwarding, RunsWaitWhileTheSharedStoreFailsAndArriveInOrderWhenItWorksAgain) {
  const std::string blocked = folder_.file("not-a-folder");
  ASSERT_TRUE(QFile(QString::fromStdString(blocked)).open(QIODevice::WriteOnly));
  start_station();
  start_forwarding(blocked + "/line.sqlite");
  const std::vector<RunRecord> runs = finish_runs(1, 5);

  EXPECT_FALSE(forwarder_->wait_until_forwarded(200ms));
  const ForwardState waiting = forwarder_->state();
  EXPECT_EQ(waiting.waiting, 5U);
  EXPECT_FALSE(waiting.reaching_server);
  EXPECT_EQ(waiting.reason, "the record file cannot be opened");
  ASSERT_TRUE(waiting.waiting_since.has_value());
  EXPECT_EQ(queued(), 5U);

  ASSERT_TRUE(QFile::remove(QString::fromStdString(blocked)));
  const std::vector<RunRecord> later = finish_runs(6, 7);
  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience)) << forwarder_->state().reason;
  EXPECT_EQ(sent(), (std::vector<std::string>{"run-101", "run-102", "run-103", "run-104", "run-105",
                                              "run-106", "run-107"}));
  EXPECT_EQ(all_runs(blocked + "/line.sqlite").size(), 7U);
}

TEST_F(Forwarding, ALockedSharedStoreLosesNothing) {
  start_station();
  start_forwarding(shared());
  finish_runs(1, 2);
  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience));
  OtherConnection other(shared());
  ASSERT_TRUE(other.exec("BEGIN IMMEDIATE"));
  ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));
  finish_runs(3, 4);
  EXPECT_FALSE(forwarder_->wait_until_forwarded(200ms));
  EXPECT_EQ(forwarder_->state().waiting, 2U);
  EXPECT_EQ(forwarder_->state().reason, "the record file is locked by another program");
  ASSERT_TRUE(other.exec("ROLLBACK"));
  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience));
  EXPECT_EQ(ids_of(all_runs(shared())),
            (std::vector<std::string>{"run-101", "run-102", "run-103", "run-104"}));
}

TEST_F(Forwarding, ARunSentAgainAfterALostAcknowledgementChangesNothing) {
  start_station();
  const std::vector<RunRecord> runs = finish_runs(1, 2);
  // The shared store committed the first run but the station never heard of it.
  {
    RecordStore line(shared(), OpenMode::shared);
    ASSERT_TRUE(line.open());
    ASSERT_TRUE(line.import_runs({runs[0]}));
  }
  start_forwarding(shared());
  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience));
  std::vector<RunRecord> there = all_runs(shared());
  std::sort(there.begin(), there.end(),
            [](const RunRecord& a, const RunRecord& b) { return a.started < b.started; });
  EXPECT_EQ(there, runs);
}

TEST_F(Forwarding, ARunTheSharedStoreHoldsWithOtherContentIsSetAsideAndTheRestGoOnInOrder) {
  start_station();
  RunRecord clash = finished(2);
  clash.technician = "another station's";
  {
    RecordStore line(shared(), OpenMode::shared);
    ASSERT_TRUE(line.open());
    ASSERT_TRUE(line.import_runs({clash}));
    EXPECT_FALSE(line.import_runs({finished(2)}));
    EXPECT_EQ(line.refusal(), "the record file holds a run of that id with other content");
    EXPECT_TRUE(line.keeping_records()) << "a refused run is no failure of the store";
  }
  const std::vector<RunRecord> runs = finish_runs(1, 5);
  start_forwarding(shared());
  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience)) << forwarder_->state().reason;
  EXPECT_EQ(sent(), (std::vector<std::string>{"run-101", "run-103", "run-104", "run-105"}));
  EXPECT_EQ(queued(), 0U);
  const ForwardState state = forwarder_->state();
  EXPECT_EQ(state.set_aside, 1U);
  EXPECT_EQ(state.set_aside_reason, "the record file holds a run of that id with other content");
  RecordStore line(shared(), OpenMode::reader);
  ASSERT_TRUE(line.open());
  EXPECT_EQ(line.find("run-102").value, clash) << "never overwritten";
  RecordStore station_file(station(), OpenMode::reader);
  ASSERT_TRUE(station_file.open());
  const auto aside = station_file.set_aside_runs();
  ASSERT_EQ(aside.value.size(), 1U);
  EXPECT_EQ(aside.value[0].run_id, "run-102");
  EXPECT_EQ(station_file.find("run-102").value, runs[1]);
}

TEST_F(Forwarding, RunsWaitingAtCloseAndRunsCutOffAreForwardedAfterTheNextStart) {
  const std::string blocked = folder_.file("not-a-folder");
  ASSERT_TRUE(QFile(QString::fromStdString(blocked)).open(QIODevice::WriteOnly));
  start_station();
  start_forwarding(blocked + "/line.sqlite");
  finish_runs(1, 3);
  RunRecord cut_off = finished(4);
  writer_->begin_run(cut_off);
  writer_->save_progress(cut_off.id, "the report up to the power cut");
  writer_->flush();
  EXPECT_FALSE(forwarder_->wait_until_forwarded(200ms));
  forwarder_.reset();
  writer_.reset();

  ASSERT_TRUE(QFile::remove(QString::fromStdString(blocked)));
  start_station();
  start_forwarding(blocked + "/line.sqlite");
  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience)) << forwarder_->state().reason;
  EXPECT_EQ(sent(), (std::vector<std::string>{"run-101", "run-102", "run-103", "run-104"}));
  const std::vector<RunRecord> there = all_runs(blocked + "/line.sqlite");
  const auto found = std::find_if(there.begin(), there.end(),
                                  [&](const RunRecord& run) { return run.id == cut_off.id; });
  ASSERT_NE(found, there.end());
  EXPECT_EQ(found->outcome, Outcome::interrupted);
  EXPECT_EQ(found->report, "the report up to the power cut");
}

TEST_F(Forwarding, AStationThatDoesNotForwardQueuesNothing) {
  writer_ = std::make_unique<RecordWriter>(writer_options(station(), false));
  ASSERT_TRUE(writer_->open());
  finish_runs(1, 3);
  EXPECT_EQ(queued(), 0U);
}

}  // namespace
}  // namespace records
