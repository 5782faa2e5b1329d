// The records' costs on a store of 100,000 runs: completing a run (the write at the end of a
// test), the records window's query and summary under a few filters, an export of every run
// to CSV, and the records window itself (offscreen): how long its page takes to show, and the
// window thread's longest stall while runs end one after another with the window open (its
// reads run on their own threads). Prints the figures; takes a folder for the store (default: a
// temporary one).
//
//   records_bench [FOLDER]
#include <signal.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/records_window.h"
#include "records/record_export.h"
#include "records/record_store.h"
#include "records/record_writer.h"
#include "testing/process_tree.h"
#include "window_watch.h"

namespace {

using bench::Millis;

constexpr int kRuns = 100'000;
constexpr long long kStart = 1'700'000'000'000;  // 2023-11-14
constexpr long long kMinute = 60'000;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Wall time of `work`; `cpu` receives the processor time this program spent on it (the machine
// is shared: the two differ when other programs take the processors).
double time_ms(const std::function<void()>& work, double* cpu = nullptr) {
  const std::clock_t cpu_begin = std::clock();
  const auto begin = std::chrono::steady_clock::now();
  work();
  const double wall = Millis(std::chrono::steady_clock::now() - begin).count();
  if (cpu) *cpu = 1000.0 * double(std::clock() - cpu_begin) / CLOCKS_PER_SEC;
  return wall;
}

// A run as a production line leaves them: 4,000 units, 16 procedures, mostly passing, a report
// of some 600 characters.
records::RunRecord make_run(int n) {
  using namespace records;
  RunRecord r;
  r.id = new_run_id();
  r.station_id = "bench-" + std::to_string(n % 3);
  r.started = TimePoint{std::chrono::milliseconds{kStart + n * kMinute}};
  r.ended = r.started + std::chrono::seconds{40 + n % 30};
  r.procedure = all_procedures()[std::size_t(n) % all_procedures().size()];
  const int roll = (n * 7919) % 100;
  r.outcome = roll < 88   ? Outcome::passed
              : roll < 95 ? Outcome::failed
              : roll < 98 ? Outcome::stopped
                          : Outcome::aborted;
  r.passes_run = 50;
  r.failures = r.outcome == Outcome::failed ? 1 + n % 5 : 0;
  r.uut = identify("QUOR INSTRUMENTS,QB-1972,QB" + std::to_string(10000 + n % 4000) + ",2.07");
  r.qcu = identify("QUOR INSTRUMENTS,QB-1972,QB00017,2.05");
  r.uut_resource = "VXI0::8::INSTR";
  r.qcu_resource = "VXI0::24::INSTR";
  r.technician = n % 2 ? "A. Marsh" : "D. Okafor";
  r.top_serial = "TOP-" + std::to_string(n % 4000);
  r.visa_library = "/usr/lib/x86_64-linux-gnu/libvisa.so";
  r.simulated = n % 50 == 0;
  r.report = "REC Test   11/14/2023\r\nUUT: " + r.uut.reply + "\r\nQCU: " + r.qcu.reply + "\r\n";
  for (int line = 0; line < 8; ++line) {
    r.report += "Pass " + std::to_string(line * 6 + 1) +
                " PING word 1024: read 0x00A5, expected 0x00A5, PONG compare ok\r\n";
  }
  r.report += r.outcome == Outcome::passed ? "Unit Passes\r\n" : "Unit Fails\r\n";
  if (r.outcome != Outcome::passed) {
    r.last_errors = {
        "Resetting the UUT\nVI_ERROR_TMO: Timeout expired before operation completed."};
  }
  r.program_version = "1.0.0";
  return r;
}

using bench::SilentOperator;
using bench::StallWatch;
using bench::turn_events;

// Turns the window thread's events until the window has shown every read asked for; the time.
double until_shown(app::RecordsWindow& window) {
  const auto begin = std::chrono::steady_clock::now();
  while (window.reading()) turn_events(1);
  return Millis(std::chrono::steady_clock::now() - begin).count();
}

// The records window open over the store while runs end: each run's end is written by the
// station's writer on its thread and asks the window for a refresh, as the station does.
void window_bench(const std::string& path) {
  SilentOperator person;
  StallWatch watch;
  std::printf("records window over the store (offscreen; goal: window thread stall <= 50 ms):\n");
  watch.start();
  const auto opened = std::chrono::steady_clock::now();
  app::RecordsWindow window(path, person);
  window.show();
  const double open_build = Millis(std::chrono::steady_clock::now() - opened).count();
  const double open_ms = open_build + until_shown(window);
  std::printf(
      "window  opened: first page shown after %.0f ms (window built in %.0f ms), "
      "longest stall %.1f ms\n",
      open_ms, open_build, watch.stop());
  watch.start();
  window.txtFilter->setText("qb1234");
  window.apply_filter();
  const double filter_ms = until_shown(window);
  std::printf("window  filter \"qb1234\": page shown after %.0f ms, longest stall %.1f ms\n",
              filter_ms, watch.stop());
  window.txtFilter->clear();
  window.apply_filter();
  until_shown(window);

  std::atomic<int> page_reads{0};
  window.reader().set_read_hook([&page_reads](records::ReadKind kind) {
    if (kind == records::ReadKind::page) ++page_reads;
  });
  records::RecordWriter::Options options;
  options.path = path;
  options.state_changed = [&window] {
    QMetaObject::invokeMethod(
        &window, [&window] { window.refresh(); }, Qt::QueuedConnection);
  };
  records::RecordWriter writer(options);
  writer.open();
  until_shown(window);
  int next = kRuns + 10'000;
  struct Pace {
    const char* label;
    int runs;
    int every_ms;
  };
  for (const Pace pace : {Pace{"a burst, one run's end every 20 ms", 50, 20},
                          Pace{"one run's end every 1,000 ms", 10, 1000}}) {
    page_reads = 0;
    watch.start();
    // Each run's end until the page shows it, when the next end comes later than that.
    std::vector<double> shown_after;
    for (int n = 0; n < pace.runs; ++n) {
      records::RunRecord run = make_run(next++);
      run.started = records::now();
      run.ended = run.started;
      run.simulated = false;
      const auto ended = std::chrono::steady_clock::now();
      writer.complete_run(run);
      const auto next_end = ended + std::chrono::milliseconds{pace.every_ms};
      bool shown = false;
      while (std::chrono::steady_clock::now() < next_end || n + 1 == pace.runs) {
        turn_events(1);
        if (!shown && !window.model().runs().empty() &&
            window.model().runs().front().id == run.id) {
          shown = true;
          shown_after.push_back(Millis(std::chrono::steady_clock::now() - ended).count());
          if (n + 1 == pace.runs) break;
        }
      }
    }
    std::printf(
        "window  %-36s %2d runs: %2d page reads, longest stall %5.1f ms, a run shown %4.0f ms "
        "(median) %4.0f ms (most) after its end\n",
        pace.label, pace.runs, page_reads.load(), watch.stop(),
        shown_after.empty() ? 0.0 : median(shown_after),
        shown_after.empty() ? 0.0 : *std::max_element(shown_after.begin(), shown_after.end()));
  }

  // A run with a 10 MB technician field and a station of its own: the list reads it cut short,
  // and only the run chosen is read whole.
  records::RunRecord huge = make_run(next++);
  huge.started = records::now();
  huge.ended = huge.started;
  huge.simulated = false;
  huge.station_id = "bench-huge";
  huge.technician.assign(10'000'000, 't');
  watch.start();
  writer.complete_run(huge);
  while (window.reading() || window.model().runs().empty() ||
         window.model().runs().front().id != huge.id || !window.selected()) {
    turn_events(1);
  }
  std::printf(
      "window  a run with a 10 MB field ends: shown with its fields, longest stall %.1f ms\n",
      watch.stop());
  watch.start();
  const auto chosen = std::chrono::steady_clock::now();
  window.cboStation->setCurrentText("bench-huge");
  const double station_ms =
      Millis(std::chrono::steady_clock::now() - chosen).count() + until_shown(window);
  std::printf("window  its station chosen: %zu run shown after %.0f ms, longest stall %.1f ms\n",
              window.model().runs().size(), station_ms, watch.stop());
}

// The server's processes: its postmaster (the pid file's first line) and its children.
std::vector<pid_t> server_processes(const std::string& dir) {
  std::ifstream pid_file(dir + "/data/postmaster.pid");
  long postmaster = 0;
  if (!(pid_file >> postmaster)) return {};
  return testing_support::with_children(pid_t(postmaster));
}

// With QUOR_BENCH_STOPPED_SERVER naming the folder of a throw-away server of the bench's own
// (scripts/test-postgres.sh fresh DIR): the records window over 1,000 runs on that server while
// the server is stopped (SIGSTOP) for 20 s and a run ends every second, then the window closed
// while the server is still stopped.
void stopped_server_bench(const std::string& dir) {
  std::ifstream connection(dir + "/connection");
  std::string line;
  if (!std::getline(connection, line)) {
    std::printf("stopped server: no %s/connection\n", dir.c_str());
    return;
  }
  {
    records::RecordStore store(line, records::OpenMode::shared);
    std::vector<records::RunRecord> runs;
    for (int n = 0; n < 1000; ++n) runs.push_back(make_run(n));
    if (!store.open() || !store.import_runs(runs)) {
      std::printf("stopped server: %s\n", store.status_text().c_str());
      return;
    }
  }
  SilentOperator person;
  StallWatch watch;
  auto window = std::make_unique<app::RecordsWindow>(line, person);
  window->show();
  until_shown(*window);
  const std::vector<pid_t> pids = server_processes(dir);
  if (pids.empty()) {
    std::printf("stopped server: no server running in %s\n", dir.c_str());
    return;
  }
  for (pid_t pid : pids) kill(pid, SIGSTOP);
  watch.start();
  for (int second = 0; second < 20; ++second) {
    window->refresh();
    turn_events(1000);
  }
  const std::string summary = window->lblSummary->text().toStdString();
  const double stall = watch.stop();
  const auto closing = std::chrono::steady_clock::now();
  window.reset();
  const double close_ms = Millis(std::chrono::steady_clock::now() - closing).count();
  for (pid_t pid : pids) kill(pid, SIGCONT);
  std::printf(
      "window  server stopped (SIGSTOP, %zu processes) 20 s, a refresh every second: longest "
      "stall %.1f ms; the summary line then: \"%s\"; the window closed in %.0f ms while the "
      "server was still stopped\n",
      pids.size(), stall, summary.c_str(), close_ms);
}

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QTemporaryDir temporary;
  const std::string folder = argc > 1 ? argv[1] : temporary.path().toStdString();
  const std::string path = folder + "/bench-records.sqlite";
  std::remove(path.c_str());

  records::RecordStore store(path);
  if (!store.open()) {
    std::printf("cannot open %s: %s\n", path.c_str(), store.status_text().c_str());
    return 1;
  }
  const double load_ms = time_ms([&] {
    std::vector<records::RunRecord> batch;
    for (int n = 0; n < kRuns; ++n) {
      batch.push_back(make_run(n));
      if (batch.size() == 5000 || n + 1 == kRuns) {
        store.import_runs(batch);
        batch.clear();
      }
    }
  });
  std::printf("store: %s, %d runs loaded in %.0f ms (bulk, 5000 a transaction)\n", path.c_str(),
              kRuns, load_ms);

  // The write at the start, every 5 s, and at the end of a run, each its own transaction.
  std::vector<double> begin_times;
  std::vector<double> progress_times;
  std::vector<double> complete_times;
  for (int n = 0; n < 200; ++n) {
    records::RunRecord run = make_run(kRuns + n);
    begin_times.push_back(time_ms([&] { store.begin_run(run); }));
    progress_times.push_back(time_ms([&] { store.save_progress(run.id, run.report); }));
    complete_times.push_back(time_ms([&] { store.complete_run(run); }));
  }
  std::printf("begin_run     median %.2f ms, max %.2f ms (200 runs)\n", median(begin_times),
              *std::max_element(begin_times.begin(), begin_times.end()));
  std::printf("save_progress median %.2f ms, max %.2f ms\n", median(progress_times),
              *std::max_element(progress_times.begin(), progress_times.end()));
  std::printf("complete_run  median %.2f ms, max %.2f ms   (goal: median <= 5 ms)\n",
              median(complete_times),
              *std::max_element(complete_times.begin(), complete_times.end()));

  std::printf("records window (median of 5; goal: list + summary <= 300 ms):\n");
  struct Case {
    const char* label;
    records::RecordFilter filter;
  };
  std::vector<Case> cases(6);
  cases[0].label = "no filter (all but simulated)";
  cases[1].label = "text \"qb1234\"";
  cases[1].filter.text = "qb1234";
  cases[2].label = "technician \"marsh\", failed";
  cases[2].filter.text = "marsh";
  cases[2].filter.outcome = records::Outcome::failed;
  cases[3].label = "procedure REC, last 30 days";
  cases[3].filter.procedure = records::Procedure::rec;
  cases[3].filter.started_from =
      records::TimePoint{std::chrono::milliseconds{kStart + (kRuns - 30 * 24 * 60) * kMinute}};
  cases[4].label = "simulated included";
  cases[4].filter.include_simulated = true;
  cases[5].label = "station bench-1";
  cases[5].filter.station = "bench-1";
  for (Case& c : cases) {
    for (std::optional<std::size_t> page :
         {std::optional<std::size_t>{}, std::optional<std::size_t>{1000}}) {
      c.filter.limit = page;
      std::vector<double> list_times;
      std::vector<double> summary_times;
      std::vector<double> cpu_times;
      std::size_t rows = 0;
      for (int repeat = 0; repeat < 5; ++repeat) {
        double list_cpu = 0;
        double summary_cpu = 0;
        list_times.push_back(time_ms(
            [&] { rows = store.query(c.filter, records::Detail::list).value.size(); }, &list_cpu));
        summary_times.push_back(time_ms([&] { store.summarize(c.filter); }, &summary_cpu));
        cpu_times.push_back(list_cpu + summary_cpu);
      }
      std::printf(
          "window %-30s %-10s %6zu rows: list %6.1f ms + summary %5.1f ms = %6.1f ms (cpu %.1f)\n",
          c.label, page ? "first 1000" : "every row", rows, median(list_times),
          median(summary_times), median(list_times) + median(summary_times), median(cpu_times));
    }
  }

  // What the records window does when it opens or a filter changes: the summary, its first
  // page of 200 runs without reports, and the first run in full; when it opens or is refreshed,
  // the stations to choose from as well.
  std::printf("records window page (median of 5; goal <= 300 ms):\n");
  for (Case& c : cases) {
    c.filter.limit = 200;
    std::vector<double> wall_times;
    std::vector<double> cpu_times;
    for (int repeat = 0; repeat < 5; ++repeat) {
      double cpu = 0;
      wall_times.push_back(time_ms(
          [&] {
            store.stations();
            store.summarize(c.filter);
            const auto page = store.query(c.filter, records::Detail::list).value;
            if (!page.empty()) store.find(page.front().id);
          },
          &cpu));
      cpu_times.push_back(cpu);
    }
    std::printf("page   %-30s stations + summary + 200 rows + first run = %6.1f ms (cpu %.1f)\n",
                c.label, median(wall_times), median(cpu_times));
  }

  std::vector<double> station_times;
  std::size_t station_count = 0;
  for (int repeat = 0; repeat < 5; ++repeat) {
    station_times.push_back(time_ms([&] { station_count = store.stations().value.size(); }));
  }
  std::printf("the %zu stations to choose from: %.1f ms (median of 5)\n", station_count,
              median(station_times));

  records::RecordFilter everything;
  everything.include_simulated = true;
  const std::string csv = folder + "/bench-records.csv";
  std::string error;
  std::size_t exported = 0;
  double stream_cpu = 0;
  const double stream_ms = time_ms(
      [&] { error = records::export_records(store, everything, csv, &exported); }, &stream_cpu);
  std::printf(
      "export %zu runs to CSV, read in chunks and streamed: %.0f ms (cpu %.0f)  (goal <= "
      "2000 ms)%s\n",
      exported, stream_ms, stream_cpu, error.c_str());
  // The JUnit XML export reads the suites' counts first and then one procedure at a time.
  const std::string xml = folder + "/bench-records-streamed.xml";
  double xml_cpu = 0;
  const double xml_ms = time_ms(
      [&] { error = records::export_records(store, everything, xml, &exported); }, &xml_cpu);
  std::printf(
      "export %zu runs to JUnit XML, a suite at a time and streamed: %.0f ms (cpu %.0f)%s\n",
      exported, xml_ms, xml_cpu, error.c_str());
  std::vector<records::RunRecord> all;
  double query_cpu = 0;
  double csv_cpu = 0;
  const double query_ms = time_ms([&] { all = store.query(everything).value; }, &query_cpu);
  const double csv_ms = time_ms([&] { error = records::export_records(all, csv); }, &csv_cpu);
  std::printf(
      "export %zu runs to CSV, every record read first: read %.0f ms + write %.0f ms = %.0f ms "
      "(cpu %.0f)%s\n",
      all.size(), query_ms, csv_ms, query_ms + csv_ms, query_cpu + csv_cpu, error.c_str());
  for (const char* extension : {"json", "xml"}) {
    const std::string file = folder + "/bench-records." + extension;
    const double ms = time_ms([&] { error = records::export_records(all, file); });
    std::printf("export %zu runs to %s: write %.0f ms%s\n", all.size(), extension, ms,
                error.empty() ? "" : error.c_str());
  }

  window_bench(path);
  if (const char* server = std::getenv("QUOR_BENCH_STOPPED_SERVER"); server && *server) {
    stopped_server_bench(server);
  }

  records::RecordStore reopened(path);
  const double open_ms = time_ms([&] { reopened.open(); });
  std::printf("opening the store of %zu runs (integrity check, migration check): %.0f ms\n",
              all.size(), open_ms);
  return 0;
}
