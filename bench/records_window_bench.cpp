// The records window with its charts over a store of 100,000 runs on three stations, offscreen:
// how long opening it takes until its first page and its charts are drawn (goal: 300 ms), how
// long a change of filter takes until the list and the charts are drawn again (goal: 200 ms),
// and the window thread's longest stall meanwhile (its reads run on their own threads). Prints
// the figures; takes a folder for the store (default: a temporary one).
//
//   records_window_bench [FOLDER]
#include <QApplication>
#include <QEventLoop>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/records_window.h"
#include "app/yield_charts.h"
#include "records/record_store.h"
#include "records/yield_figures.h"
#include "window_watch.h"

namespace {

using bench::Millis;

constexpr int kRuns = 100'000;
constexpr int kRepeats = 5;
constexpr long long kStart = 1'700'000'000'000;  // 2023-11-14
constexpr long long kMinute = 60'000;

// A line's runs: 4,000 units, every procedure, three stations, mostly passing, one in fifty
// simulated; a run every minute, some ten weeks in all.
records::RunRecord make_run(int n) {
  using namespace records;
  RunRecord r;
  r.id = new_run_id();
  r.station_id = "line-" + std::to_string(n % 3);
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
  r.uut_resource = "VXI0::8::INSTR";
  r.technician = n % 2 ? "A. Marsh" : "D. Okafor";
  r.top_serial = "TOP-" + std::to_string(n % 4000);
  r.simulated = n % 50 == 0;
  r.report = "REC Test\r\nUUT: " + r.uut.reply + "\r\n";
  r.report += r.outcome == Outcome::passed ? "Unit Passes\r\n" : "Unit Fails\r\n";
  r.program_version = "1.0.0";
  return r;
}

using bench::SilentOperator;
using bench::StallWatch;
using bench::turn_events;

// Turns the window thread's events until the window has shown every read asked for, then draws
// it (list and charts) as the screen would; the time since `begin`.
double until_drawn(app::RecordsWindow& window, std::chrono::steady_clock::time_point begin) {
  while (window.reading()) turn_events(1);
  window.repaint();
  return Millis(std::chrono::steady_clock::now() - begin).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Change {
  const char* name;
  std::function<void(app::RecordsWindow&)> set;
  std::function<void(app::RecordsWindow&)> undo;
};

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QTemporaryDir temporary;
  const std::string folder = argc > 1 ? argv[1] : temporary.path().toStdString();
  const std::string path = folder + "/records_window_bench.sqlite";
  std::remove(path.c_str());
  {
    records::RecordStore store(path);
    if (!store.open()) {
      std::printf("cannot open %s\n", path.c_str());
      return EXIT_FAILURE;
    }
    const auto begin = std::chrono::steady_clock::now();
    std::vector<records::RunRecord> batch;
    for (int n = 0; n < kRuns; ++n) {
      batch.push_back(make_run(n));
      if (batch.size() == 5000 || n + 1 == kRuns) {
        if (!store.import_runs(batch)) return EXIT_FAILURE;
        batch.clear();
      }
    }
    std::printf("store: %d runs on 3 stations written in %.0f ms\n", kRuns,
                Millis(std::chrono::steady_clock::now() - begin).count());
  }

  {
    // The reads the window asks for, one by one on a connection of this thread.
    records::RecordStore store(path, records::OpenMode::reader);
    store.open();
    records::RecordFilter filter;
    records::RecordFilter page = filter;
    page.limit = app::RecordsWindow::kPageSize;
    const auto time = [](const std::function<void()>& read) {
      std::vector<double> times;
      for (int n = 0; n < kRepeats; ++n) {
        const std::clock_t begin = std::clock();
        read();
        times.push_back(1000.0 * double(std::clock() - begin) / CLOCKS_PER_SEC);
      }
      return median(times);
    };
    std::printf(
        "store   reads, processor time (median of %d): summary %.0f ms, page %.0f ms, stations "
        "%.0f ms, "
        "yield figures %.0f ms\n",
        kRepeats, time([&] { store.summarize(filter); }),
        time([&] { store.query(page, records::Detail::list); }), time([&] { store.stations(500); }),
        time([&] { records::read_yield_figures(store, filter); }));
  }

  SilentOperator person;
  StallWatch watch;
  std::printf(
      "records window with its charts (offscreen; goals: open <= 300 ms, filter <= 200 ms)\n");
  std::vector<double> opens;
  double open_stall = 0;
  for (int n = 0; n < kRepeats; ++n) {
    watch.start();
    const auto begin = std::chrono::steady_clock::now();
    app::RecordsWindow window(path, person);
    window.show();
    opens.push_back(until_drawn(window, begin));
    open_stall = std::max(open_stall, watch.stop());
    if (window.model().runs().empty() || window.charts->figures().total.count == 0) {
      std::printf("the window showed nothing\n");
      return EXIT_FAILURE;
    }
  }
  std::printf(
      "open    first page and charts drawn: first %.0f ms, median of %d %.0f ms; "
      "longest stall %.0f ms\n",
      opens.front(), kRepeats, median(opens), open_stall);

  app::RecordsWindow window(path, person);
  window.show();
  until_drawn(window, std::chrono::steady_clock::now());
  const std::vector<Change> changes = {
      {"a station", [](app::RecordsWindow& w) { w.cboStation->setCurrentText("line-1"); },
       [](app::RecordsWindow& w) { w.cboStation->setCurrentIndex(0); }},
      {"a procedure", [](app::RecordsWindow& w) { w.cboProcedure->setCurrentIndex(3); },
       [](app::RecordsWindow& w) { w.cboProcedure->setCurrentIndex(0); }},
      {"an outcome (failed)", [](app::RecordsWindow& w) { w.cboOutcome->setCurrentText("failed"); },
       [](app::RecordsWindow& w) { w.cboOutcome->setCurrentIndex(0); }},
      {"a serial text \"qb1234\"",
       [](app::RecordsWindow& w) {
         w.txtFilter->setText("qb1234");
         w.apply_filter();
       },
       [](app::RecordsWindow& w) {
         w.txtFilter->clear();
         w.apply_filter();
       }},
      {"30 days (the trend by day)",
       [](app::RecordsWindow& w) {
         {
           // One change, as a click on the trend makes it.
           const QSignalBlocker quiet_from(w.chkFrom);
           const QSignalBlocker quiet_to(w.chkTo);
           w.dtFrom->setDate(QDate(2023, 12, 1));
           w.dtTo->setDate(QDate(2023, 12, 30));
           w.chkFrom->setChecked(true);
           w.chkTo->setChecked(true);
         }
         w.apply_filter();
       },
       [](app::RecordsWindow& w) {
         {
           const QSignalBlocker quiet_from(w.chkFrom);
           w.chkFrom->setChecked(false);
         }
         w.chkTo->setChecked(false);
       }},
      {"simulated runs in", [](app::RecordsWindow& w) { w.chkSimulated->setChecked(true); },
       [](app::RecordsWindow& w) { w.chkSimulated->setChecked(false); }},
  };
  std::vector<double> all;
  for (const Change& change : changes) {
    std::vector<double> times;
    double stall = 0;
    for (int n = 0; n < kRepeats; ++n) {
      watch.start();
      const auto begin = std::chrono::steady_clock::now();
      change.set(window);
      times.push_back(until_drawn(window, begin));
      stall = std::max(stall, watch.stop());
      change.undo(window);
      until_drawn(window, std::chrono::steady_clock::now());
    }
    all.insert(all.end(), times.begin(), times.end());
    std::printf(
        "filter  %-28s list and charts drawn: median %4.0f ms, most %4.0f ms; "
        "longest stall %3.0f ms\n",
        change.name, median(times), *std::max_element(times.begin(), times.end()), stall);
  }
  std::printf("filter  every change: median %.0f ms, most %.0f ms\n", median(all),
              *std::max_element(all.begin(), all.end()));
  return EXIT_SUCCESS;
}
