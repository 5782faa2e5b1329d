// What the records cost the window thread now that the writes run on their own thread, and how
// fast store and forward empties its queue:
//   - a run's end as the window thread sees it (handing the record to the writer), with the record
//     file free and with it locked by another program, and the writer's time to put a run in the
//     journal while it is locked;
//   - the close (the writer's end) with runs waiting, the lock gone just before it or held
//     through it, and the next start's replay of what the close left in the journal;
//   - forwarding 1,000 waiting runs to the shared store;
//   - a run's end while the forwarder sends a backlog.
// The shared store is the location given (a postgresql:// line), or QUOR_BENCH_SHARED_STORE, or
// an SQLite file standing in for it.
//
//   forward_bench [SHARED-STORE]
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "records/record_forwarder.h"
#include "records/record_store.h"
#include "records/record_writer.h"

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

}  // namespace

int main(int argc, char* argv[]) {
  QTemporaryDir temporary;
  const std::string folder = temporary.path().toStdString();
  const char* from_environment = std::getenv("QUOR_BENCH_SHARED_STORE");
  const std::string shared = argc > 1                      ? argv[1]
                             : from_environment != nullptr ? from_environment
                                                           : folder + "/shared.sqlite";
  const bool server = shared.rfind("postgres", 0) == 0;
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
  return emptied ? 0 : 1;
}
