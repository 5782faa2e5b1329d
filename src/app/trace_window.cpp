#include "app/trace_window.h"

#include <QBrush>
#include <QColor>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/accessibility.h"

namespace app {
namespace {

constexpr int kRefreshMs = 250;
constexpr visa::VisaFunction kFunctions[] = {
    visa::VisaFunction::OpenDefaultRM, visa::VisaFunction::FindRsrc,
    visa::VisaFunction::FindNext,      visa::VisaFunction::Open,
    visa::VisaFunction::Close,         visa::VisaFunction::GetAttribute,
    visa::VisaFunction::SetAttribute,  visa::VisaFunction::Write,
    visa::VisaFunction::Read,          visa::VisaFunction::StatusDesc,
    visa::VisaFunction::In16,          visa::VisaFunction::Out16,
    visa::VisaFunction::MoveIn16,      visa::VisaFunction::MoveOut16,
};

QString hex_handle(visa::ViObject object) {
  return QStringLiteral("0x%1").arg(object, 8, 16, QLatin1Char('0')).toUpper().replace("0X", "0x");
}

bool passes(const visa::VisaCall& call, const TraceTableModel::Filter& filter) {
  if (filter.errors_only && call.status >= visa::VI_SUCCESS) return false;
  if (filter.session != 0 && call.object != filter.session) return false;
  return filter.function < 0 || static_cast<int>(call.function) == filter.function;
}

}  // namespace

TraceTableModel::TraceTableModel(const TraceRing& ring, visa::StatusDescriber describe,
                                 QObject* parent)
    : QAbstractTableModel(parent), ring_(ring), describe_(std::move(describe)) {}

void TraceTableModel::refresh(const Filter& filter) {
  beginResetModel();
  rows_.clear();
  const std::size_t size = ring_.size();
  rows_.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    if (passes(ring_.at(i), filter)) rows_.push_back(i);
  }
  endResetModel();
}

int TraceTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TraceTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant TraceTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const visa::VisaCall& call = call_at(index.row());
  const bool error = call.status < visa::VI_SUCCESS;
  if (role == Qt::BackgroundRole) return error ? QBrush(QColor(255, 200, 200)) : QVariant();
  if (role == Qt::ForegroundRole) return error ? QBrush(QColor(150, 0, 0)) : QVariant();
  if (role == Qt::ToolTipRole && index.column() == Status && describe_) {
    return QString::fromStdString(describe_(call.status));
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case Time:
      return QString::fromStdString(clock_.time_of_day(call.start));
    case Function: {
      QString name = visa::function_name(call.function);
      if (call.count > 1) name += QStringLiteral(" x%1").arg(call.count);
      return name;
    }
    case Session:
      return hex_handle(call.object);
    case Unit:
      return unit_of(call.object);
    case Resource:
      return QString::fromStdString(ring_.object_name(call.object));
    case Arguments:
      return QString::fromStdString(visa::describe_arguments(call) + visa::describe_outcome(call));
    case Status:
      return QString::fromStdString(visa::status_name(call.status));
    case Duration:
      return QStringLiteral("%1 us").arg(static_cast<double>(call.duration.count()) / 1000.0, 0,
                                         'f', 1);
    default:
      return {};
  }
}

QString TraceTableModel::unit_of(visa::ViObject object) const {
  const auto found = units_.find(object);
  return found == units_.end() ? QString() : found->second;
}

QVariant TraceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kHeaders[] = {"Time",     "Function",  "Session", "Unit",
                                         "Resource", "Arguments", "Status",  "Duration"};
  return section >= 0 && section < ColumnCount ? QString(kHeaders[section]) : QVariant();
}

TraceWindow::TraceWindow(visa::TraceSinks& sinks, visa::StatusDescriber describe,
                         const core::Station* station, QWidget* parent)
    : QWidget(parent, Qt::Window),
      sinks_(sinks),
      describe_(std::move(describe)),
      station_(station) {
  setObjectName("frmTrace");
  setWindowTitle("VISA Trace");
  resize(1120, 600);

  cboSession = new QComboBox(this);
  cboSession->setObjectName("cboSession");
  cboSession->addItem("All sessions", QVariant::fromValue<qulonglong>(0));
  cboFunction = new QComboBox(this);
  cboFunction->setObjectName("cboFunction");
  cboFunction->addItem("All functions", -1);
  for (visa::VisaFunction function : kFunctions) {
    cboFunction->addItem(visa::function_name(function), static_cast<int>(function));
  }
  chkErrorsOnly = new QCheckBox("Errors only", this);
  chkErrorsOnly->setObjectName("chkErrorsOnly");
  cmdPause = new QPushButton("Pause", this);
  cmdPause->setObjectName("cmdPause");
  cmdPause->setCheckable(true);
  cmdSave = new QPushButton("Save...", this);
  cmdSave->setObjectName("cmdSave");
  cmdClear = new QPushButton("Clear", this);
  cmdClear->setObjectName("cmdClear");
  lblCount = new QLabel(this);
  lblCount->setObjectName("lblCount");

  model_ = new TraceTableModel(ring_, describe_, this);
  tblCalls = new QTableView(this);
  tblCalls->setObjectName("tblCalls");
  tblCalls->setModel(model_);
  tblCalls->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblCalls->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblCalls->verticalHeader()->hide();
  tblCalls->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  tblCalls->horizontalHeader()->setStretchLastSection(false);
  tblCalls->setWordWrap(false);
  const int widths[] = {120, 110, 90, 50, 120, 400, 140, 80};
  for (int column = 0; column < TraceTableModel::ColumnCount; ++column) {
    tblCalls->setColumnWidth(column, widths[column]);
  }

  auto* filters = new QHBoxLayout;
  auto* lblSession = new QLabel("Session:", this);
  lblSession->setObjectName("lblSession");
  lblSession->setBuddy(cboSession);
  auto* lblFunction = new QLabel("Function:", this);
  lblFunction->setObjectName("lblFunction");
  lblFunction->setBuddy(cboFunction);
  filters->addWidget(lblSession);
  filters->addWidget(cboSession);
  filters->addWidget(lblFunction);
  filters->addWidget(cboFunction);
  filters->addWidget(chkErrorsOnly);
  filters->addStretch(1);
  filters->addWidget(lblCount);
  filters->addWidget(cmdPause);
  filters->addWidget(cmdClear);
  filters->addWidget(cmdSave);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(tblCalls, 1);

  const auto refilter = [this] {
    shown_total_ = ~std::uint64_t{0};
    refresh();
  };
  connect(cboSession, &QComboBox::currentIndexChanged, this, refilter);
  connect(cboFunction, &QComboBox::currentIndexChanged, this, refilter);
  connect(chkErrorsOnly, &QCheckBox::toggled, this, refilter);
  connect(cmdPause, &QPushButton::toggled, this, [this](bool paused) {
    cmdPause->setText(paused ? "Resume" : "Pause");
    update_recording();
    refresh();
  });
  connect(cmdClear, &QPushButton::clicked, this, [this, refilter] {
    ring_.clear();
    refilter();
  });
  connect(cmdSave, &QPushButton::clicked, this, [this] {
    const QString path =
        QFileDialog::getSaveFileName(this, "Save the trace", "visa_trace.txt", "Text (*.txt)");
    if (!path.isEmpty()) save_to(path);
  });
  refresh_timer_.setInterval(kRefreshMs);
  connect(&refresh_timer_, &QTimer::timeout, this, [this] { refresh(); });
  refresh();
  make_accessible(*this);
}

TraceWindow::~TraceWindow() { sinks_.remove(&ring_); }

TraceTableModel::Filter TraceWindow::filter() const {
  TraceTableModel::Filter chosen;
  chosen.session = static_cast<visa::ViObject>(cboSession->currentData().toULongLong());
  chosen.function = cboFunction->currentData().toInt();
  chosen.errors_only = chkErrorsOnly->isChecked();
  return chosen;
}

// What the station holds open, which the ring may not have seen opened (a unit initialized
// before the window was opened).
void TraceWindow::learn_units() {
  if (station_ == nullptr) return;
  const driver::DriverState& driver = station_->driver_state;
  ring_.name_object(driver.default_rm, "resource-manager");
  for (const auto& [session, manager] : driver.init_managers) {
    ring_.name_object(manager, "resource-manager");
  }
  std::unordered_map<visa::ViObject, QString> marks;
  const core::UnitState& units = station_->units;
  for (const auto& [unit, mark] : {std::pair{&units.uut, "UUT"}, std::pair{&units.qcu, "QCU"}}) {
    if (unit->session == 0) continue;
    ring_.name_object(unit->session, unit->resource);
    marks[unit->session] = QString::fromLatin1(mark);
  }
  model_->set_units(std::move(marks));
}

void TraceWindow::update_sessions() {
  for (const auto& [object, name] : ring_.object_names()) {
    const QVariant key = QVariant::fromValue<qulonglong>(object);
    QString text = hex_handle(object) + " " + QString::fromStdString(name);
    if (const QString unit = model_->unit_of(object); !unit.isEmpty()) text += " (" + unit + ")";
    const int entry = cboSession->findData(key);
    if (entry < 0) {
      cboSession->addItem(text, key);
    } else if (cboSession->itemText(entry) != text) {
      cboSession->setItemText(entry, text);
    }
  }
}

void TraceWindow::refresh() {
  learn_units();
  if (ring_.total() == shown_total_) return;
  shown_total_ = ring_.total();
  QScrollBar* bar = tblCalls->verticalScrollBar();
  const bool at_end = bar->value() == bar->maximum();
  {
    const QSignalBlocker blocker(cboSession);
    update_sessions();
  }
  model_->refresh(filter());
  if (at_end) tblCalls->scrollToBottom();
  lblCount->setText(QStringLiteral("%1 of %2 calls%3")
                        .arg(model_->rowCount())
                        .arg(ring_.size())
                        .arg(cmdPause->isChecked() ? ", paused" : ""));
}

bool TraceWindow::save_to(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  visa::TraceFormatter formatter(describe_);
  for (const auto& [object, name] : ring_.object_names()) formatter.name_object(object, name);
  for (int row = 0; row < model_->rowCount(); ++row) {
    const std::string& line = formatter.line(model_->call_at(row));
    if (file.write(line.data(), static_cast<qint64>(line.size())) < 0) return false;
  }
  return file.flush();
}

void TraceWindow::update_recording() {
  if (isVisible() && !cmdPause->isChecked()) {
    sinks_.add(&ring_);
    refresh_timer_.start();
  } else {
    sinks_.remove(&ring_);
    refresh_timer_.stop();
  }
}

void TraceWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  update_recording();
}

void TraceWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  update_recording();
}

}  // namespace app
