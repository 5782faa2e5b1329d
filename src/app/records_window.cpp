#include "app/records_window.h"

#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <thread>

#include "app/accessibility.h"
#include "app/unit_history.h"
#include "app/yield_charts.h"
#include "records/record_export.h"
#include "records/server_location.h"
#include "records/yield_report.h"

namespace app {

using namespace records;

namespace {

const QColor kSimulatedColour(0xff, 0xd0, 0x00);  // as the main window's simulated status line
const QColor kLinkColour(0x00, 0x40, 0xb0);

QString text_of(const std::string& text) { return QString::fromStdString(text); }

std::string percent_text(double share) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f%%", share * 100.0);
  std::string text(buffer);
  // "." whatever the locale: snprintf follows the C locale, which the program never changes,
  // but a comma is mended all the same.
  for (char& c : text) {
    if (c == ',') c = '.';
  }
  return text;
}

// "60%", "66.7%": one decimal where it says something.
std::string short_percent_text(double share) {
  std::string text = percent_text(share);
  const std::size_t point = text.find(".0%");
  if (point != std::string::npos) text.erase(point, 2);
  return text;
}

std::string count_text(std::size_t count) {
  const std::string digits = std::to_string(count);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

TimePoint start_of_local_day(const QDate& date) {
  return TimePoint{std::chrono::milliseconds{QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch()}};
}

}  // namespace

QString local_time_text(TimePoint time) {
  return QDateTime::fromMSecsSinceEpoch(time.time_since_epoch().count())
      .toLocalTime()
      .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::string unit_serial(const RunRecord& run) {
  if (!run.uut.serial.empty()) return run.uut.serial;
  if (!run.top_serial.empty()) return run.top_serial;
  return run.sub_serial;
}

std::string summary_text(const Summary& summary, bool one_procedure) {
  if (summary.count == 0) return "No runs";
  std::string text;
  if (summary.finished == 0) {
    text = count_text(summary.count) +
           (summary.count == 1 ? " run, still running" : " runs, all still running");
  } else {
    text = count_text(summary.passed) + " of " + count_text(summary.finished) +
           (summary.finished == summary.count ? " runs passed" : " finished runs passed");
    if (summary.count > summary.finished) {
      text += " (" + count_text(summary.count - summary.finished) + " still running)";
    }
  }
  if (summary.first_runs > 0) {
    // Under one procedure each first run is a unit's; under several a unit has one for each.
    const char* what = one_procedure ? (summary.first_runs == 1 ? " unit" : " units")
                                     : (summary.first_runs == 1 ? " first run" : " first runs");
    text += "; first-pass yield " + short_percent_text(summary.first_pass_yield()) + " over " +
            count_text(summary.first_runs) + what;
  }
  return text;
}

std::string summary_definitions() {
  return "Runs passed: of the runs that ended, those that passed. A failed, stopped, aborted, "
         "refused or interrupted run, or one that ended in an error, counts as not passed; a run "
         "still running is not counted.\n"
         "First-pass yield: of the first runs shown, the share that passed; a unit that failed "
         "and passed on a retest counts as not passed. A first run is the earliest finished run "
         "of a unit (its UUT's serial number; a simulated unit apart) under a procedure in all "
         "the records, whatever the filters, so a unit run through two procedures has two, and "
         "a day or a station that only retested a unit shows no first run of it. Runs without a "
         "serial number, and runs still running, are left out.\n"
         "Simulated runs count only while \"Include simulated runs\" is ticked.";
}

std::string hidden_simulated_text(std::size_t hidden) {
  if (hidden == 0) return {};
  return count_text(hidden) + (hidden == 1 ? " simulated run is" : " simulated runs are") +
         " hidden; tick \"Include simulated runs\" to show " + (hidden == 1 ? "it." : "them.");
}

namespace {

std::string station_name(const StationCounts& station) {
  return station.station_id.empty() ? std::string("(no station id)") : station.station_id;
}

std::string rate_text(const StationCounts& station) {
  return station.finished == 0 ? std::string("-") : percent_text(station.pass_rate());
}

}  // namespace

std::string station_summary_text(const Summary& summary, std::size_t shown) {
  if (summary.stations.empty()) return {};
  std::string text = "By station: ";
  const std::size_t named = std::min(shown, summary.stations.size());
  for (std::size_t i = 0; i < named; ++i) {
    const StationCounts& station = summary.stations[i];
    if (i > 0) text += "; ";
    text += station_name(station) + " " + count_text(station.count) +
            (station.count == 1 ? " run" : " runs") + ", pass rate " + rate_text(station);
  }
  const std::size_t more = summary.stations.size() - named;
  if (more > 0) {
    text += "; and " + count_text(more) + (more == 1 ? " more station" : " more stations");
  }
  return text;
}

std::string station_summary_details(const Summary& summary) {
  std::string text;
  for (const StationCounts& station : summary.stations) {
    if (!text.empty()) text += '\n';
    text += station_name(station) + ": " + count_text(station.count) +
            (station.count == 1 ? " run, " : " runs, ") + count_text(station.finished) +
            " finished, " + count_text(station.passed) + " passed, pass rate " + rate_text(station);
  }
  return text;
}

namespace {

// The first `characters` characters of UTF-8 `text`: the bytes before the next character's start.
std::size_t utf8_prefix(const std::string& text, std::size_t characters) {
  std::size_t at = 0;
  for (std::size_t seen = 0; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && seen++ == characters) break;
  }
  return at;
}

// Back from `at` to a character's first byte.
std::size_t character_start(const std::string& text, std::size_t at) {
  while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
    --at;
  }
  return at;
}

}  // namespace

std::string fields_text(const RunRecord& run) {
  std::string text;
  const auto line = [&text](const char* name, const std::string& value) {
    if (value.empty()) return;
    text += name;
    text += ": ";
    const std::size_t shown = utf8_prefix(value, kShownFieldLimit);
    text.append(value, 0, shown);
    if (shown < value.size()) {
      text += " ... (" + count_text(value.size() - shown) + " bytes more)";
    }
    text += '\n';
  };
  if (run.simulated) text += std::string(window_text::kSimulatedBanner) + "\n";
  line("Procedure", std::string(display_name(run.procedure)));
  line("Outcome", std::string(text_id(run.outcome)));
  line("Started (UTC)", utc_text(run.started));
  line("Ended (UTC)", run.ended ? utc_text(*run.ended) : std::string());
  line("Passes run", std::to_string(run.passes_run));
  line("Failures", std::to_string(run.failures));
  line("UUT identity", run.uut.reply);
  line("UUT serial number", run.uut.serial);
  line("UUT resource", run.uut_resource);
  line("QCU identity", run.qcu.reply);
  line("QCU resource", run.qcu_resource);
  line("Technician", run.technician);
  line("Top assembly serial number", run.top_serial);
  line("Sub assembly serial number", run.sub_serial);
  line("Station", run.station_id);
  line("VISA library", run.visa_library);
  line("Simulated chassis", run.simulated ? "yes" : "no");
  if (run.self_test_result) line("Self-test result", std::to_string(*run.self_test_result));
  if (run.memory_miscompares) line("Miscompares", std::to_string(*run.memory_miscompares));
  if (run.cal_constant_read) line("Cal constant read", number_text(*run.cal_constant_read));
  if (run.cal_constant_sent) line("Cal constant sent", number_text(*run.cal_constant_sent));
  if (run.non_vol_address) line("Non-Vol address", std::to_string(*run.non_vol_address));
  for (const std::string& error : run.last_errors) line("Error", error);
  line("Program version", run.program_version);
  line("Run id", run.id);
  return text;
}

std::string shown_report(const std::string& report) {
  if (report.size() <= kShownReportLimit) return report;
  const std::size_t shown = character_start(report, kShownReportLimit);
  return report.substr(0, shown) + "\r\n... (the report goes on for " +
         count_text(report.size() - shown) + " bytes more; Print Report prints it whole)";
}

// --- The list ---

QVariant row_brush(const OutcomeLook& look, int role, bool simulated, bool simulated_column) {
  if (role == Qt::BackgroundRole) {
    if (simulated && (simulated_column || !look.background.isValid())) {
      return QBrush(kSimulatedColour);
    }
    return look.background.isValid() ? QVariant(QBrush(look.background)) : QVariant();
  }
  if (role == Qt::ForegroundRole && look.text.isValid()) return QBrush(look.text);
  return {};
}

OutcomeLook outcome_look(Outcome outcome) {
  switch (outcome) {
    case Outcome::failed:
    case Outcome::failure_limit:
      return {QColor(0xf6, 0xc4, 0xc0), {}};
    case Outcome::error:
      return {QColor(0xfb, 0xd5, 0x9c), {}};
    case Outcome::stopped:
    case Outcome::aborted:
    case Outcome::refused:
    case Outcome::interrupted:
      // Runs that gave no verdict on the unit.
      return {{}, QColor(0x80, 0x80, 0x80)};
    case Outcome::running:
    case Outcome::passed:
      return {};
  }
  return {};
}

void RunListModel::set_runs(std::vector<RunRecord> runs) {
  beginResetModel();
  runs_ = std::move(runs);
  endResetModel();
}

int RunListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(runs_.size());
}

int RunListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant RunListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(runs_.size())) return {};
  const RunRecord& run = runs_[std::size_t(index.row())];
  if (role == Qt::ForegroundRole && serial_links_ && index.column() == Serial &&
      !unit_serial(run).empty()) {
    return QBrush(kLinkColour);
  }
  if (role == Qt::BackgroundRole || role == Qt::ForegroundRole) {
    return row_brush(outcome_look(run.outcome), role, run.simulated, index.column() == Simulated);
  }
  if (role == Qt::FontRole && serial_links_ && index.column() == Serial &&
      !unit_serial(run).empty()) {
    QFont font;
    font.setUnderline(true);
    return font;
  }
  if (role == Qt::ToolTipRole && serial_links_ && index.column() == Serial &&
      !unit_serial(run).empty()) {
    return "Click for every run of " + text_of(unit_serial(run)) + ", oldest first";
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case Time:
      return local_time_text(run.started);
    case ProcedureColumn:
      return text_of(std::string(display_name(run.procedure)));
    case OutcomeColumn:
      return text_of(std::string(text_id(run.outcome)));
    case Serial:
      return text_of(unit_serial(run));
    case Technician:
      return text_of(run.technician);
    case Station:
      return text_of(run.station_id);
    case Simulated:
      return run.simulated ? QString(window_text::kSimulatedMark) : QString();
    default:
      return {};
  }
}

QVariant RunListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kHeaders[kColumns] = {
      "Time", "Procedure", "Outcome", "Unit serial number", "Technician", "Station", "Simulated"};
  return section >= 0 && section < kColumns ? QString(kHeaders[section]) : QVariant();
}

// --- The window ---

RecordsWindow::RecordsWindow(std::string location, driver::Operator& person, QWidget* parent)
    : QWidget(parent, Qt::Window),
      on_server_(is_server_location(location)),
      person_(person),
      model_(this) {
  setObjectName("RecordsWindow");
  setWindowTitle(window_text::kCaption);
  reader_ = std::make_unique<RecordsReader>(std::move(location), this);
  build();
  current_ = filter();
  ++filter_view_;
  read_page(true, true);
  read_figures();
}

RecordsWindow::RecordsWindow(RecordStore& store, driver::Operator& person, QWidget* parent)
    : RecordsWindow(store.path(), person, parent) {}

// The reader first: it waits a little for its threads, and a result it delivers needs the window.
RecordsWindow::~RecordsWindow() { reader_.reset(); }

void RecordsWindow::build() {
  auto* layout = new QVBoxLayout(this);

  auto* filters = new QHBoxLayout;
  txtFilter = new QLineEdit(this);
  txtFilter->setObjectName("txtFilter");
  txtFilter->setPlaceholderText("Serial number or technician");
  txtFilter->setClearButtonEnabled(true);
  filters->addWidget(txtFilter, 2);
  cboProcedure = new QComboBox(this);
  cboProcedure->setObjectName("cboProcedure");
  cboProcedure->addItem("All procedures");
  for (Procedure procedure : all_procedures()) {
    cboProcedure->addItem(text_of(std::string(display_name(procedure))), int(procedure));
  }
  filters->addWidget(cboProcedure);
  cboOutcome = new QComboBox(this);
  cboOutcome->setObjectName("cboOutcome");
  cboOutcome->addItem("All outcomes");
  for (Outcome outcome : all_outcomes()) {
    cboOutcome->addItem(text_of(std::string(text_id(outcome))), int(outcome));
  }
  filters->addWidget(cboOutcome);
  cboStation = new QComboBox(this);
  cboStation->setObjectName("cboStation");
  cboStation->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  cboStation->addItem("All stations");
  filters->addWidget(cboStation);
  const QDate today = QDate::currentDate();
  chkFrom = new QCheckBox("From", this);
  chkFrom->setObjectName("chkFrom");
  dtFrom = new QDateEdit(today.addDays(-30), this);
  dtFrom->setObjectName("dtFrom");
  chkTo = new QCheckBox("To", this);
  chkTo->setObjectName("chkTo");
  dtTo = new QDateEdit(today, this);
  dtTo->setObjectName("dtTo");
  for (QDateEdit* date : {dtFrom, dtTo}) {
    date->setCalendarPopup(true);
    date->setDisplayFormat("yyyy-MM-dd");
  }
  filters->addWidget(chkFrom);
  filters->addWidget(dtFrom);
  filters->addWidget(chkTo);
  filters->addWidget(dtTo);
  chkSimulated = new QCheckBox("Include simulated runs", this);
  chkSimulated->setObjectName("chkSimulated");
  filters->addWidget(chkSimulated);
  chkUnitSteps = new QCheckBox("Only steps of unit results", this);
  chkUnitSteps->setObjectName("chkUnitSteps");
  chkUnitSteps->hide();
  filters->addWidget(chkUnitSteps);
  layout->addLayout(filters);

  lblSummary = new QLabel(this);
  lblSummary->setObjectName("lblSummary");
  lblSummary->setTextFormat(Qt::PlainText);
  lblSummary->setToolTip(text_of(summary_definitions()));
  layout->addWidget(lblSummary);
  lblHidden = new QLabel(this);
  lblHidden->setObjectName("lblHidden");
  lblHidden->setTextFormat(Qt::PlainText);
  lblHidden->setStyleSheet(QStringLiteral("color: #805000;"));
  lblHidden->hide();
  layout->addWidget(lblHidden);
  lblStations = new QLabel(this);
  lblStations->setObjectName("lblStations");
  lblStations->setTextFormat(Qt::PlainText);
  // A long line of stations is cut at the window's edge rather than widening the window; the
  // tool tip holds them all.
  lblStations->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  layout->addWidget(lblStations);
  lblSetAside = new QLabel(this);
  lblSetAside->setObjectName("lblSetAside");
  lblSetAside->setTextFormat(Qt::PlainText);
  lblSetAside->setWordWrap(true);
  lblSetAside->setStyleSheet(QStringLiteral("color: #b00000;"));
  lblSetAside->hide();
  layout->addWidget(lblSetAside);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  charts = new YieldCharts(splitter);
  lstRuns = new QTableView(splitter);
  lstRuns->setObjectName("lstRuns");
  model_.set_serial_links(true);
  lstRuns->setModel(&model_);
  lstRuns->setSelectionBehavior(QAbstractItemView::SelectRows);
  lstRuns->setSelectionMode(QAbstractItemView::SingleSelection);
  lstRuns->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lstRuns->verticalHeader()->hide();
  lstRuns->verticalHeader()->setDefaultSectionSize(lstRuns->fontMetrics().height() + 6);
  lstRuns->horizontalHeader()->setStretchLastSection(true);
  lstRuns->setColumnWidth(RunListModel::Time, 150);
  lstRuns->setColumnWidth(RunListModel::ProcedureColumn, 120);
  lstRuns->setColumnWidth(RunListModel::OutcomeColumn, 100);
  lstRuns->setColumnWidth(RunListModel::Serial, 150);
  lstRuns->setColumnWidth(RunListModel::Technician, 130);
  lstRuns->setColumnWidth(RunListModel::Station, 110);
  lstRuns->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* details = new QWidget(splitter);
  auto* details_layout = new QVBoxLayout(details);
  details_layout->setContentsMargins(0, 0, 0, 0);
  lblSimulated = new QLabel(window_text::kSimulatedBanner, details);
  lblSimulated->setObjectName("lblSimulated");
  lblSimulated->setStyleSheet(
      "QLabel { background: #ffd000; color: black; font-weight: bold; padding: 2px; }");
  lblSimulated->hide();
  details_layout->addWidget(lblSimulated);
  auto* texts = new QHBoxLayout;
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  txtFields = new QPlainTextEdit(details);
  txtFields->setObjectName("txtFields");
  txtReport = new QPlainTextEdit(details);
  txtReport->setObjectName("txtReport");
  for (QPlainTextEdit* text : {txtFields, txtReport}) {
    text->setReadOnly(true);
    text->setFont(fixed);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
  }
  texts->addWidget(txtFields, 2);
  texts->addWidget(txtReport, 3);
  details_layout->addLayout(texts);
  splitter->addWidget(charts);
  splitter->addWidget(lstRuns);
  splitter->addWidget(details);
  splitter->setStretchFactor(0, 2);
  splitter->setStretchFactor(1, 3);
  splitter->setStretchFactor(2, 2);
  layout->addWidget(splitter, 1);

  auto* buttons = new QHBoxLayout;
  cmdNewer = new QPushButton("< Newer", this);
  cmdNewer->setObjectName("cmdNewer");
  lblPage = new QLabel(this);
  lblPage->setObjectName("lblPage");
  cmdOlder = new QPushButton("Older >", this);
  cmdOlder->setObjectName("cmdOlder");
  cmdRefresh = new QPushButton("Refresh", this);
  cmdRefresh->setObjectName("cmdRefresh");
  cmdPrint = new QPushButton("Print Report", this);
  cmdPrint->setObjectName("cmdPrint");
  cmdExport = new QPushButton("Export...", this);
  cmdExport->setObjectName("cmdExport");
  cmdYieldReport = new QPushButton("Yield Report...", this);
  cmdYieldReport->setObjectName("cmdYieldReport");
  buttons->addWidget(cmdNewer);
  buttons->addWidget(lblPage);
  buttons->addWidget(cmdOlder);
  buttons->addStretch(1);
  buttons->addWidget(cmdRefresh);
  buttons->addWidget(cmdPrint);
  buttons->addWidget(cmdExport);
  buttons->addWidget(cmdYieldReport);
  layout->addLayout(buttons);
  resize(1200, 900);
  name_controls();

  // Typing waits for a pause before the list is read again.
  typing_ = new QTimer(this);
  typing_->setSingleShot(true);
  typing_->setInterval(250);
  connect(typing_, &QTimer::timeout, this, [this] { apply_filter(); });
  // While a read runs, the summary line follows how long it has run.
  watch_ = new QTimer(this);
  watch_->setInterval(250);
  connect(watch_, &QTimer::timeout, this, [this] {
    if (!reading()) watch_->stop();
    show_reading_state();
  });
  connect(txtFilter, &QLineEdit::textChanged, typing_, qOverload<>(&QTimer::start));
  for (QComboBox* box : {cboProcedure, cboOutcome, cboStation}) {
    connect(box, &QComboBox::currentIndexChanged, this, [this] { apply_filter(); });
  }
  connect(chkSimulated, &QCheckBox::toggled, this, [this] { apply_filter(); });
  connect(chkUnitSteps, &QCheckBox::toggled, this, [this](bool on) {
    if (!on && charts->figures().unit_results == 0) chkUnitSteps->hide();
    apply_filter();
  });
  // A date chosen by hand ends a period clicked on the trend.
  for (QCheckBox* box : {chkFrom, chkTo}) {
    connect(box, &QCheckBox::toggled, this, [this] {
      period_.reset();
      apply_filter();
    });
  }
  for (QDateEdit* date : {dtFrom, dtTo}) {
    connect(date, &QDateEdit::dateChanged, this, [this] {
      period_.reset();
      if (chkFrom->isChecked() || chkTo->isChecked()) apply_filter();
    });
  }
  connect(lstRuns->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (!selecting_) select_row(current.row());
          });
  connect(lstRuns, &QTableView::clicked, this, [this](const QModelIndex& index) {
    if (index.column() == RunListModel::Serial) show_unit_history(index.row());
  });
  connect(lstRuns, &QTableView::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = lstRuns->indexAt(at);
    if (!index.isValid()) return;
    const std::string serial = unit_serial(model_.runs()[std::size_t(index.row())]);
    if (serial.empty()) return;
    QMenu menu(this);
    menu.setObjectName("mnuRun");
    QAction* history = menu.addAction("Unit History of " + text_of(serial));
    if (menu.exec(lstRuns->viewport()->mapToGlobal(at)) == history) show_unit_history(index.row());
  });
  connect(charts, &YieldCharts::period_clicked, this,
          [this](TimePoint start, TimePoint end) { show_period(start, end); });
  connect(charts, &YieldCharts::failures_clicked, this,
          [this](Procedure procedure, Outcome outcome) {
            const QSignalBlocker quiet_procedure(cboProcedure);
            const QSignalBlocker quiet_outcome(cboOutcome);
            cboProcedure->setCurrentIndex(cboProcedure->findData(int(procedure)));
            cboOutcome->setCurrentIndex(cboOutcome->findData(int(outcome)));
            apply_filter();
          });
  connect(charts, &YieldCharts::step_failures_clicked, this, [this](Procedure procedure) {
    const QSignalBlocker quiet_procedure(cboProcedure);
    const QSignalBlocker quiet_steps(chkUnitSteps);
    cboProcedure->setCurrentIndex(cboProcedure->findData(int(procedure)));
    chkUnitSteps->setChecked(true);
    chkUnitSteps->show();
    apply_filter();
  });
  connect(charts, &YieldCharts::station_clicked, this, [this](const std::string& station) {
    if (station.empty()) return;  // the box has no choice for runs without a station id
    const QSignalBlocker quiet(cboStation);
    int index = cboStation->findData(text_of(station));
    if (index < 0) {
      cboStation->addItem(text_of(station), text_of(station));
      index = cboStation->count() - 1;
    }
    cboStation->setCurrentIndex(index);
    apply_filter();
  });
  connect(cmdNewer, &QPushButton::clicked, this, [this] { previous_page(); });
  connect(cmdOlder, &QPushButton::clicked, this, [this] { next_page(); });
  connect(cmdRefresh, &QPushButton::clicked, this, [this] { refresh(); });
  connect(cmdPrint, &QPushButton::clicked, this, [this] { print_selected(); });
  connect(cmdExport, &QPushButton::clicked, this, [this] { choose_export_file(); });
  connect(cmdYieldReport, &QPushButton::clicked, this, [this] { choose_yield_report_file(); });
  choose_file = [this](const QString& caption, const QString& name, const QString& types) {
    return QFileDialog::getSaveFileName(this, caption, name, types);
  };
}

RecordFilter RecordsWindow::filter() const {
  RecordFilter filter;
  filter.text = txtFilter->text().trimmed().toStdString();
  if (cboProcedure->currentIndex() > 0) {
    filter.procedure = Procedure(cboProcedure->currentData().toInt());
  }
  if (cboOutcome->currentIndex() > 0) filter.outcome = Outcome(cboOutcome->currentData().toInt());
  if (period_) {
    filter.started_from = period_->first;
    filter.started_before = period_->second;
  } else {
    if (chkFrom->isChecked()) filter.started_from = start_of_local_day(dtFrom->date());
    if (chkTo->isChecked()) filter.started_before = start_of_local_day(dtTo->date().addDays(1));
  }
  if (cboStation->currentIndex() > 0) {
    filter.station = cboStation->currentData().toString().toStdString();
  }
  filter.include_simulated = chkSimulated->isChecked();
  if (chkUnitSteps->isChecked()) filter.in_unit_result = true;
  return filter;
}

bool RecordsWindow::reading() const { return !reader_->idle(); }

void RecordsWindow::show_reading_state() {
  QString line = summary_line_;
  const std::optional<std::chrono::milliseconds> running = reader_->busy_for();
  if (running && *running >= kSlowRead) {
    line = QString("%1 %2 (%3 s)")
               .arg(window_text::kReading)
               .arg(on_server_ ? window_text::kServerSilent : window_text::kFileSilent)
               .arg(running->count() / 1000);
  } else if (shown_view_ != view_ || shown_figures_ != filter_view_) {
    line = window_text::kReading;
  }
  if (lblSummary->text() != line) lblSummary->setText(line);
}

void RecordsWindow::read_page(bool new_view, bool stations) {
  if (new_view) ++view_;
  PageRequest request;
  request.filter = current_;
  request.filter.limit = kPageSize;
  request.filter.offset = offset_;
  // The counts come with the yield figures.
  request.summary = false;
  request.stations = stations;
  reader_->read_page(std::move(request), [this, view = view_](PageResult result) {
    if (view == view_) show_page(std::move(result));
  });
  if (!watch_->isActive()) watch_->start();
  show_reading_state();
}

void RecordsWindow::apply_filter() {
  typing_->stop();
  current_ = filter();
  offset_ = 0;
  ++filter_view_;
  read_page(true, false);
  read_figures();
}

void RecordsWindow::refresh() {
  read_page(false, true);
  read_figures();
}

void RecordsWindow::read_figures() {
  // After the page on the same thread: the list shows first.
  reader_->read_yield(current_, [this, view = filter_view_](ReadResult<YieldFigures> result) {
    if (view == filter_view_) show_figures(result);
  });
  if (!watch_->isActive()) watch_->start();
}

void RecordsWindow::show_period(TimePoint start, TimePoint end) {
  // The chart counts UTC days or weeks: the list takes the period as it is, and the date boxes
  // show its dates.
  const auto date_of = [](TimePoint time) {
    return QDateTime::fromMSecsSinceEpoch(time.time_since_epoch().count(), Qt::UTC).date();
  };
  {
    const QSignalBlocker quiet_from(chkFrom);
    const QSignalBlocker quiet_to(chkTo);
    const QSignalBlocker quiet_from_date(dtFrom);
    const QSignalBlocker quiet_to_date(dtTo);
    chkFrom->setChecked(true);
    dtFrom->setDate(date_of(start));
    chkTo->setChecked(true);
    dtTo->setDate(date_of(end - std::chrono::milliseconds{1}));
  }
  period_ = std::make_pair(start, end);
  apply_filter();
}

void RecordsWindow::next_page() {
  if (offset_ + kPageSize >= total_) return;
  offset_ += kPageSize;
  read_page(true, false);
}

void RecordsWindow::previous_page() {
  if (offset_ == 0) return;
  offset_ -= std::min(offset_, kPageSize);
  read_page(true, false);
}

void RecordsWindow::show_page(PageResult result) {
  // Another filter or page begins at its newest run; the same one read again keeps the run shown
  // when it still holds it.
  const bool again = shown_view_ == view_;
  shown_view_ = view_;
  if (result.stations) show_stations(*result.stations);
  if (!result.error.empty()) {
    // One line: a driver's text may hold line breaks.
    summary_line_ = ("The records cannot be read: " + text_of(result.error)).simplified();
    result.runs.clear();
    result.offset = 0;
  }
  offset_ = result.offset;
  const std::string chosen = again ? chosen_ : std::string();
  model_.set_runs(std::move(result.runs));
  const std::vector<RunRecord>& runs = model_.runs();
  const std::size_t shown = runs.size();
  show_page_line();
  show_reading_state();
  if (shown == 0) {
    select_row(-1);
    return;
  }
  const auto found = std::find_if(runs.begin(), runs.end(),
                                  [&chosen](const RunRecord& run) { return run.id == chosen; });
  const int row = found == runs.end() ? 0 : int(found - runs.begin());
  selecting_ = true;
  lstRuns->selectRow(row);
  selecting_ = false;
  select_row(row);
}

void RecordsWindow::show_page_line() {
  const std::size_t shown = model_.runs().size();
  // The count of runs comes with the figures, a moment after the page.
  const bool counted = shown_figures_ == filter_view_;
  QString line = shown == 0 ? QString("No runs")
                            : QString("Runs %1 - %2").arg(offset_ + 1).arg(offset_ + shown);
  if (shown > 0 && counted) line += " of " + text_of(count_text(total_));
  lblPage->setText(line);
  cmdNewer->setEnabled(offset_ > 0);
  cmdOlder->setEnabled(counted ? offset_ + kPageSize < total_ : shown == kPageSize);
}

Summary summary_of(const YieldFigures& figures) {
  Summary summary;
  summary.count = figures.total.count;
  summary.finished = figures.total.finished;
  summary.passed = figures.total.passed;
  summary.first_runs = figures.total.first_runs;
  summary.first_runs_passed = figures.total.first_runs_passed;
  for (const StationYield& station : figures.stations) {
    summary.stations.push_back(StationCounts{station.station_id, station.counts.count,
                                             station.counts.finished, station.counts.passed});
  }
  return summary;
}

void RecordsWindow::show_figures(const ReadResult<YieldFigures>& result) {
  shown_figures_ = filter_view_;
  if (!result.error.empty()) {
    // One line: a driver's text may hold line breaks.
    summary_line_ = ("The records cannot be read: " + text_of(result.error)).simplified();
    charts->show_nothing(summary_line_);
    lblHidden->hide();
    lblStations->hide();
    total_ = 0;
  } else {
    show_summary(summary_of(result.value));
    charts->show_figures(result.value);
    chkUnitSteps->setVisible(chkUnitSteps->isChecked() || result.value.unit_results > 0);
    lblHidden->setText(text_of(hidden_simulated_text(result.value.hidden_simulated)));
    lblHidden->setVisible(result.value.hidden_simulated > 0);
    // Fewer runs than the page shown begins at (runs that left the filter): the last page.
    if (offset_ > 0 && offset_ >= total_) {
      offset_ = total_ == 0 ? 0 : (total_ - 1) / kPageSize * kPageSize;
      read_page(false, false);
    }
  }
  show_page_line();
  show_reading_state();
}

void RecordsWindow::show_summary(const Summary& summary) {
  total_ = summary.count;
  summary_line_ = text_of(summary_text(summary, current_.procedure.has_value()));
  // A station id is cut as the list cuts it, whatever its length in the store.
  Summary shown = summary;
  for (StationCounts& station : shown.stations) {
    station.station_id.resize(utf8_prefix(station.station_id, kListTextLimit));
  }
  lblStations->setText(text_of(station_summary_text(shown, kStationsInLine)));
  lblStations->setToolTip(text_of(station_summary_details(shown)));
  lblStations->setVisible(!shown.stations.empty());
}

void RecordsWindow::show_stations(const std::vector<std::string>& stations) {
  const QString chosen =
      cboStation->currentIndex() > 0 ? cboStation->currentData().toString() : QString();
  // The choice stays what it was, without a new read of the list for each item.
  const QSignalBlocker quiet(cboStation);
  while (cboStation->count() > 1) cboStation->removeItem(1);
  bool chosen_listed = chosen.isEmpty();
  for (const std::string& station : stations) {
    if (station.empty()) continue;  // an empty id stands for every station in the filter
    cboStation->addItem(text_of(station), text_of(station));
    chosen_listed = chosen_listed || text_of(station) == chosen;
  }
  // A station chosen earlier that the store no longer holds stays chosen.
  if (!chosen_listed) cboStation->addItem(chosen, chosen);
  cboStation->setCurrentIndex(chosen.isEmpty() ? 0 : cboStation->findData(chosen));
}

void RecordsWindow::select_row(int row) {
  ++selection_;
  if (row < 0 || row >= int(model_.runs().size())) {
    chosen_.clear();
    show_run(std::nullopt);
    return;
  }
  // The list holds no report: the whole run is read when it is shown. The run shown stays until
  // then when it is the same one (a refresh); another run's place says it is being read.
  const std::string& id = model_.runs()[std::size_t(row)].id;
  chosen_ = id;
  if (!selected_ || selected_->id != id) {
    show_run(std::nullopt);
    txtFields->setPlaceholderText(window_text::kReadingRun);
  }
  reader_->read_run(
      id, [this, selection = selection_](std::optional<RunRecord> run, const std::string& error) {
        if (selection != selection_) return;
        txtFields->setPlaceholderText(
            error.empty() ? QString() : ("The run cannot be read: " + text_of(error)).simplified());
        show_run(run);
      });
  if (!watch_->isActive()) watch_->start();
}

void RecordsWindow::show_run(const std::optional<RunRecord>& run) {
  selected_ = run;
  lblSimulated->setVisible(run && run->simulated);
  txtFields->setPlainText(run ? text_of(fields_text(*run)) : QString());
  // Shown with its line ends as lines; the run keeps them as CR LF.
  QString report = run ? text_of(shown_report(run->report)) : QString();
  report.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  txtReport->setPlainText(report);
  cmdPrint->setEnabled(run && !run->report.empty());
}

void RecordsWindow::print_selected() {
  if (selected_ && !selected_->report.empty()) person_.print(selected_->report);
}

std::string RecordsWindow::export_to(const std::string& file, std::size_t* count) {
  auto outcome = std::make_shared<std::optional<ExportResult>>();
  reader_->export_runs(current_, file, [outcome](ExportResult result) { *outcome = result; });
  while (!*outcome) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!*outcome) std::this_thread::sleep_for(std::chrono::milliseconds{2});
  }
  if (count) *count = (*outcome)->count;
  return (*outcome)->error;
}

bool RecordsWindow::wait_for_reads(std::chrono::milliseconds most) {
  const QDeadlineTimer deadline(most);
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!reading()) return true;
    if (deadline.hasExpired()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds{2});
  }
}

void RecordsWindow::choose_export_file() {
  if (exporting_) return;
  const QString file =
      choose_file("Export Records", QString(), "CSV (*.csv);;JSON (*.json);;JUnit XML (*.xml)");
  if (file.isEmpty()) return;
  // The export runs on a thread of its own; the window goes on meanwhile.
  exporting_ = true;
  cmdExport->setEnabled(false);
  cmdExport->setText("Exporting...");
  reader_->export_runs(current_, file.toStdString(), [this, file](const ExportResult& result) {
    exporting_ = false;
    cmdExport->setEnabled(true);
    cmdExport->setText("Export...");
    if (result.error.empty()) {
      QMessageBox::information(this, window_text::kCaption,
                               "Exported " + text_of(count_text(result.count)) +
                                   (result.count == 1 ? " run to " : " runs to ") + file + ".");
    } else {
      QMessageBox::warning(this, window_text::kCaption,
                           "Nothing was exported: " + text_of(result.error));
    }
  });
}

void RecordsWindow::choose_yield_report_file() {
  if (reporting_) return;
  const QString file = choose_file("Yield Report", "yield-report.html", "HTML (*.html *.htm)");
  if (!file.isEmpty()) write_yield_report(file);
}

void RecordsWindow::write_yield_report(const QString& file) {
  if (reporting_) return;
  YieldReportHeading heading;
  heading.selection = selection_text(current_, DayClock::local);
  heading.program = program_;
  if (heading.program.empty()) {
    heading.program =
        (QCoreApplication::applicationName() + ' ' + QCoreApplication::applicationVersion())
            .trimmed()
            .toStdString();
  }
  // The figures are read and the file written on the exports' thread; the window goes on.
  reporting_ = true;
  cmdYieldReport->setEnabled(false);
  cmdYieldReport->setText("Writing...");
  reader_->write_yield_report(
      current_, std::move(heading), file.toStdString(),
      [this, file](const YieldReportResult& result) {
        reporting_ = false;
        cmdYieldReport->setEnabled(true);
        cmdYieldReport->setText("Yield Report...");
        if (result.error.empty()) {
          QMessageBox::information(this, window_text::kCaption,
                                   "Wrote the yield report of " +
                                       text_of(count_text(result.count)) +
                                       (result.count == 1 ? " run to " : " runs to ") + file + ".");
        } else {
          QMessageBox::warning(
              this, window_text::kCaption,
              "No yield report was written to " + file + ": " + text_of(result.error));
        }
      });
}

void RecordsWindow::name_controls() {
  // What each control is for, where its caption does not say it (a screen reader reads this).
  txtFilter->setAccessibleName("Serial number or technician");
  cboProcedure->setAccessibleName("Procedure");
  cboOutcome->setAccessibleName("Outcome");
  cboStation->setAccessibleName("Station");
  dtFrom->setAccessibleName("From date");
  dtTo->setAccessibleName("To date");
  lstRuns->setAccessibleName("Runs");
  cmdNewer->setAccessibleName("Newer runs");
  cmdOlder->setAccessibleName("Older runs");
  txtFields->setAccessibleName("Run fields");
  txtReport->setAccessibleName("Run report");
  make_accessible(*this);
}

UnitHistoryWindow* RecordsWindow::show_unit_history(int row) {
  if (row < 0 || row >= int(model_.runs().size())) return nullptr;
  const std::string serial = unit_serial(model_.runs()[std::size_t(row)]);
  if (serial.empty()) return nullptr;
  for (UnitHistoryWindow* open : findChildren<UnitHistoryWindow*>(Qt::FindDirectChildrenOnly)) {
    if (open->serial() == serial) {
      open->refresh();
      open->show();
      open->raise();
      open->activateWindow();
      return open;
    }
  }
  auto* history = new UnitHistoryWindow(reader_->location(), serial, this);
  history->setAttribute(Qt::WA_DeleteOnClose);
  history->show();
  return history;
}

void RecordsWindow::show_set_aside(const std::string& text) {
  lblSetAside->setText(QString::fromStdString(text));
  lblSetAside->setVisible(!text.empty());
}

}  // namespace app
