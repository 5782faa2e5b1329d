// What the records cost the window thread now that the writes run on their own thread, and how
// fast store and forward empties its queue:
//   - a run's end as the window thread sees it (handing the record to the writer), with the record
//     file free and with it locked by another program, and the writer's time to put a run in the
//     journal while it is locked;
//   - the close (the writer's end) with runs waiting, the lock gone just before it or held
//     through it, and the next start's replay of what the close left in the journal;
//   - forwarding 1,000 waiting runs to the shared store;
//   - a run's end while the forwarder sends a backlog;
//   - forwarding 1,000 runs queued behind one the shared store refuses (on a server a serial
//     number past its index's limit, in a file a run of that id with other content), in one
//     attempt;
//   - on a server this program may stop (SIGSTOP on its processes, which needs the right to signal
//     them: the server's user or root): how soon the forwarder says the server does not answer,
//     a run's end on the window thread meanwhile, how long the forwarder's close takes, and the
//     close with the records window reading the stopped server too.
// The shared store is the location given (a postgresql:// line), or QUOR_BENCH_SHARED_STORE, or
// an SQLite file standing in for it.
//
//   forward_bench [SHARED-STORE]
#include <signal.h>
#include <unistd.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "records/record_forwarder.h"
#include "records/record_store.h"
#include "records/record_writer.h"
#include "records/records_reader.h"
#include "records/server_location.h"
#include "testing/process_tree.h"

namespace {

using Millis = std::chrono::duration<double, std::milli>;
using Clock = std::chrono::steady_clock;

constexpr int kWaiting = 1000;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double largest(const std::vector<double>& values) {
  return *std::max_element(values.begin(), values.end());
}

records::RunRecord make_run(int n, const std::string& station) {
  using namespace records;
  RunRecord r;
  r.id = new_run_id();
  r.station_id = station;
  r.started = TimePoint{std::chrono::milliseconds{1'700'000'000'000LL + n * 60'000LL}};
  r.ended = r.started + std::chrono::seconds{40};
  r.procedure = all_procedures()[std::size_t(n) % all_procedures().size()];
  r.outcome = n % 10 == 0 ? Outcome::failed : Outcome::passed;
  r.passes_run = 50;
  r.uut = identify("QUOR INSTRUMENTS,QB-1972,QB" + std::to_string(10000 + n % 4000) + ",2.07");
  r.uut_resource = "VXI0::8::INSTR";
  r.technician = "A. Marsh";
  r.visa_library = "/usr/lib/x86_64-linux-gnu/libvisa.so";
  r.report = "REC Test   11/14/2023\r\nUUT: " + r.uut.reply + "\r\n";
  for (int line = 0; line < 8; ++line) {
    r.report += "Pass " + std::to_string(line * 6 + 1) +
                " PING word 1024: read 0x00A5, expected 0x00A5, PONG compare ok\r\n";
  }
  r.report += "Unit Passes\r\n";
  r.program_version = "1.0.0";
  return r;
}

records::RecordWriter::Options writer_options(const std::string& path) {
  records::RecordWriter::Options options;
  options.path = path;
  options.forward = true;
  return options;
}

// Hands `count` finished runs to the writer and returns the window thread's time for each.
std::vector<double> end_runs(records::RecordWriter& writer, int first, int count,
                             const std::string& station) {
  std::vector<double> times;
  for (int n = first; n < first + count; ++n) {
    const records::RunRecord run = make_run(n, station);
    const auto begin = Clock::now();
    writer.complete_run(run);
    times.push_back(Millis(Clock::now() - begin).count());
  }
  return times;
}

// The server's processes: the postmaster (the parent of a connection's server process) first,
// then its children; empty when they cannot be found.
std::vector<pid_t> server_processes(const std::string& line) {
  const auto server = records::parse_server_location(line).location;
  if (!server) return {};
  pid_t postmaster = -1;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), "processes");
    db.setHostName(QString::fromStdString(server->host));
    if (server->port) db.setPort(*server->port);
    db.setDatabaseName(QString::fromStdString(server->database));
    db.setUserName(QString::fromStdString(server->user));
    db.setPassword(QString::fromStdString(server->password));
    if (db.open()) {
      QSqlQuery query(db);
      if (query.exec(QStringLiteral("SELECT pg_backend_pid()")) && query.next()) {
        postmaster = testing_support::parent_of(pid_t(query.value(0).toInt()));
      }
    }
    db.close();
  }
  QSqlDatabase::removeDatabase("processes");
  return testing_support::with_children(postmaster);
}

// True when the postmaster got it; a child may have ended since it was listed.
bool signal_all(const std::vector<pid_t>& processes, int signal) {
  bool postmaster = false;
  for (const pid_t pid : processes) {
    const bool sent = ::kill(pid, signal) == 0;
    if (pid == processes.front()) postmaster = sent;
  }
  return postmaster;
}

// Forwarding past a refused run: the time to forward `behind` runs queued after it.
void refused_run(const std::string& folder, const std::string& shared, bool server,
                 const std::string& station) {
  const std::string path = folder + "/station-c.sqlite";
  records::RecordWriter writer(writer_options(path));
  if (!writer.open()) return;
  records::RunRecord poison = make_run(0, station);
  if (server) {
    // Not compressible, as a module's reply may be: past the index's row limit.
    unsigned state = 12345;
    while (poison.uut.serial.size() < 3000) {
      state = state * 1103515245u + 12345u;
      poison.uut.serial += char('!' + (state >> 16) % 90);
    }
  } else {
    // The shared store holds a run of that id with other content.
    records::RunRecord other = poison;
    other.technician = "another station";
    records::RecordStore line(shared, records::OpenMode::shared);
    if (!line.open() || !line.import_runs({other})) return;
  }
  writer.complete_run(poison);
  end_runs(writer, 1, kWaiting, station);
  writer.flush();
  records::RecordForwarder::Options options;
  options.station_store = path;
  options.shared_store = shared;
  // No retry: what is forwarded is forwarded by the first attempt.
  options.retry_interval = std::chrono::hours{1};
  const auto begin = Clock::now();
  records::RecordForwarder forwarder(std::move(options));
  const bool emptied = forwarder.wait_until_forwarded(std::chrono::minutes{2});
  const records::ForwardState state = forwarder.state();
  std::printf(
      "forward %zu runs behind a refused one (%s): %.0f ms, in one attempt%s; %zu set aside (%s)\n",
      state.forwarded, server ? "serial of 3,000 bytes" : "id held with other content",
      Millis(Clock::now() - begin).count(), emptied ? "" : " - NOT EMPTIED", state.set_aside,
      state.set_aside_reason.c_str());
}

// A server stopped with SIGSTOP while the forwarder sends a backlog.
void hung_server(const std::string& folder, const std::string& shared, const std::string& station) {
  const std::string path = folder + "/station-d.sqlite";
  records::RecordWriter writer(writer_options(path));
  if (!writer.open()) return;
  records::RecordForwarder::Options options;
  options.station_store = path;
  options.shared_store = shared;
  options.retry_interval = std::chrono::milliseconds{500};
  // When the forwarder first says the server does not answer, from the moment it was stopped.
  std::atomic<records::RecordForwarder*> watched{nullptr};
  std::atomic<bool> said{false};
  std::atomic<Clock::rep> said_at{0};
  std::atomic<Clock::rep> stopped_at{0};
  options.state_changed = [&] {
    records::RecordForwarder* forwarder = watched.load();
    if (forwarder == nullptr || said || stopped_at.load() == 0) return;
    if (forwarder->state().reason == records::kServerDoesNotAnswer) {
      said_at = Clock::now().time_since_epoch().count() - stopped_at.load();
      said = true;
    }
  };
  auto forwarder = std::make_unique<records::RecordForwarder>(std::move(options));
  watched = forwarder.get();
  end_runs(writer, 0, 20, station);
  writer.flush();
  forwarder->wait_until_forwarded(std::chrono::seconds{30});
  // Records windows' readers, connected before the server stops.
  std::unique_ptr<records::RecordsReader> reading[2];
  for (auto& reader : reading) {
    reader = std::make_unique<records::RecordsReader>(shared, nullptr);
    reader->read_page({}, [](records::PageResult) {});
    while (!reader->idle()) std::this_thread::sleep_for(std::chrono::milliseconds{10});
  }
  // Listed now, so that the forwarder's own server process is among them.
  const std::vector<pid_t> processes = server_processes(shared);
  if (processes.empty() || !signal_all(processes, SIGSTOP)) {
    signal_all(processes, SIGCONT);
    std::printf("hung server: not measured (the server's processes may not be stopped)\n");
    return;
  }
  const auto stopped = Clock::now();
  stopped_at = stopped.time_since_epoch().count();
  // Run ends while the server is stopped: the forwarder is soon caught in an exchange.
  std::vector<double> ends;
  for (int n = 0; n < 50; ++n) {
    const std::vector<double> one = end_runs(writer, 100 + n, 1, station);
    ends.push_back(one.front());
    forwarder->nudge();
    std::this_thread::sleep_for(std::chrono::milliseconds{100});
  }
  while (!said && Clock::now() - stopped < std::chrono::seconds{30}) {
    std::this_thread::sleep_for(std::chrono::milliseconds{10});
  }
  // The close lands while an exchange is in flight: a run's end nudges it into one.
  end_runs(writer, 200, 1, station);
  forwarder->nudge();
  std::this_thread::sleep_for(std::chrono::milliseconds{300});
  const auto closing = Clock::now();
  forwarder.reset();
  const double close_ms = Millis(Clock::now() - closing).count();
  // A forwarder started while the server is stopped is caught opening its connection, which only
  // libpq's connect time-out ends.
  records::RecordForwarder::Options connecting;
  connecting.station_store = path;
  connecting.shared_store = shared;
  auto second = std::make_unique<records::RecordForwarder>(std::move(connecting));
  std::this_thread::sleep_for(std::chrono::milliseconds{300});
  const auto closing_second = Clock::now();
  second.reset();
  const double close_connecting_ms = Millis(Clock::now() - closing_second).count();
  // The station's close with the records window open over the stopped server (its read left
  // waiting for it) while a retry of the forwarder falls due 0.5 s into the close: the window's
  // end and the forwarder's one after the other, and side by side as the station's close ends them
  // (the forwarder told to stop first).
  const auto close_with_window = [&](std::unique_ptr<records::RecordsReader> reader,
                                     bool side_by_side) {
    records::RecordForwarder::Options idle;
    idle.station_store = path;
    idle.shared_store = shared;
    idle.retry_interval = std::chrono::hours{1};
    auto late = std::make_unique<records::RecordForwarder>(std::move(idle));
    // Its first attempt, at its start, fails after the connect time-out.
    std::this_thread::sleep_for(std::chrono::milliseconds{2500});
    reader->read_page({}, [](records::PageResult) {});
    std::this_thread::sleep_for(std::chrono::milliseconds{100});
    const auto begin = Clock::now();
    std::thread retry([&late] {
      std::this_thread::sleep_for(std::chrono::milliseconds{500});
      late->nudge();
    });
    if (side_by_side) late->stop();
    reader.reset();
    retry.join();
    late.reset();
    return Millis(Clock::now() - begin).count();
  };
  const double close_one_after_other_ms = close_with_window(std::move(reading[0]), false);
  const double close_side_by_side_ms = close_with_window(std::move(reading[1]), true);
  signal_all(processes, SIGCONT);
  if (said) {
    std::printf("server stopped: \"%s\" in the forwarder's state after %.0f ms (goal: <= 5000)\n",
                records::kServerDoesNotAnswer, Millis(Clock::duration(said_at.load())).count());
  } else {
    std::printf("server stopped: NOT said within 30 s\n");
  }
  std::printf(
      "run end on the window thread, server stopped: median %.3f ms, max %.3f ms (50 runs; goal: "
      "<= 50 ms)\n",
      median(ends), largest(ends));
  std::printf(
      "close of the forwarder, server stopped: %.0f ms in a statement, %.0f ms while "
      "connecting (goal: <= 2000)\n",
      close_ms, close_connecting_ms);
  std::printf(
      "close with the records window reading, server stopped: %.0f ms with the forwarder stopped "
      "first, %.0f ms one after the other (goal: <= 2000)\n",
      close_side_by_side_ms, close_one_after_other_ms);
}

}  // namespace

int main(int argc, char* argv[]) {
  QTemporaryDir temporary;
  const std::string folder = temporary.path().toStdString();
  const char* from_environment = std::getenv("QUOR_BENCH_SHARED_STORE");
  const std::string shared = argc > 1                      ? argv[1]
                             : from_environment != nullptr ? from_environment
                                                           : folder + "/shared.sqlite";
  const bool server = records::is_server_location(shared);
  // Runs of this bench carry a station id of their own, so that a server's other runs are left
  // alone.
  const std::string station =
      "forward-bench-" + QUuid::createUuid().toString(QUuid::Id128).left(8).toStdString();
  std::printf("shared store: %s\n", server ? "PostgreSQL server" : "SQLite file standing in");

  {
    const std::string path = folder + "/station-a.sqlite";
    records::RecordWriter writer(writer_options(path));
    if (!writer.open()) {
      std::printf("cannot open %s: %s\n", path.c_str(), writer.state().status_text.c_str());
      return 1;
    }
    const std::vector<double> free_file = end_runs(writer, 0, 200, station);
    writer.flush();
    // Another program holds the file's write lock for the whole of these run ends.
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "other");
    other.setDatabaseName(QString::fromStdString(path));
    other.open();
    QSqlQuery lock(other);
    lock.exec(QStringLiteral("BEGIN IMMEDIATE"));
    lock.exec(QStringLiteral("DELETE FROM runs WHERE id = 'none'"));
    const std::vector<double> locked_file = end_runs(writer, 200, 200, station);
    const auto journal_begin = Clock::now();
    writer.flush();
    const double journal_ms = Millis(Clock::now() - journal_begin).count();
    lock.exec(QStringLiteral("ROLLBACK"));
    std::printf(
        "run end on the window thread, record file free:   median %.3f ms, max %.3f ms (200 "
        "runs; goal: median <= 5 ms, never over 50 ms)\n",
        median(free_file), largest(free_file));
    std::printf(
        "run end on the window thread, record file locked: median %.3f ms, max %.3f ms (200 "
        "runs)\n",
        median(locked_file), largest(locked_file));
    std::printf("  the writer put them in the journal within %.0f ms of the last one's end\n",
                journal_ms);
    const auto begin = Clock::now();
    writer.retry();
    while (writer.state().waiting > 0) writer.flush();
    std::printf("  the 200 runs that waited written within %.0f ms of the lock's end\n",
                Millis(Clock::now() - begin).count());
  }
  QSqlDatabase::removeDatabase("other");

  // The close with runs waiting in the journal.
  for (const bool held : {false, true}) {
    constexpr int kClosing = 500;
    const std::string path = folder + (held ? "/station-held.sqlite" : "/station-freed.sqlite");
    auto writer = std::make_unique<records::RecordWriter>(writer_options(path));
    if (!writer->open()) return 1;
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "closing");
    other.setDatabaseName(QString::fromStdString(path));
    other.open();
    {
      QSqlQuery lock(other);
      lock.exec(QStringLiteral("BEGIN IMMEDIATE"));
      lock.exec(QStringLiteral("DELETE FROM runs WHERE id = 'none'"));
      end_runs(*writer, 0, kClosing, station);
      writer->flush();
      if (!held) lock.exec(QStringLiteral("ROLLBACK"));
      const auto begin = Clock::now();
      writer.reset();
      const double close_ms = Millis(Clock::now() - begin).count();
      lock.exec(QStringLiteral("ROLLBACK"));
      const auto reopen = Clock::now();
      records::RecordStore next_start(path);
      next_start.open();
      const double reopen_ms = Millis(Clock::now() - reopen).count();
      records::RecordFilter all;
      all.include_simulated = true;
      const std::size_t kept = next_start.query(all).value.size();
      std::printf(
          "close with %d runs waiting, the lock %s: %.0f ms (goal: a few seconds); next start %.0f "
          "ms, %zu of %d runs in the file\n",
          kClosing, held ? "held through the close" : "gone just before it", close_ms, reopen_ms,
          kept, kClosing);
    }
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase("closing");
  }

  // A backlog: 1,000 runs finished while the shared store could not be reached.
  const std::string path = folder + "/station-b.sqlite";
  records::RecordWriter writer(writer_options(path));
  if (!writer.open()) return 1;
  end_runs(writer, 0, kWaiting, station);
  writer.flush();
  const auto begin = Clock::now();
  records::RecordForwarder::Options options;
  options.station_store = path;
  options.shared_store = shared;
  records::RecordForwarder forwarder(std::move(options));
  // Run ends while the backlog is sent.
  const std::vector<double> while_forwarding = end_runs(writer, kWaiting, 20, station);
  const bool emptied = forwarder.wait_until_forwarded(std::chrono::minutes{2});
  const double forward_ms = Millis(Clock::now() - begin).count();
  const records::ForwardState state = forwarder.state();
  std::printf(
      "forward %zu waiting runs (%d and 20 more finished meanwhile): %.0f ms%s (goal: 1,000 in "
      "<= 2000 ms)\n",
      state.forwarded, kWaiting, forward_ms, emptied ? "" : " - NOT EMPTIED");
  if (!state.reason.empty()) std::printf("  forwarding failed: %s\n", state.reason.c_str());
  std::printf(
      "run end on the window thread while forwarding: median %.3f ms, max %.3f ms (20 runs)\n",
      median(while_forwarding), largest(while_forwarding));
  refused_run(folder, shared, server, station);
  if (server) hung_server(folder, shared, station);
  return emptied ? 0 : 1;
}
