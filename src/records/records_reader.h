// The records window's reads, off the window thread. A reader owns threads of its own, each with
// its own connection to the store, and takes requests from the window thread: a page of the list
// with its summary and the stations to choose from, one run in full, the yield figures, an export.
// Requests of one kind coalesce: while one read runs, a newer request replaces the one that waits,
// so a burst of requests costs at most two reads. Results come back on the thread of `context` (the
// window's), by a queued call, or without a context on the reader's own thread; none comes once the
// reader is being destroyed.
//
// A read that hangs (a server that does not answer) holds only the reader's thread: busy_for()
// says how long the read has run. Destroying the reader waits at most kCloseWait for its threads;
// a thread still in a read or an export then is left to end on its own when the read returns, with
// its connection and without delivering anything.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "records/yield_figures.h"
#include "records/yield_report.h"

class QObject;

namespace records {

// What the list shows: one page and, when asked for, the summary, the stations and the unit
// results the page's runs are steps of.
struct PageRequest {
  RecordFilter filter;  // its limit and offset name the page
  bool summary = true;  // the summary, and the page moved back inside the runs counted
  bool stations = true;
  bool unit_results = false;
};

struct PageResult {
  std::optional<Summary> summary;
  std::vector<RunRecord> runs;  // the list's columns only (Detail::list)
  std::size_t offset = 0;       // the page's first run, moved back when the runs are fewer now
  std::optional<std::vector<std::string>> stations;
  // The unit results the runs name, in the order of their start, read in the runs' view.
  std::vector<UnitResult> unit_results;
  std::string error;  // empty when every read worked
};

struct YieldReportResult {
  std::string error;      // empty when the report was written
  std::size_t count = 0;  // the runs it counts
};

struct ExportResult {
  std::string error;  // empty on success
  std::size_t count = 0;
};

enum class ReadKind { page, run, exporting, yield, report };

class RecordsReader {
 public:
  // Under the station's 2 s for a close, with room for the rest of it.
  static constexpr std::chrono::milliseconds kCloseWait{1500};
  // Stations offered in the window's box, at most.
  static constexpr std::size_t kMostStations = 500;

  // `location`: a record file or a server's line, opened for reading only.
  RecordsReader(std::string location, QObject* context);
  ~RecordsReader();
  RecordsReader(const RecordsReader&) = delete;
  RecordsReader& operator=(const RecordsReader&) = delete;

  const std::string& location() const { return location_; }

  void read_page(PageRequest request, std::function<void(PageResult)> done);
  // The run with every field and its report; none when the store holds no such run.
  void read_run(std::string id,
                std::function<void(std::optional<RunRecord> run, std::string error)> done);
  // The yield figures of the runs `filter` selects (records/yield_figures.h), for the charts.
  // It runs on the page's thread, after a waiting page, and coalesces with the yield requests.
  void read_yield(RecordFilter filter, std::function<void(ReadResult<YieldFigures>)> done);
  // Writes the runs `filter` selects to `file` (see export_records), on a thread of its own.
  void export_runs(RecordFilter filter, std::string file, std::function<void(ExportResult)> done);
  // Reads the yield figures of the runs `filter` selects and writes them to `file` as the yield
  // report (records/yield_report.h), on the exports' thread. The heading's records are the
  // store's location as a person reads it, and its time that of the read.
  void write_yield_report(RecordFilter filter, YieldReportHeading heading, std::string file,
                          std::function<void(YieldReportResult)> done);

  // No read runs or waits and every result has been delivered.
  bool idle() const;
  // How long the page or run read now running has run; none when none runs (exports aside).
  std::optional<std::chrono::milliseconds> busy_for() const;
  // For the suites: called on a reader's thread before each read, with its kind.
  void set_read_hook(std::function<void(ReadKind)> hook);

 private:
  class Worker;
  struct Shared;

  const std::string location_;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<Worker> view_;     // pages and runs
  std::unique_ptr<Worker> exports_;  // exports, so that a long one holds no page
};

}  // namespace records
