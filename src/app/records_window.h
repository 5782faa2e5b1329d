// The records window: the kept runs, newest first, a page at a time, coloured by outcome, with
// filters, charts of their yield, the selected run's fields and report, printing of that report,
// an export of the filtered runs, a summary line in words and a unit's history. Simulated runs
// are marked wherever they show, and the window says how many its filter hides.
#pragma once

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVariant>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/operator.h"
#include "records/record_store.h"
#include "records/records_reader.h"

namespace app {

class UnitHistoryWindow;
class YieldCharts;

namespace window_text {
inline constexpr const char* kCaption = "Production Records";
inline constexpr const char* kSimulatedMark = "SIMULATED";
inline constexpr const char* kSimulatedBanner =
    "SIMULATED RUN - no real module was tested in this run.";
inline constexpr const char* kReading = "Reading the records...";
inline constexpr const char* kReadingRun = "Reading the run...";
inline constexpr const char* kServerSilent = "the records server does not answer";
inline constexpr const char* kFileSilent = "the record file does not answer";
}  // namespace window_text

// How a row of the list shows its run's outcome at a glance: failed runs on red, errors on
// orange, runs that gave no verdict in grey; an invalid colour leaves the list's own.
struct OutcomeLook {
  QColor background;
  QColor text;
};
OutcomeLook outcome_look(records::Outcome outcome);
// What a row with this look gives a list for `role` (Qt::BackgroundRole, Qt::ForegroundRole): a
// brush, or nothing where the list's own colour stays. A simulated row keeps its mark in its own
// column, and across the row where the look has no background.
QVariant row_brush(const OutcomeLook& look, int role, bool simulated, bool simulated_column);

// The rows of a list of runs: a page of the records window, a unit's history.
class RunListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Time, ProcedureColumn, OutcomeColumn, Serial, Technician, Station, Simulated };
  static constexpr int kColumns = 7;

  using QAbstractTableModel::QAbstractTableModel;
  void set_runs(std::vector<records::RunRecord> runs);
  const std::vector<records::RunRecord>& runs() const { return runs_; }
  // Serial numbers drawn as links, which a click follows (the records window's list).
  void set_serial_links(bool on) { serial_links_ = on; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<records::RunRecord> runs_;
  bool serial_links_ = false;
};

// "2026-12-08 05:03:07" in local time, for the list.
QString local_time_text(records::TimePoint time);
// The serial number a run is known by: the UUT's, else the top assembly's, else the sub's.
std::string unit_serial(const records::RunRecord& run);
// The summary in words: "7 of 10 runs passed; first-pass yield 60% over 5 units" under one
// procedure, "... over 12 first runs" (a unit's first run under each procedure) under several.
std::string summary_text(const records::Summary& summary, bool one_procedure = false);
// What each figure of the summary counts (its tool tip).
std::string summary_definitions();
// "12 simulated runs are hidden; tick ..." ; empty when none is.
std::string hidden_simulated_text(std::size_t hidden);
// The summary's second line, the runs by station: "By station: LINE-A 120 runs, pass rate
// 97.5%; LINE-B ...", the first `shown` stations in the stations' order and then how many more
// there are; empty when the summary holds no station.
std::string station_summary_text(const records::Summary& summary, std::size_t shown);
// Every station of the summary, one line each with its counts (the second line's tool tip).
std::string station_summary_details(const records::Summary& summary);
// The selected run's fields, one "name: value" line each; a value longer than kShownFieldLimit
// characters is shown cut, with how much more it holds.
std::string fields_text(const records::RunRecord& run);
inline constexpr std::size_t kShownFieldLimit = 1000;
// The report as the window shows it: cut after kShownReportLimit bytes (at a character's start)
// with a last line saying so; printing prints it whole.
std::string shown_report(const std::string& report);
inline constexpr std::size_t kShownReportLimit = 1'000'000;

// The summary a window shows, from the yield figures of its filter.
records::Summary summary_of(const records::YieldFigures& figures);

// Every read runs on the reader's threads (records/records_reader.h): the window thread never
// waits on the file or the server. A read shows its result when it comes; meanwhile the summary
// line says the records are being read, and after kSlowRead that the store does not answer.
class RecordsWindow final : public QWidget {
  Q_OBJECT

 public:
  static constexpr std::size_t kPageSize = 200;
  // Stations named on the summary's second line; its tool tip lists them all.
  static constexpr std::size_t kStationsInLine = 3;
  // A read running this long is said not to be answered.
  static constexpr std::chrono::milliseconds kSlowRead{3000};

  // `location`: the record file or the server's line the window reads, on connections of its own.
  RecordsWindow(std::string location, driver::Operator& person, QWidget* parent = nullptr);
  // Reads the store's location, not through the store.
  RecordsWindow(records::RecordStore& store, driver::Operator& person, QWidget* parent = nullptr);
  ~RecordsWindow() override;

  // The filter the controls describe, without the page.
  records::RecordFilter filter() const;
  // Reads the first page and the summary for the controls' filter again.
  void apply_filter();
  // Reads the current page again (a run was written), and the stations to choose from. Calls
  // while a read runs share one read after it.
  void refresh();
  void next_page();
  void previous_page();
  // Shows the run in the list's row `row` (the list's selection does the same): its fields and
  // report are read then.
  void select_row(int row);
  // The run shown below the list, if any.
  const std::optional<records::RunRecord>& selected() const { return selected_; }
  // Prints the selected run's report as the results window prints one.
  void print_selected();
  // Writes the filtered runs (all pages) to `file` and waits for it, the window's events going on
  // meanwhile (suites and tools; the Export button does not wait); empty on success, else what
  // went wrong.
  std::string export_to(const std::string& file, std::size_t* count = nullptr);
  // Turns the window thread's events until every read asked for has been shown; false if that
  // took longer than `most`.
  bool wait_for_reads(std::chrono::milliseconds most = std::chrono::seconds{30});
  // True while a read asked for has not been shown.
  bool reading() const;
  records::RecordsReader& reader() { return *reader_; }
  // A line above the list about runs the line's records server refused and that stay in the
  // station's record file ("2 runs set aside, refused by the records server: ..."); hidden when
  // empty.
  void show_set_aside(const std::string& text);
  // The history of the unit in the list's row `row` (its serial number as the list shows it), in
  // a window of its own, or the one open for it already; none for a run that names no unit.
  UnitHistoryWindow* show_unit_history(int row);
  // Writes the yield report of the filtered runs to `file` on the reader's exports thread, and
  // says where it went or why it did not in a message box when it is done (the Yield Report
  // button, once its file is chosen).
  void write_yield_report(const QString& file);
  // The program and its version, as the yield report's heading names them.
  void set_program_text(std::string text) { program_ = std::move(text); }

  // Asks for the file to write: (caption, suggested name, file types) -> the file, empty when none
  // is chosen. A save dialog unless replaced (the suites choose without one).
  std::function<QString(const QString& caption, const QString& name, const QString& types)>
      choose_file;

  QLineEdit* txtFilter = nullptr;
  QComboBox* cboProcedure = nullptr;
  QComboBox* cboOutcome = nullptr;
  QComboBox* cboStation = nullptr;  // "All stations", then the station ids present
  QCheckBox* chkFrom = nullptr;
  QDateEdit* dtFrom = nullptr;
  QCheckBox* chkTo = nullptr;
  QDateEdit* dtTo = nullptr;
  QCheckBox* chkSimulated = nullptr;
  // Only the runs that are steps of unit results: ticked by a click on a deciding step's bar,
  // shown while ticked or while the figures hold unit results.
  QCheckBox* chkUnitSteps = nullptr;
  YieldCharts* charts = nullptr;  // over the filter; a click on a bar filters the list
  QTableView* lstRuns = nullptr;
  QPushButton* cmdNewer = nullptr;
  QPushButton* cmdOlder = nullptr;
  QLabel* lblPage = nullptr;
  QLabel* lblSummary = nullptr;   // its tool tip defines the figures
  QLabel* lblHidden = nullptr;    // how many simulated runs the filter hides, and how to show them
  QLabel* lblStations = nullptr;  // the summary by station
  QLabel* lblSimulated = nullptr;
  QLabel* lblSetAside = nullptr;
  QPlainTextEdit* txtFields = nullptr;
  QPlainTextEdit* txtReport = nullptr;
  QPushButton* cmdPrint = nullptr;
  QPushButton* cmdExport = nullptr;
  QPushButton* cmdRefresh = nullptr;
  QPushButton* cmdYieldReport = nullptr;

  RunListModel& model() { return model_; }

 private:
  void build();
  void name_controls();
  // Asks for the yield figures of current_, for the charts and the hidden simulated runs.
  void read_figures();
  // Filters the list to the runs started in [start, end), a period of the trend chart.
  void show_period(records::TimePoint start, records::TimePoint end);
  // Asks for the page at offset_ of current_; a new view (another filter or page) drops what
  // older reads bring.
  void read_page(bool new_view, bool stations);
  void show_page(records::PageResult result);
  // "Runs 201 - 400 of 1,234" and the page buttons.
  void show_page_line();
  // The counts, the charts and the hidden simulated runs, from the yield figures of current_.
  void show_figures(const records::ReadResult<records::YieldFigures>& result);
  void show_stations(const std::vector<std::string>& stations);
  void show_summary(const records::Summary& summary);
  void show_run(const std::optional<records::RunRecord>& run);
  // The summary line: the last summary or error, or that the records are being read.
  void show_reading_state();
  void choose_export_file();
  void choose_yield_report_file();

  std::unique_ptr<records::RecordsReader> reader_;
  bool on_server_ = false;
  driver::Operator& person_;
  RunListModel model_;
  records::RecordFilter current_;
  std::size_t offset_ = 0;
  std::size_t total_ = 0;
  std::optional<records::RunRecord> selected_;
  // Results of an older view or an older selection are dropped.
  unsigned view_ = 0;
  unsigned shown_view_ = 0;  // the view the list shows
  // The filter the figures are read for, and the one they show: pages of one filter share them.
  unsigned filter_view_ = 0;
  unsigned shown_figures_ = 0;
  unsigned selection_ = 0;
  std::string chosen_;      // the run chosen in the list, shown or being read
  bool selecting_ = false;  // the window itself moves the list's selection
  QString summary_line_;    // the last summary or error read
  // The period of the trend clicked last, until a date is chosen by hand: the list's filter.
  std::optional<std::pair<records::TimePoint, records::TimePoint>> period_;
  bool exporting_ = false;
  bool reporting_ = false;
  std::string program_;
  QTimer* typing_ = nullptr;
  QTimer* watch_ = nullptr;  // follows a read that is slow to come
};

}  // namespace app
