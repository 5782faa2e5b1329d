#include "app/unit_history.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHeaderView>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <set>
#include <thread>
#include <type_traits>

#include "app/accessibility.h"

namespace app {

using namespace records;

std::vector<RunRecord> unit_runs(std::vector<RunRecord> runs, const std::string& serial) {
  std::erase_if(runs, [&serial](const RunRecord& run) {
    return run.uut.serial != serial && run.top_serial != serial && run.sub_serial != serial;
  });
  std::reverse(runs.begin(), runs.end());
  return runs;
}

std::vector<UnitResult> unit_results_of(std::vector<UnitResult> results,
                                        const std::vector<RunRecord>& runs) {
  std::set<std::string> named;
  for (const RunRecord& run : runs) {
    if (!run.unit_result_id.empty()) named.insert(run.unit_result_id);
  }
  std::erase_if(results, [&named](const UnitResult& result) { return !named.contains(result.id); });
  return results;
}

namespace {

// "3 passed, 1 failed": how many of `items` ended each way, in the order `ways` lists them.
template <typename Items, typename Ways, typename WayOf>
std::string ways_text(const Items& items, const Ways& ways, WayOf way_of) {
  std::map<std::decay_t<decltype(*ways.begin())>, std::size_t> counts;
  for (const auto& item : items) ++counts[way_of(item)];
  std::string text;
  for (const auto way : ways) {
    const auto found = counts.find(way);
    if (found == counts.end()) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(found->second) + " " + std::string(text_id(way));
  }
  return text;
}

}  // namespace

std::string unit_history_text(const std::vector<RunRecord>& runs,
                              const std::vector<UnitResult>& unit_results) {
  if (runs.empty()) return "No runs of this unit";
  std::string text = std::to_string(runs.size()) + (runs.size() == 1 ? " run on " : " runs from ");
  text += local_time_text(runs.front().started).toStdString();
  if (runs.size() > 1) text += " to " + local_time_text(runs.back().started).toStdString();
  text += ": " + ways_text(runs, all_outcomes(), [](const RunRecord& run) { return run.outcome; });
  if (unit_results.empty()) return text;
  return text + "; " + std::to_string(unit_results.size()) +
         (unit_results.size() == 1 ? " unit result: " : " unit results: ") +
         ways_text(unit_results, all_unit_verdicts(),
                   [](const UnitResult& result) { return result.verdict; });
}

std::string deciding_step_text(const UnitResult& result) {
  if (!result.deciding_step && !result.deciding_procedure) return {};
  std::string text = result.deciding_step ? std::to_string(*result.deciding_step + 1) : "?";
  if (result.deciding_procedure)
    text += ": " + std::string(display_name(*result.deciding_procedure));
  return text;
}

namespace {

// A unit result's row looks as a run's with the outcome its verdict stands for.
OutcomeLook verdict_look(UnitVerdict verdict) {
  switch (verdict) {
    case UnitVerdict::fail:
      return outcome_look(Outcome::failed);
    case UnitVerdict::error:
      return outcome_look(Outcome::error);
    case UnitVerdict::interrupted:
      return outcome_look(Outcome::interrupted);
    case UnitVerdict::running:
    case UnitVerdict::pass:
      return {};
  }
  return {};
}

}  // namespace

void UnitResultListModel::set_unit_results(std::vector<UnitResult> results) {
  beginResetModel();
  results_ = std::move(results);
  endResetModel();
}

int UnitResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(results_.size());
}

int UnitResultListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant UnitResultListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(results_.size())) return {};
  const UnitResult& result = results_[std::size_t(index.row())];
  if (role == Qt::BackgroundRole || role == Qt::ForegroundRole) {
    return row_brush(verdict_look(result.verdict), role, result.simulated,
                     index.column() == Simulated);
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const auto text = [](const std::string& value) { return QString::fromStdString(value); };
  switch (index.column()) {
    case Time:
      return local_time_text(result.started);
    case Sequence:
      return text(result.sequence);
    case Verdict:
      return text(std::string(text_id(result.verdict)));
    case DecidingStep:
      return text(deciding_step_text(result));
    case Finding:
      return text(result.finding);
    case Technician:
      return text(result.technician);
    case Station:
      return text(result.station_id);
    case Simulated:
      return result.simulated ? QString(window_text::kSimulatedMark) : QString();
    default:
      return {};
  }
}

QVariant UnitResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kHeaders[kColumns] = {"Time",          "Sequence", "Verdict",
                                                 "Deciding step", "Finding",  "Technician",
                                                 "Station",       "Simulated"};
  return section >= 0 && section < kColumns ? QString(kHeaders[section]) : QVariant();
}

UnitHistoryWindow::UnitHistoryWindow(std::string location, std::string serial, QWidget* parent)
    : QWidget(parent, Qt::Window), serial_(std::move(serial)), model_(this), unit_results_(this) {
  setObjectName("UnitHistoryWindow");
  setWindowTitle(QString::fromStdString("Unit History - " + serial_));
  reader_ = std::make_unique<RecordsReader>(std::move(location), this);
  auto* layout = new QVBoxLayout(this);
  lblUnit = new QLabel(window_text::kReading, this);
  lblUnit->setObjectName("lblUnit");
  lblUnit->setTextFormat(Qt::PlainText);
  layout->addWidget(lblUnit);
  auto* splitter = new QSplitter(Qt::Vertical, this);
  lstUnitResults = new QTableView(splitter);
  lstUnitResults->setObjectName("lstUnitResults");
  lstUnitResults->setAccessibleName("Unit results of the unit, oldest first");
  lstUnitResults->setModel(&unit_results_);
  lstUnitResults->setColumnWidth(UnitResultListModel::Time, 150);
  lstUnitResults->setColumnWidth(UnitResultListModel::Sequence, 90);
  lstUnitResults->setColumnWidth(UnitResultListModel::Verdict, 60);
  lstUnitResults->setColumnWidth(UnitResultListModel::DecidingStep, 110);
  lstUnitResults->setColumnWidth(UnitResultListModel::Finding, 220);
  lstUnitResults->setColumnWidth(UnitResultListModel::Technician, 100);
  lstUnitResults->setColumnWidth(UnitResultListModel::Station, 100);
  lstUnitResults->hide();
  lstHistory = new QTableView(splitter);
  lstHistory->setObjectName("lstHistory");
  lstHistory->setAccessibleName("Runs of the unit, oldest first");
  lstHistory->setModel(&model_);
  for (QTableView* list : {lstUnitResults, lstHistory}) {
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->horizontalHeader()->setStretchLastSection(true);
  }
  lstHistory->setColumnWidth(RunListModel::Time, 150);
  lstHistory->setColumnWidth(RunListModel::ProcedureColumn, 120);
  lstHistory->setColumnWidth(RunListModel::Serial, 150);
  lstHistory->setColumnWidth(RunListModel::Technician, 130);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 2);
  layout->addWidget(splitter, 1);
  resize(1000, 420);
  make_accessible(*this);
  refresh();
}

// The reader first: a result it delivers needs the window.
UnitHistoryWindow::~UnitHistoryWindow() { reader_.reset(); }

void UnitHistoryWindow::refresh() {
  PageRequest request;
  request.filter.serial = serial_;
  request.filter.include_simulated = true;
  request.filter.limit = kMostRuns;
  request.summary = false;
  request.stations = false;
  request.unit_results = true;
  reader_->read_page(std::move(request), [this, read = ++read_](PageResult result) {
    if (read != read_) return;
    if (!result.error.empty()) {
      lblUnit->setText(
          QString::fromStdString("The runs cannot be read: " + result.error).simplified());
      model_.set_runs({});
      unit_results_.set_unit_results({});
      lstUnitResults->hide();
      return;
    }
    model_.set_runs(unit_runs(std::move(result.runs), serial_));
    unit_results_.set_unit_results(unit_results_of(std::move(result.unit_results), model_.runs()));
    lstUnitResults->setVisible(!unit_results_.unit_results().empty());
    lblUnit->setText(
        QString::fromStdString(unit_history_text(model_.runs(), unit_results_.unit_results())));
  });
}

bool UnitHistoryWindow::wait_for_reads(std::chrono::milliseconds most) {
  const QDeadlineTimer deadline(most);
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (reader_->idle()) return true;
    if (deadline.hasExpired()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds{2});
  }
}

}  // namespace app
