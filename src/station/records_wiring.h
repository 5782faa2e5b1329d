// The production records attached to the station: the record store, the recorder that turns
// every procedure into a run record, the timers that save a running run's report and retry
// waiting records, the records line of the main window's status bar, and the records window
// behind the "Records" menu item.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>

#include "core/station.h"
#include "records/record_store.h"
#include "records/records_window.h"
#include "records/run_recorder.h"
#include "station/station_windows.h"

namespace station {

struct RecordsOptions {
  std::string path;        // the record file (records::records_location())
  std::string station_id;  // empty: the host name
};

class RecordsWiring {
 public:
  // A running run's report is saved at least this often.
  static constexpr std::chrono::milliseconds kProgressInterval{4000};
  // Waiting records are written again, and a failed store opened again, this often.
  static constexpr std::chrono::milliseconds kRetryInterval{10000};

  // Opens the store (telling the technician of a damaged file moved aside), attaches the
  // recorder to the station and the records window to the main window's menu.
  RecordsWiring(core::Station& station, StationWindows& windows, RecordsOptions options);
  ~RecordsWiring();
  RecordsWiring(const RecordsWiring&) = delete;
  RecordsWiring& operator=(const RecordsWiring&) = delete;

  records::RecordStore& store() { return store_; }
  records::RunRecorder& recorder() { return recorder_; }
  // The records window, created on first use and shown.
  records::RecordsWindow& show_window();
  records::RecordsWindow* window() const { return window_; }
  // The main window's records line, from the store's state.
  void update_status();
  // What the timers do.
  void save_progress();
  void retry();

 private:
  core::Station& station_;
  StationWindows& windows_;
  records::RecordStore store_;
  records::RunRecorder recorder_;
  QTimer progress_timer_;
  QTimer retry_timer_;
  QPointer<records::RecordsWindow> window_;
};

}  // namespace station
