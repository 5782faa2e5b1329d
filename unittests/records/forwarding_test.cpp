// The station's record file written on a thread of its own, and store and forward: finished runs
// reach the shared store in the order they finished, once each, whatever the shared store does
// in between. A second SQLite file stands in for the shared store here.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
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

// The file was locked at the start and the clock set back: once the writer opens it, the station's
// runs are placed after those the file holds.
TEST_F(Writer, AFileOpenedLatePlacesTheNextRunsAfterItsOwn) {
  RunRecord later = finished(1);
  later.made = now() + std::chrono::hours{1};
  {
    RecordStore before(path());
    ASSERT_TRUE(before.open());
    ASSERT_TRUE(before.complete_run(later));
  }
  OtherConnection other(path());
  ASSERT_TRUE(other.exec("BEGIN EXCLUSIVE"));
  ASSERT_TRUE(other.exec("DELETE FROM runs WHERE id = 'none'"));
  RecordWriter writer(writer_options(path()));
  EXPECT_FALSE(writer.open());
  ASSERT_TRUE(other.exec("ROLLBACK"));
  writer.retry();
  writer.flush();
  ASSERT_TRUE(writer.state().keeping_records) << writer.state().status_text;
  EXPECT_GT(run_clock().start().made, *later.made);
}

// A writer held inside a write (a statement that does not end) holds not the close: write_out()
// gives up by its deadline, and the run it could not write is written at the next start.
TEST_F(Writer, AWriterHeldInsideAWriteHoldsNotTheClose) {
  std::mutex mutex;
  std::condition_variable changed;
  bool hold = false;
  bool released = false;
  bool let_go = false;  // the writer came out of the write it was held in
  RecordWriter::Options options = writer_options(path());
  options.state_changed = [&] {
    std::unique_lock lock(mutex);
    if (!hold || let_go) return;
    changed.wait_for(lock, kPatience, [&] { return released; });
    let_go = true;
  };
  {
    std::unique_ptr<OtherConnection> other;
    RecordWriter writer(options);
    ASSERT_TRUE(writer.open());
    other = std::make_unique<OtherConnection>(path());
    ASSERT_TRUE(other->exec("BEGIN EXCLUSIVE"));
    ASSERT_TRUE(other->exec("DELETE FROM runs WHERE id = 'none'"));
    writer.complete_run(finished(1));
    writer.flush();
    {
      std::lock_guard lock(mutex);
      hold = true;
    }
    EXPECT_FALSE(writer.write_out(100ms));
    {
      std::lock_guard lock(mutex);
      EXPECT_FALSE(let_go) << "write_out() waited for the writer";
      released = true;
    }
    changed.notify_all();
  }
  RecordStore next_start(path());
  ASSERT_TRUE(next_start.open()) << next_start.status_text();
  EXPECT_EQ(all_runs(path()), std::vector<RunRecord>{finished(1)});
}

// Another program holds the file's write lock while runs end, and the station closes: with the
// lock gone by then every run is in the file when the close is over; with the lock held through
// the close they wait in the journal, and the next start writes them, none taken for cut off.
struct CloseCase {
  const char* label;
  bool lock_ends_before_close;
};

class WriterClose : public Writer, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(WriterClose, WritesEveryRunThatEndedNowOrAtTheNextStart) {
  // Newest first, as the store lists them.
  std::vector<RunRecord> runs;
  for (int n = 6; n >= 0; --n) runs.push_back(finished(n));
  {
    // Made first, so that a lock held through the close outlasts the writer.
    std::unique_ptr<OtherConnection> other;
    RecordWriter writer(writer_options(path()));
    ASSERT_TRUE(writer.open());
    other = std::make_unique<OtherConnection>(path());
    ASSERT_TRUE(other->exec("BEGIN EXCLUSIVE"));
    ASSERT_TRUE(other->exec("DELETE FROM runs WHERE id = 'none'"));
    for (const RunRecord& run : runs) {
      writer.begin_run(run);
      writer.save_progress(run.id, "Pass 1\r\n");
      writer.complete_run(run);
    }
    writer.flush();
    EXPECT_EQ(writer.state().waiting, runs.size());
    if (GetParam().lock_ends_before_close) {
      other.reset();
      // The window's close, with the status line's count meanwhile.
      std::vector<std::size_t> counts;
      EXPECT_TRUE(writer.write_out(3s, [&] {
        const StoreState state = writer.state();
        EXPECT_TRUE(state.closing);
        counts.push_back(state.waiting + state.handed_over);
      }));
      ASSERT_FALSE(counts.empty());
      EXPECT_EQ(counts.front(), runs.size());
      EXPECT_EQ(all_runs(path()), runs);
    } else {
      EXPECT_FALSE(writer.write_out(100ms));
      EXPECT_EQ(writer.state().waiting, runs.size());
    }
  }
  {
    RecordStore next_start(path());
    ASSERT_TRUE(next_start.open()) << next_start.status_text();
    EXPECT_EQ(next_start.waiting(), 0U);
    EXPECT_EQ(all_runs(path()), runs) << "none interrupted, none twice";
  }
  EXPECT_TRUE(QDir(folder_.dir.path()).entryList({"*.journal*"}).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Lock, WriterClose,
                         ::testing::Values(CloseCase{"gone_before_the_close", true},
                                           CloseCase{"held_through_the_close", false}),
                         [](const auto& row) { return std::string(row.param.label); });

#ifdef QUOR_CRASH_WRITER
// Writers (records_crash_writer) killed at random moments, each time on the file the last ones
// left: the file is whole, every run a writer acknowledged is in it once and finished, and a
// run cut off is interrupted; the same for the unit results the runs are steps of, and every
// step's run finds its unit result. Two writers at once on one file lose nothing either.
struct CrashCase {
  const char* label;
  int writers;
  int rounds;
};

class WriterCrash : public Writer, public ::testing::WithParamInterface<CrashCase> {};

struct Child {
  pid_t pid = -1;
  int out = -1;
  std::string printed;
};

Child spawn_writer(const std::string& path, unsigned seed) {
  const std::string seed_text = std::to_string(seed);
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl(QUOR_CRASH_WRITER, QUOR_CRASH_WRITER, path.c_str(), seed_text.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(fds[1]);
  return {pid, fds[0], {}};
}

// Reads what the children print until `until`, or until each has closed its output, or (with
// `ready`) until each has said it is ready.
void read_printed(std::vector<Child>& children, std::chrono::steady_clock::time_point until,
                  bool ready = false) {
  for (;;) {
    if (ready && std::all_of(children.begin(), children.end(), [](const Child& child) {
          return child.printed.find("ready\n") != std::string::npos;
        })) {
      return;
    }
    std::vector<pollfd> open;
    for (const Child& child : children) {
      if (child.out >= 0) open.push_back({child.out, POLLIN, 0});
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (open.empty() || left.count() <= 0) return;
    if (::poll(open.data(), open.size(), int(left.count())) <= 0) continue;
    for (Child& child : children) {
      if (child.out < 0) continue;
      char buffer[4096];
      pollfd one{child.out, POLLIN, 0};
      if (::poll(&one, 1, 0) <= 0) continue;
      const ssize_t got = ::read(child.out, buffer, sizeof buffer);
      if (got > 0) {
        child.printed.append(buffer, std::size_t(got));
      } else {
        ::close(child.out);
        child.out = -1;
      }
    }
  }
}

TEST_P(WriterCrash, KeepsEveryAcknowledgedRunOnceAndMarksTheRunsCutOffInterrupted) {
  std::mt19937 random(unsigned(GetParam().writers) * 7919U);
  std::set<std::string> acknowledged;
  std::set<std::string> units_acknowledged;
  int with_journal = 0;  // journals left holding runs
  int interrupted = 0;
  int units_interrupted = 0;
  for (int round = 0; round < GetParam().rounds; ++round) {
    std::vector<Child> children;
    for (int w = 0; w < GetParam().writers; ++w) {
      children.push_back(spawn_writer(path(), random()));
      ASSERT_GT(children.back().pid, 0);
    }
    read_printed(children, std::chrono::steady_clock::now() + kPatience, true);
    const auto kill_at = std::chrono::steady_clock::now() + 10ms + 1ms * (random() % 90);
    read_printed(children, kill_at);
    for (Child& child : children) ::kill(child.pid, SIGKILL);
    read_printed(children, std::chrono::steady_clock::now() + kPatience);
    for (Child& child : children) {
      int status = 0;
      ::waitpid(child.pid, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << child.printed;
      // Whole lines only: a line cut off by the kill acknowledges nothing.
      std::size_t at = 0;
      for (std::size_t end; (end = child.printed.find('\n', at)) != std::string::npos;
           at = end + 1) {
        const std::string line = child.printed.substr(at, end - at);
        if (line.rfind("done ", 0) == 0) acknowledged.insert(line.substr(5));
        if (line.rfind("unit ", 0) == 0) units_acknowledged.insert(line.substr(5));
      }
    }
    for (const QFileInfo& journal : QDir(folder_.dir.path()).entryInfoList({"*.journal*"})) {
      if (journal.size() > 0) ++with_journal;
    }

    RecordStore station(path());
    ASSERT_TRUE(station.open()) << station.status_text();
    EXPECT_EQ(station.waiting(), 0U) << station.status_text();
    {
      OtherConnection check(path());
      EXPECT_EQ(check.value("PRAGMA integrity_check").toString(), "ok");
      EXPECT_EQ(check.value("SELECT COUNT(*) - COUNT(DISTINCT id) FROM runs").toInt(), 0);
      EXPECT_EQ(check
                    .value("SELECT COUNT(*) FROM runs WHERE unit_result_id NOT IN"
                           " (SELECT id FROM unit_results)")
                    .toInt(),
                0)
          << "a step's run without its unit result";
      EXPECT_EQ(check
                    .value("SELECT COUNT(*) FROM unit_results WHERE verdict NOT IN"
                           " ('pass', 'interrupted')")
                    .toInt(),
                0);
      if (round + 1 == GetParam().rounds) {
        units_interrupted =
            check.value("SELECT COUNT(*) FROM unit_results WHERE verdict = 'interrupted'").toInt();
      }
    }
    for (const std::string& id : units_acknowledged) {
      const auto unit = station.find_unit_result(id).value;
      ASSERT_TRUE(unit) << "round " << round << ": acknowledged unit result " << id << " lost";
      EXPECT_EQ(unit->verdict, UnitVerdict::pass) << "round " << round << ": " << id;
    }
    std::map<std::string, Outcome> kept;
    for (const RunRecord& run : station.query({}).value) kept[run.id] = run.outcome;
    for (const std::string& id : acknowledged) {
      ASSERT_TRUE(kept.count(id)) << "round " << round << ": acknowledged run " << id << " lost";
      EXPECT_EQ(kept[id], Outcome::passed) << "round " << round << ": " << id;
    }
    for (const auto& [id, outcome] : kept) {
      EXPECT_TRUE(outcome == Outcome::passed || outcome == Outcome::interrupted)
          << id << " " << text_id(outcome);
      if (outcome == Outcome::interrupted && round + 1 == GetParam().rounds) ++interrupted;
    }
  }
  std::printf(
      "%zu runs and %zu unit results acknowledged, %d journals left holding runs, %d runs and %d "
      "unit results interrupted\n",
      acknowledged.size(), units_acknowledged.size(), with_journal, interrupted, units_interrupted);
  EXPECT_GT(units_acknowledged.size(), 0U) << "no unit result was acknowledged";
  EXPECT_GT(units_interrupted, 0) << "no unit result was cut off";
  EXPECT_GT(acknowledged.size(), 0U) << "no run was acknowledged: the test proved nothing";
  EXPECT_GT(with_journal, 0) << "no writer left runs waiting in its journal";
  EXPECT_GT(interrupted, 0) << "no run was cut off: the interrupted half proved nothing";
  EXPECT_TRUE(QDir(folder_.dir.path()).entryList({"*.journal*"}).isEmpty())
      << "journals left once every run is in the file";
}

INSTANTIATE_TEST_SUITE_P(Kill, WriterCrash,
                         ::testing::Values(CrashCase{"one_writer", 1, 20},
                                           CrashCase{"two_writers_at_once", 2, 6}),
                         [](const auto& row) { return std::string(row.param.label); });
#endif

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
    return look.value("SELECT COUNT(*) FROM forward_queue").toULongLong() +
           look.value("SELECT COUNT(*) FROM unit_result_queue WHERE refused_ms IS NULL")
               .toULongLong();
  }
  std::optional<UnitResult> unit_there(const std::string& store, const std::string& id) {
    RecordStore line(store, OpenMode::reader);
    EXPECT_TRUE(line.open()) << line.status_text();
    return line.find_unit_result(id).value;
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

// A unit result follows its steps' runs once it has ended; delivered twice it changes nothing, and
// one the shared store holds with other content is set aside.
TEST_F(Forwarding, AUnitResultReachesTheSharedStoreOnceEndedAndAClashIsSetAside) {
  start_station();
  const UnitResult unit = samples::full_unit_result("unit-1");
  RunRecord step = finished(1);
  step.unit_result_id = unit.id;
  writer_->begin_unit_result(unit);
  writer_->begin_run(step);
  writer_->complete_run(step);
  writer_->flush();
  start_forwarding(shared());
  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience)) << forwarder_->state().reason;
  EXPECT_EQ(all_runs(shared()), std::vector<RunRecord>{step});
  EXPECT_EQ(unit_there(shared(), unit.id), std::nullopt) << "forwarded while it runs";

  UnitResult clash = samples::full_unit_result("unit-2");
  clash.technician = "another station's";
  {
    RecordStore line(shared(), OpenMode::shared);
    ASSERT_TRUE(line.open());
    ASSERT_TRUE(line.import_unit_results({clash}));
    ASSERT_TRUE(line.import_unit_results({clash})) << "a second delivery is harmless";
  }
  writer_->complete_unit_result(unit);
  writer_->complete_unit_result(samples::full_unit_result("unit-2"));
  writer_->flush();
  forwarder_->nudge();
  ASSERT_TRUE(forwarder_->wait_until_forwarded(kPatience)) << forwarder_->state().reason;
  EXPECT_EQ(unit_there(shared(), unit.id), unit);
  EXPECT_EQ(unit_there(shared(), "unit-2"), clash) << "never overwritten";
  EXPECT_EQ(forwarder_->state().set_aside, 1U);
  EXPECT_EQ(queued(), 0U);
  EXPECT_EQ(unit_there(station(), "unit-2"), samples::full_unit_result("unit-2"));
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
  const UnitResult unit = samples::full_unit_result();
  RunRecord cut_off = finished(4);
  cut_off.unit_result_id = unit.id;
  writer_->begin_unit_result(unit);
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
  const auto unit_found = unit_there(blocked + "/line.sqlite", unit.id);
  ASSERT_TRUE(unit_found) << "a unit result cut off is forwarded as interrupted";
  EXPECT_EQ(unit_found->verdict, UnitVerdict::interrupted);
}

TEST_F(Forwarding, AStationThatDoesNotForwardQueuesNothing) {
  writer_ = std::make_unique<RecordWriter>(writer_options(station(), false));
  ASSERT_TRUE(writer_->open());
  finish_runs(1, 3);
  EXPECT_EQ(queued(), 0U);
}

}  // namespace
}  // namespace records
