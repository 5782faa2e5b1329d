// Renders the records window with its charts over a few hundred runs (all of them, one unit's, one
// station's) with the chart of the steps that decided unit results, a unit's history with its
// unit results, the window while a read hangs (being read, then not answered) and
// once it came, and the main window's status line when records cannot be kept, the runs the
// line's server set aside, to PNG files for a look by eye:
//   render_records <folder>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "app/records_window.h"
#include "app/unit_history.h"
#include "app/yield_charts.h"
#include "offscreen_render.h"
#include "records/record_store.h"
#include "station/records_wiring.h"

using testing_support::save_snapshot;

namespace {

// Runs as a day's production leaves them: 300 runs over 60 units on three stations, a few
// failures and stops, one in every ten on the simulated chassis.
std::vector<records::RunRecord> made_runs() {
  using namespace records;
  std::vector<RunRecord> runs;
  const TimePoint start = *parse_utc_date("2026-12-01");
  const char* technicians[] = {"A. Marsh", "D. Okafor", "R. Lindqvist"};
  for (int n = 0; n < 300; ++n) {
    RunRecord r;
    r.id = new_run_id();
    r.station_id = n % 4 == 0 ? "line2-station" : n % 5 == 0 ? "line3-station" : "line1-station";
    r.started = start + std::chrono::minutes{n * 17};
    r.ended = r.started + std::chrono::seconds{40 + n % 50};
    r.procedure = all_procedures()[std::size_t(n * 7) % all_procedures().size()];
    const int roll = (n * 37) % 100;
    r.outcome = roll < 82   ? Outcome::passed
                : roll < 90 ? Outcome::failed
                : roll < 93 ? Outcome::error
                : roll < 96 ? Outcome::stopped
                : roll < 98 ? Outcome::failure_limit
                            : Outcome::interrupted;
    r.simulated = n % 10 == 3;
    r.uut =
        identify(r.simulated ? "ARDENVALE,QUOR BUS SIMULATED,SIM-LA008,1.00"
                             : "ARDENVALE,QUOR BUS,QB" + std::to_string(10400 + n % 60) + ",2.07");
    r.uut_resource = "VXI0::8::INSTR";
    r.technician = technicians[n % 3];
    r.top_serial = "TOP-" + std::to_string(5000 + n % 60);
    r.visa_library = r.simulated ? "simulated chassis" : "/usr/lib/x86_64-linux-gnu/libvisa.so";
    r.passes_run = 50;
    r.failures = r.outcome == Outcome::passed ? 0 : 1 + n % 4;
    r.report = "Quor Bus--Recm\r\nDate 12/1/2026\r\n\r\nIdentity: " + r.uut.reply + "\r\n\r\n\r\n";
    if (r.outcome == Outcome::passed) {
      r.report += "Unit Passes";
    } else {
      r.report += "Miscompare at 2 Expected 4 Got 0\r\n";
      r.last_errors = {
          "Resetting the UUT\nVI_ERROR_TMO: Timeout expired before operation "
          "completed."};
    }
    r.program_version = "1.0";
    runs.push_back(std::move(r));
  }
  return runs;
}

// Final tests of twelve units after the day's runs: three steps each, some failed or ended in an
// error at a step; the runs of the steps they reached name them.
struct MadeUnitResults {
  std::vector<records::UnitResult> results;
  std::vector<records::RunRecord> steps;
};

MadeUnitResults made_unit_results() {
  using namespace records;
  MadeUnitResults made;
  const TimePoint start = *parse_utc_date("2026-12-05") + std::chrono::hours{8};
  const Procedure sequence[] = {all_procedures()[0], all_procedures()[1], all_procedures()[2]};
  for (int n = 0; n < 12; ++n) {
    UnitResult u;
    u.id = new_run_id();
    u.station_id = "line1-station";
    u.started = start + std::chrono::minutes{n * 20};
    u.ended = u.started + std::chrono::minutes{6};
    u.technician = n % 2 == 0 ? "A. Marsh" : "D. Okafor";
    u.uut = identify("ARDENVALE,QUOR BUS,QB" + std::to_string(10400 + n % 8) + ",2.07");
    u.sequence = "default";
    // A step decides the unit's failure or error: the first, the second or the third.
    const int last = n % 3 == 0 ? 2 : n % 4 == 1 ? 1 : n % 5 == 2 ? 0 : 2;
    u.verdict = n % 3 == 0 || n == 5 ? UnitVerdict::pass
                : n % 4 == 1         ? UnitVerdict::fail
                : n % 5 == 2         ? UnitVerdict::error
                                     : UnitVerdict::fail;
    if (u.verdict != UnitVerdict::pass) {
      u.deciding_step = last;
      u.deciding_procedure = sequence[last];
      u.finding = u.verdict == UnitVerdict::error
                      ? "VI_ERROR_TMO: Timeout expired before operation completed."
                      : "Pass 7 word 12: read 0x00A5, expected 0x00A4";
    }
    for (int step = 0; step <= last; ++step) {
      RunRecord r;
      r.id = new_run_id();
      r.station_id = u.station_id;
      r.started = u.started + std::chrono::minutes{step * 2};
      r.ended = r.started + std::chrono::seconds{90};
      r.procedure = sequence[step];
      r.outcome = step < last || u.verdict == UnitVerdict::pass ? Outcome::passed
                  : u.verdict == UnitVerdict::error             ? Outcome::error
                                                                : Outcome::failed;
      r.uut = u.uut;
      r.technician = u.technician;
      r.unit_result_id = u.id;
      r.program_version = "1.0";
      made.steps.push_back(std::move(r));
    }
    made.results.push_back(std::move(u));
  }
  return made;
}

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const QString folder = testing_support::render_folder(argc, argv);
  QTemporaryDir temporary;
  testing_support::RenderedStation rendered;

  records::RecordStore store(temporary.path().toStdString() + "/records.sqlite");
  const MadeUnitResults unit_results = made_unit_results();
  if (!store.open() || !store.import_runs(made_runs()) ||
      !store.import_unit_results(unit_results.results) || !store.import_runs(unit_results.steps)) {
    return EXIT_FAILURE;
  }
  app::RecordsWindow window(store, rendered.person);
  window.wait_for_reads();
  // As it opens: the simulated runs hidden, and the window says so.
  bool ok = save_snapshot(&window, folder + "/records_window_charts.png");
  window.chkSimulated->setChecked(true);
  window.wait_for_reads();
  window.lstRuns->selectRow(2);
  window.wait_for_reads();
  ok = save_snapshot(&window, folder + "/records_window.png") && ok;
  // One unit's runs and unit results, oldest first, as a click on its serial number opens them
  // (the newest run is a step of the last unit result).
  if (app::UnitHistoryWindow* history = window.show_unit_history(0)) {
    history->wait_for_reads();
    ok = save_snapshot(history, folder + "/unit_history.png") && ok;
    history->close();
  } else {
    ok = false;
  }

  // A read that hangs, as on a server that does not answer: the window says it reads, and after a
  // while that the store does not answer; the list shown stays until the read comes.
  struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
  };
  auto gate = std::make_shared<Gate>();
  window.reader().set_read_hook([gate](records::ReadKind) {
    std::unique_lock lock(gate->mutex);
    gate->opened.wait(lock, [&] { return gate->open; });
  });
  window.txtFilter->setText("QB10412");
  window.apply_filter();
  ok = save_snapshot(&window, folder + "/records_window_reading.png") && ok;
  window.wait_for_reads(app::RecordsWindow::kSlowRead + std::chrono::milliseconds{600});
  ok = save_snapshot(&window, folder + "/records_window_not_answering.png") && ok;
  {
    std::lock_guard lock(gate->mutex);
    gate->open = true;
  }
  gate->opened.notify_all();
  window.wait_for_reads();
  window.reader().set_read_hook(nullptr);
  ok = save_snapshot(&window, folder + "/records_window_filtered.png") && ok;
  window.txtFilter->clear();
  window.cboStation->setCurrentText("line2-station");
  window.apply_filter();
  window.wait_for_reads();
  ok = save_snapshot(&window, folder + "/records_window_station.png") && ok;
  // Runs the line's records server refused, as the wiring names them.
  window.show_set_aside(
      "2 runs set aside, refused by the records server: the records server refused the run's "
      "content (index row size 3072 exceeds btree version 4 maximum 2704 for index "
      "\"runs_first_pass\"). They stay in the record file.");
  ok = save_snapshot(&window, folder + "/records_window_set_aside.png") && ok;
  window.show_set_aside({});
  // A longer line: five stations more, their runs taken from the first ones.
  std::vector<records::RunRecord> more = made_runs();
  more.resize(50);
  for (std::size_t n = 0; n < more.size(); ++n) {
    more[n].id = records::new_run_id();
    more[n].station_id = "line" + std::to_string(4 + n % 5) + "-station";
  }
  if (!store.import_runs(more)) return EXIT_FAILURE;
  window.cboStation->setCurrentIndex(0);
  window.refresh();
  window.wait_for_reads();
  ok = save_snapshot(&window, folder + "/records_window_many_stations.png") && ok;

  // A record file that cannot be made: the status line says so beside the VISA line.
  station::StationWindows windows(rendered.station, [] {});
  const QString blocked = temporary.path() + "/not-a-folder";
  QFile(blocked).open(QIODevice::WriteOnly);
  station::RecordsWiring wiring(
      rendered.station, windows,
      {blocked.toStdString() + "/records.sqlite", "line1-station", "", ""});
  windows.form().show();
  ok = save_snapshot(&windows.form(), folder + "/main_window_records_not_kept.png") && ok;

  // A line's server out of reach: the runs wait in the station's own file, and the status line
  // counts them.
  station::StationWindows forwarding_windows(rendered.station, [] {});
  station::RecordsWiring forwarding(
      rendered.station, forwarding_windows,
      {temporary.path().toStdString() + "/station.sqlite", "line1-station",
       blocked.toStdString() + "/line.sqlite", "the line's server"});
  for (int n = 0; n < 3; ++n) forwarding_windows.form().TestButton[3]->click();
  forwarding.flush();
  forwarding.forwarder()->wait_until_forwarded(std::chrono::milliseconds{500});
  forwarding.update_status();
  forwarding_windows.form().show();
  ok =
      save_snapshot(&forwarding_windows.form(), folder + "/main_window_runs_wait_for_server.png") &&
      ok;
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
