#include "app/unit_history.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <thread>

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

std::string unit_history_text(const std::vector<RunRecord>& runs) {
  if (runs.empty()) return "No runs of this unit";
  std::string text = std::to_string(runs.size()) + (runs.size() == 1 ? " run on " : " runs from ");
  text += local_time_text(runs.front().started).toStdString();
  if (runs.size() > 1) text += " to " + local_time_text(runs.back().started).toStdString();
  std::map<Outcome, std::size_t> counts;
  for (const RunRecord& run : runs) ++counts[run.outcome];
  std::string outcomes;
  for (Outcome outcome : all_outcomes()) {
    const auto found = counts.find(outcome);
    if (found == counts.end()) continue;
    if (!outcomes.empty()) outcomes += ", ";
    outcomes += std::to_string(found->second) + " " + std::string(text_id(outcome));
  }
  return text + ": " + outcomes;
}

UnitHistoryWindow::UnitHistoryWindow(std::string location, std::string serial, QWidget* parent)
    : QWidget(parent, Qt::Window), serial_(std::move(serial)), model_(this) {
  setObjectName("UnitHistoryWindow");
  setWindowTitle(QString::fromStdString("Unit History - " + serial_));
  reader_ = std::make_unique<RecordsReader>(std::move(location), this);
  auto* layout = new QVBoxLayout(this);
  lblUnit = new QLabel(window_text::kReading, this);
  lblUnit->setObjectName("lblUnit");
  lblUnit->setTextFormat(Qt::PlainText);
  layout->addWidget(lblUnit);
  lstHistory = new QTableView(this);
  lstHistory->setObjectName("lstHistory");
  lstHistory->setAccessibleName("Runs of the unit, oldest first");
  lstHistory->setModel(&model_);
  lstHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
  lstHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lstHistory->verticalHeader()->hide();
  lstHistory->verticalHeader()->setDefaultSectionSize(lstHistory->fontMetrics().height() + 6);
  lstHistory->horizontalHeader()->setStretchLastSection(true);
  lstHistory->setColumnWidth(RunListModel::Time, 150);
  lstHistory->setColumnWidth(RunListModel::ProcedureColumn, 120);
  lstHistory->setColumnWidth(RunListModel::Serial, 150);
  lstHistory->setColumnWidth(RunListModel::Technician, 130);
  layout->addWidget(lstHistory, 1);
  resize(900, 400);
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
  reader_->read_page(std::move(request), [this, read = ++read_](PageResult result) {
    if (read != read_) return;
    if (!result.error.empty()) {
      lblUnit->setText(
          QString::fromStdString("The runs cannot be read: " + result.error).simplified());
      model_.set_runs({});
      return;
    }
    model_.set_runs(unit_runs(std::move(result.runs), serial_));
    lblUnit->setText(QString::fromStdString(unit_history_text(model_.runs())));
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
