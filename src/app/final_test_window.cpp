#include "app/final_test_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>

#include "app/accessibility.h"
#include "app/display_form.h"
#include "app/module_search.h"
#include "app/module_text.h"
#include "app/report_printing.h"
#include "core/procedure_table.h"

namespace app {
namespace {

constexpr const char* kTitle = "Final Test";
constexpr const char* kTechnicianKey = "finalTest/technician";
constexpr const char* kUutKey = "finalTest/uut";
constexpr const char* kQcuKey = "finalTest/qcu";
constexpr int kProgressUnits = 1000;

template <class Control>
Control* named(Control* control, const char* object_name, const QString& accessible_name) {
  control->setObjectName(object_name);
  control->setAccessibleName(accessible_name);
  return control;
}

QLabel* caption(QWidget* parent, const char* object_name, const QString& text, QWidget* buddy) {
  auto* label = named(new QLabel(text, parent), object_name, text);
  label->setBuddy(buddy);
  return label;
}

QString caption_of(core::ProcedureKind kind) {
  return QString::fromUtf8(core::procedure_row(kind).caption);
}

QString verdict_word(procedures::Verdict verdict) {
  const std::string_view text = procedures::verdict_text(verdict);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// "about 3 min 05 s", "about 40 s".
QString minutes_text(std::chrono::milliseconds left) {
  const long long seconds = (left.count() + 999) / 1000;
  if (seconds < 60) return QStringLiteral("about %1 s").arg(seconds);
  return QStringLiteral("about %1 min %2 s")
      .arg(seconds / 60)
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Sets a label's text, its accessible name saying what it shows.
void show_text(QLabel* label, const QString& name, const QString& text) {
  label->setText(text);
  label->setAccessibleName(text.isEmpty() ? name : name + QStringLiteral(": ") + text);
}

}  // namespace

FinalTestWindow::FinalTestWindow(core::Station& station, procedures::ProductionTests& production,
                                 Options options, QWidget* parent)
    : QWidget(parent, Qt::Window),
      station_(station),
      options_(std::move(options)),
      settings_(options_.settings_file.isEmpty()
                    ? std::make_unique<QSettings>()
                    : std::make_unique<QSettings>(options_.settings_file, QSettings::IniFormat)),
      runner_(station, production, *this) {
  setObjectName("FinalTestWindow");
  setWindowTitle(kTitle);
  build();
  txtTechnician->setText(settings_->value(kTechnicianKey).toString());
  show_steps(options_.sequence);
  set_running(false);
  make_accessible(*this);
}

FinalTestWindow::~FinalTestWindow() = default;

void FinalTestWindow::build() {
  txtTechnician = named(new QLineEdit(this), "txtTechnician", "Technician Name");
  txtTopSerial = named(new QLineEdit(this), "txtTopSerial", "Top Assy S/N");
  txtSubSerial = named(new QLineEdit(this), "txtSubSerial", "Sub Assy S/N");
  for (QLineEdit* box : {txtTechnician, txtTopSerial, txtSubSerial}) {
    box->setMaxLength(kOperatorFieldLength);
  }
  cboUut = named(new QComboBox(this), "cboUut", "UUT");
  cboQcu = named(new QComboBox(this), "cboQcu", "QCU");
  for (QComboBox* box : {cboUut, cboQcu}) box->setMinimumContentsLength(28);
  lblTechnician = caption(this, "lblTechnician", "Technician Name", txtTechnician);
  lblTopSerial = caption(this, "lblTopSerial", "Top Assy S/N", txtTopSerial);
  lblSubSerial = caption(this, "lblSubSerial", "Sub Assy S/N", txtSubSerial);
  lblUut = caption(this, "lblUut", "UUT", cboUut);
  lblQcu = caption(this, "lblQcu", "QCU", cboQcu);
  cmdSearch = named(new QPushButton("Search Modules", this), "cmdSearch", "Search Modules");
  cmdStart = named(new QPushButton("START", this), "cmdStart", "START");
  cmdStop = named(new QPushButton("STOP", this), "cmdStop", "STOP");
  cmdPrint = named(new QPushButton("Print Report", this), "cmdPrint", "Print Report");
  for (QPushButton* button : {cmdStart, cmdStop}) {
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    button->setFont(font);
    button->setMinimumHeight(button->sizeHint().height() * 3 / 2);
  }
  // Enter (a scanner ends what it types with one) goes on to the next box; in the last, starts.
  cmdStart->setAutoDefault(false);
  lblMessage = named(new QLabel(this), "lblMessage", "Message");
  lblMessage->setWordWrap(true);
  lblMessage->setStyleSheet("QLabel { color: #b00000; }");

  tblSteps = named(new QTableWidget(0, 3, this), "tblSteps", "Steps");
  tblSteps->setHorizontalHeaderLabels({"Step", "State", "Duration"});
  tblSteps->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblSteps->setSelectionMode(QAbstractItemView::NoSelection);
  tblSteps->setFocusPolicy(Qt::NoFocus);
  tblSteps->verticalHeader()->setVisible(false);
  tblSteps->verticalHeader()->setDefaultSectionSize(tblSteps->fontMetrics().height() + 8);
  tblSteps->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  tblSteps->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  tblSteps->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  lblRunning = named(new QLabel(this), "lblRunning", "Running step");
  prgStep = named(new QProgressBar(this), "prgStep", "Step progress");
  prgStep->setRange(0, kProgressUnits);
  prgStep->setValue(0);
  prgStep->setTextVisible(false);
  lblTimeLeft = named(new QLabel(this), "lblTimeLeft", "Time left");

  lblVerdict = named(new QLabel(this), "lblVerdict", "Verdict");
  lblVerdict->setAlignment(Qt::AlignCenter);
  {
    QFont font = lblVerdict->font();
    font.setPointSize(40);
    font.setBold(true);
    lblVerdict->setFont(font);
    lblVerdict->setMinimumHeight(QFontMetrics(font).height() * 3 / 2);
  }
  lblFinding = named(new QLabel(this), "lblFinding", "Finding");
  lblFinding->setWordWrap(true);
  {
    QFont font = lblFinding->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    font.setBold(true);
    lblFinding->setFont(font);
  }
  lblReport = named(new QLabel(this), "lblReport", "Report file");
  lblReport->setWordWrap(true);
  lblReport->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* unit = new QGridLayout;
  unit->addWidget(lblTopSerial, 0, 0);
  unit->addWidget(txtTopSerial, 0, 1);
  unit->addWidget(lblSubSerial, 1, 0);
  unit->addWidget(txtSubSerial, 1, 1);
  unit->addWidget(lblTechnician, 2, 0);
  unit->addWidget(txtTechnician, 2, 1);
  unit->addWidget(lblUut, 0, 2);
  unit->addWidget(cboUut, 0, 3);
  unit->addWidget(lblQcu, 1, 2);
  unit->addWidget(cboQcu, 1, 3);
  unit->addWidget(cmdSearch, 2, 3);
  unit->setColumnStretch(1, 1);
  unit->setColumnStretch(3, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdStart, 2);
  buttons->addWidget(cmdStop, 1);
  buttons->addStretch(1);
  buttons->addWidget(cmdPrint);

  auto* progress = new QHBoxLayout;
  progress->addWidget(lblRunning, 1);
  progress->addWidget(prgStep, 2);
  progress->addWidget(lblTimeLeft, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(unit);
  layout->addWidget(lblMessage);
  layout->addLayout(buttons);
  layout->addWidget(tblSteps, 1);
  layout->addLayout(progress);
  layout->addWidget(lblVerdict);
  layout->addWidget(lblFinding);
  layout->addWidget(lblReport);
  setTabOrder(txtTopSerial, txtSubSerial);
  setTabOrder(txtSubSerial, txtTechnician);
  resize(760, sizeHint().height());

  connect(txtTopSerial, &QLineEdit::returnPressed, this, [this] { txtSubSerial->setFocus(); });
  connect(txtSubSerial, &QLineEdit::returnPressed, this, [this] { txtTechnician->setFocus(); });
  connect(txtTechnician, &QLineEdit::returnPressed, this, [this] { start(); });
  connect(cmdStart, &QPushButton::clicked, this, [this] { start(); });
  connect(cmdStop, &QPushButton::clicked, this, [this] { runner_.request_stop(); });
  connect(cmdSearch, &QPushButton::clicked, this, [this] { search_modules(); });
  connect(cmdPrint, &QPushButton::clicked, this, [this] { print_last(); });
}

void FinalTestWindow::show_steps(const procedures::Sequence& sequence) {
  tblSteps->setRowCount(static_cast<int>(sequence.steps.size()));
  // Every step in view at once (the default sequence's twelve, say), a long sequence scrolled.
  const int rows = std::min(tblSteps->rowCount(), 16);
  tblSteps->setMinimumHeight(tblSteps->horizontalHeader()->sizeHint().height() +
                             rows * tblSteps->verticalHeader()->defaultSectionSize() +
                             2 * tblSteps->frameWidth());
  for (std::size_t i = 0; i < sequence.steps.size(); ++i) {
    procedures::StepResult waiting;
    waiting.kind = sequence.steps[i];
    step_changed(i, waiting);
  }
}

void FinalTestWindow::search_modules() {
  // A search opens and closes sessions: never in the middle of a procedure's traffic.
  if (runner_.running() || station_.procedure.running) return;
  searched_ = true;
  const ModuleSearch search = find_quor_modules(station_.visa);
  const QString uut = cboUut->currentIndex() >= 0 ? cboUut->currentData().toString()
                                                  : settings_->value(kUutKey).toString();
  const QString qcu = cboQcu->currentIndex() >= 0 ? cboQcu->currentData().toString()
                                                  : settings_->value(kQcuKey).toString();
  for (QComboBox* box : {cboUut, cboQcu}) {
    box->clear();
    for (const FoundModule& module : search.modules) {
      box->addItem(QStringLiteral("%1 (LA %2, slot %3)")
                       .arg(QString::fromStdString(module.resource))
                       .arg(module.logical_address)
                       .arg(module.slot),
                   QString::fromStdString(module.resource));
    }
  }
  // The last choice where it is still found, else the first module as UUT and the next as QCU.
  const int uut_index = cboUut->findData(uut);
  cboUut->setCurrentIndex(uut_index >= 0 ? uut_index : (cboUut->count() > 0 ? 0 : -1));
  const int qcu_index = cboQcu->findData(qcu);
  cboQcu->setCurrentIndex(qcu_index >= 0 ? qcu_index : std::min(1, cboQcu->count() - 1));
  if (!search.error.empty()) {
    say(QString::fromStdString(search.error));
  } else if (search.modules.empty()) {
    say(QStringLiteral("No Quor Bus module was found."));
  } else {
    say({});
  }
}

void FinalTestWindow::say(const QString& text) { show_text(lblMessage, "Message", text); }

void FinalTestWindow::remember_choices() {
  settings_->setValue(kTechnicianKey, txtTechnician->text().trimmed());
  settings_->setValue(kUutKey, cboUut->currentData().toString());
  settings_->setValue(kQcuKey, cboQcu->currentData().toString());
}

void FinalTestWindow::start() {
  if (runner_.running()) return;
  const auto missing = [this](QLineEdit* box, const QString& text) {
    say(text);
    box->setFocus();
  };
  if (txtTopSerial->text().trimmed().isEmpty()) {
    return missing(txtTopSerial, QStringLiteral("Enter or scan the Top Assy S/N."));
  }
  if (txtTechnician->text().trimmed().isEmpty()) {
    return missing(txtTechnician, QStringLiteral("Enter the Technician Name."));
  }
  if (cboUut->currentIndex() < 0) {
    return say(QStringLiteral("No Quor Bus module to test: connect one and search again."));
  }
  const bool needs_qcu =
      std::any_of(options_.sequence.steps.begin(), options_.sequence.steps.end(),
                  [](core::ProcedureKind kind) { return core::procedure_row(kind).uses_qcu; });
  if (needs_qcu && (cboQcu->currentIndex() < 0 ||
                    cboQcu->currentData().toString() == cboUut->currentData().toString())) {
    return say(QStringLiteral("Choose a QCU other than the UUT."));
  }
  say({});
  remember_choices();

  procedures::UnitUnderTest unit;
  unit.top_serial = txtTopSerial->text().trimmed().toStdString();
  unit.sub_serial = txtSubSerial->text().trimmed().toStdString();
  unit.technician = txtTechnician->text().trimmed().toStdString();
  unit.uut_resource = cboUut->currentData().toString().toStdString();
  unit.qcu_resource = needs_qcu ? cboQcu->currentData().toString().toStdString() : std::string();

  clear_verdict();
  show_steps(options_.sequence);
  set_running(true);
  // The steps pump the window's events while they run, as from the console: STOP is heard.
  procedures::FinalTestResult result = runner_.run(unit, options_.sequence);
  set_running(false);
  show_verdict(result);
  last_ = std::move(result);
  cmdPrint->setEnabled(true);
  file_report(*last_);
  // The next unit.
  txtTopSerial->clear();
  txtSubSerial->clear();
  txtTopSerial->setFocus();
}

void FinalTestWindow::set_running(bool running) {
  for (QWidget* control : std::initializer_list<QWidget*>{txtTechnician, txtTopSerial, txtSubSerial,
                                                          cboUut, cboQcu, cmdSearch, cmdStart}) {
    control->setEnabled(!running);
  }
  cmdStop->setEnabled(running);
  cmdPrint->setEnabled(!running && last_.has_value());
  prgStep->setVisible(running);
  if (!running) {
    show_text(lblRunning, "Running step", {});
    prgStep->setValue(0);
  }
}

void FinalTestWindow::clear_verdict() {
  show_text(lblVerdict, "Verdict", {});
  lblVerdict->setStyleSheet({});
  show_text(lblFinding, "Finding", {});
  show_text(lblReport, "Report file", {});
  show_text(lblTimeLeft, "Time left", {});
}

void FinalTestWindow::show_verdict(const procedures::FinalTestResult& result) {
  const procedures::UnitVerdict& verdict = result.verdict;
  show_text(lblVerdict, "Verdict", verdict_word(verdict.verdict));
  lblVerdict->setStyleSheet(
      QStringLiteral("QLabel { background: %1; color: white; border-radius: 6px; }")
          .arg(verdict_colour(verdict.verdict).name()));
  QString finding;
  if (verdict.verdict == procedures::Verdict::pass) {
    finding = QStringLiteral("All %1 steps passed.").arg(result.steps.size());
  } else {
    if (verdict.step && *verdict.step < result.steps.size()) {
      finding = caption_of(result.steps[*verdict.step].kind) + QStringLiteral(": ");
    }
    finding += module_text(verdict.finding);
  }
  show_text(lblFinding, "Finding", finding);
  show_text(lblTimeLeft, "Time left", {});
}

void FinalTestWindow::file_report(const procedures::FinalTestResult& result) {
  if (options_.reports_folder.empty()) return;
  UnitReportFacts facts{result, options_.station};
  const std::string path = default_unit_report_path(options_.reports_folder, result);
  ++reports_pending_;
  show_text(lblReport, "Report file", QStringLiteral("Writing the report..."));
  // Laying out thousands of report lines and writing them is no work for the window thread.
  QPointer<FinalTestWindow> window(this);
  QThreadPool::globalInstance()->start([facts = std::move(facts), path, window] {
    const std::string error = write_unit_report_pdf(facts, path);
    // Told through the application: the window may be gone by now.
    QMetaObject::invokeMethod(
        qApp,
        [window, error, path] {
          if (!window) return;
          --window->reports_pending_;
          window->report_error_ = QString::fromStdString(error);
          window->report_path_ = error.empty() ? QString::fromStdString(path) : QString();
          show_text(
              window->lblReport, "Report file",
              error.empty()
                  ? QStringLiteral("Report: %1").arg(window->report_path_)
                  : QStringLiteral("The report was not written. %1").arg(window->report_error_));
        },
        Qt::QueuedConnection);
  });
}

void FinalTestWindow::print_last() {
  if (!last_) return;
  UnitReportFacts facts{*last_, options_.station};
  const QString file =
      QFileInfo(QString::fromStdString(default_unit_report_path(options_.reports_folder, *last_)))
          .fileName();
  print_report(
      this, [facts] { return unit_report_document(facts); }, file);
}

bool FinalTestWindow::accept_serial_mismatch(const std::string& entered,
                                             const std::string& reported) {
  QMessageBox box(QMessageBox::Warning, kTitle,
                  QStringLiteral("The Top Assy S/N entered (%1) is not the serial number the UUT "
                                 "gives (%2).")
                      .arg(QString::fromStdString(entered), module_text(reported)),
                  QMessageBox::NoButton, this);
  box.setObjectName("serialMismatchBox");
  box.setInformativeText(QStringLiteral("Test this unit all the same?"));
  QPushButton* go_on = box.addButton(QStringLiteral("Test It"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Do Not Test"), QMessageBox::RejectRole);
  box.setDefaultButton(cancel);
  box.exec();
  return box.clickedButton() == go_on;
}

bool FinalTestWindow::confirm_cabling(const std::string& prompt) {
  QMessageBox box(QMessageBox::Information, kTitle, module_text(prompt),
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setObjectName("cablingBox");
  box.setInformativeText(QStringLiteral("Press OK when the cables are connected."));
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

void FinalTestWindow::step_changed(std::size_t index, const procedures::StepResult& step) {
  const int row = static_cast<int>(index);
  if (row >= tblSteps->rowCount()) return;
  auto* name = new QTableWidgetItem(caption_of(step.kind));
  auto* state = new QTableWidgetItem(step_state_text(step.state));
  const QColor colour = state_colour(step.state);
  if (colour.isValid()) state->setForeground(colour);
  if (step.state != procedures::StepState::waiting) {
    QFont font = state->font();
    font.setBold(true);
    state->setFont(font);
  }
  auto* duration = new QTableWidgetItem(step.state == procedures::StepState::waiting ||
                                                step.state == procedures::StepState::running
                                            ? QString()
                                            : duration_text(step.duration));
  duration->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  tblSteps->setItem(row, 0, name);
  tblSteps->setItem(row, 1, state);
  tblSteps->setItem(row, 2, duration);
  if (step.state == procedures::StepState::running) {
    show_text(lblRunning, "Running step", caption_of(step.kind));
    prgStep->setValue(0);
    tblSteps->scrollToItem(name);
  }
}

void FinalTestWindow::step_progress(std::size_t /*index*/, double value, double maximum) {
  if (!(maximum > 0)) return;
  const double share = std::clamp(value / maximum, 0.0, 1.0);
  prgStep->setValue(static_cast<int>(share * kProgressUnits));
}

void FinalTestWindow::time_left(std::optional<std::chrono::milliseconds> left) {
  if (!runner_.running()) return;
  show_text(lblTimeLeft, "Time left",
            left ? QStringLiteral("Time left: ") + minutes_text(*left)
                 : QStringLiteral("Time left: not known yet"));
}

void FinalTestWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!searched_) search_modules();
  (txtTechnician->text().isEmpty() ? txtTechnician : txtTopSerial)->setFocus();
}

void FinalTestWindow::closeEvent(QCloseEvent* event) {
  // A unit under test is not left half tested by a stray close: STOP ends it first.
  if (runner_.running()) {
    runner_.request_stop();
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace app
