// The production records attached to the station: the writer that keeps the station's record
// file on a thread of its own, the forwarder that copies finished runs to the line's shared store
// when there is one, the recorder that turns every procedure into a run record, the timer that
// saves a running run's report, the records line of the main window's status bar, and the
// records window behind the "Records" menu item. A final test adds unit_results() to its runner
// as an observer, so that the unit is kept as one unit result linking its steps' runs, and takes
// expected_duration() for its time left.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/records_window.h"
#include "core/station.h"
#include "procedures/final_test.h"
#include "records/record_forwarder.h"
#include "records/record_store.h"
#include "records/record_writer.h"
#include "station/run_recorder.h"
#include "station/station_windows.h"
#include "station/unit_result_recorder.h"

namespace station {

struct RecordsOptions {
  std::string path;        // the station's record file (records::records_location())
  std::string station_id;  // empty: the host name
  // The line's shared store the finished runs are forwarded to; empty: none. The records window
  // shows it when there is one.
  std::string shared_store;
  // How the status line and messages name the shared store (without its password).
  std::string shared_store_shown;
};

class RecordsWiring {
 public:
  // A running run's report is saved at least this often.
  static constexpr std::chrono::milliseconds kProgressInterval{4000};
  // The main window's close writes what waits for at most this long.
  static constexpr std::chrono::milliseconds kCloseTime{3000};

  // Opens the record file (telling the technician of a damaged file moved aside), starts
  // forwarding when there is a shared store, attaches the recorder to the station and the
  // records window to the main window's menu.
  RecordsWiring(core::Station& station, StationWindows& windows, RecordsOptions options);
  // Writes what the recorder handed over; runs still to forward stay queued in the file.
  ~RecordsWiring();
  RecordsWiring(const RecordsWiring&) = delete;
  RecordsWiring& operator=(const RecordsWiring&) = delete;

  records::RecordWriter& writer() { return writer_; }
  records::RecordForwarder* forwarder() { return forwarder_.get(); }
  RunRecorder& recorder() { return recorder_; }
  // The observer a final test's runner is given (FinalTestRunner::add_observer).
  UnitResultRecorder& unit_results() { return unit_results_; }
  // How long a procedure's passed runs usually take on this station, for the runner's time left
  // (FinalTestRunner::set_expected_duration): read off the writer's last figures, waiting for no
  // disk.
  procedures::ExpectedDuration expected_duration();
  // The store the records window reads (the shared store when there is one, else the record
  // file), opened on first use on the calling thread; the window itself reads the same location
  // on connections of its own.
  records::RecordStore& reader();
  // The records window, created on first use and shown.
  app::RecordsWindow& show_window();
  app::RecordsWindow* window() const { return window_; }
  // The main window's records line, from the writer's and the forwarder's states.
  void update_status();
  // What the progress timer does.
  void save_progress();
  // Writes waiting records now.
  void retry();
  // Waits until the writer has done every write handed over, then brings the status line and an
  // open records window up to date.
  void flush();
  // What the main window's close does: writes what was handed over and what waits, for at most
  // kCloseTime, the status line saying "Writing N runs to the record file..." meanwhile; what is
  // left waits in the journal for the next start.
  void write_out();

 private:
  // Runs on the window thread after the writer or the forwarder changed state.
  void state_changed();

  core::Station& station_;
  StationWindows& windows_;
  const RecordsOptions options_;
  // Lives on the window thread: the writer's and forwarder's calls are queued to it.
  QObject window_thread_;
  records::RecordWriter writer_;
  std::unique_ptr<records::RecordForwarder> forwarder_;
  RunRecorder recorder_;
  UnitResultRecorder unit_results_;
  std::unique_ptr<records::RecordStore> reader_;
  QTimer progress_timer_;
  std::function<void()> window_shut_down_;  // the main window's own, before write_out()
  QPointer<app::RecordsWindow> window_;
};

}  // namespace station
