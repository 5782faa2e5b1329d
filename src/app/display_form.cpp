#include "app/display_form.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QStatusBar>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValidator>

#include "app/accessibility.h"
#include "app/module_text.h"
#include "app/twips.h"
#include "app/unit_initialization.h"

namespace app {
namespace {

constexpr int kClientWidthTwips = 8655;
constexpr int kClientHeightTwips = 6795;
constexpr int kDesignLeftTwips = 1980;
constexpr int kDesignTopTwips = 1350;

QLabel* make_label(QWidget* parent, const char* name, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QLineEdit* make_text_box(QWidget* parent, const char* name) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  return box;
}

// Refuses any control character: a NUL or a line end pasted into a field would reach the records.
class NoControlCharacters final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& /*position*/) const override {
    for (const QChar c : input) {
      if (c.category() == QChar::Other_Control) return Invalid;
    }
    return Acceptable;
  }
};

QPushButton* make_button(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  return button;
}

// A small instrument-panel icon for the window.
QIcon window_icon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(0, 70, 140));
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(2, 2, 28, 28, 5, 5);
  painter.setPen(QPen(Qt::white, 2));
  painter.drawLine(6, 20, 12, 20);
  painter.drawLine(12, 20, 12, 10);
  painter.drawLine(12, 10, 20, 10);
  painter.drawLine(20, 10, 20, 20);
  painter.drawLine(20, 20, 26, 20);
  return QIcon(pixmap);
}

}  // namespace

QString operator_field_limit_text(const QString& field_caption) {
  return QStringLiteral("%1 takes at most %2 characters and no control characters.")
      .arg(field_caption)
      .arg(kOperatorFieldLength);
}

DisplayForm::DisplayForm(core::Station& station, QWidget* parent)
    : QMainWindow(parent), station_(station) {
  setObjectName("DisplayForm");
  setWindowTitle(display_text::kCaption);
  setWindowIcon(window_icon());
  build_menu();
  build_controls();
  build_status_line();
  initialization_ = std::make_unique<UnitInitialization>(station_, *this);
  station_.driver.set_step_display(this);
  move(twips_to_pixels(kDesignLeftTwips), twips_to_pixels(kDesignTopTwips));
  make_accessible(*this);
  startup();
}

DisplayForm::~DisplayForm() {
  // The program can end without a close event (a quit from the desktop session, say): the
  // modules are released all the same.
  shutdown();
  station_.driver.set_step_display(nullptr);
}

void DisplayForm::build_menu() {
  QMenuBar* bar = menuBar();
  Instrument = bar->addMenu("Instrument");
  Instrument->setObjectName("Instrument");
  const auto caption = [](core::ProcedureKind kind) {
    return QString::fromUtf8(core::procedure_row(kind).caption);
  };
  Init_ALL = Instrument->addAction(caption(core::ProcedureKind::initialize_all));
  Init_ALL->setObjectName("Init_ALL");
  Init_UUT = Instrument->addAction(caption(core::ProcedureKind::initialize_uut));
  Init_UUT->setObjectName("Init_UUT");
  Init_QA = Instrument->addAction(caption(core::ProcedureKind::initialize_qcu));
  Init_QA->setObjectName("Init_QA");
  mnuNonVol = bar->addAction(caption(core::ProcedureKind::load_non_vol));
  mnuNonVol->setObjectName("mnuNonVol");
  mnuTest = bar->addAction("Main Testing");
  mnuTest->setObjectName("mnuTest");
  // The engineer's windows, after the technician's menu.
  mnuRecords = bar->addAction("Records");
  mnuRecords->setObjectName("mnuRecords");
  mnuTrace = bar->addAction("Trace");
  mnuTrace->setObjectName("mnuTrace");
  mnuFinalTest = bar->addAction("Final Test");
  mnuFinalTest->setObjectName("mnuFinalTest");

  connect(Init_ALL, &QAction::triggered, this, [this] { initialization_->initialize_all(); });
  connect(Init_UUT, &QAction::triggered, this, [this] { initialization_->initialize_uut(); });
  connect(Init_QA, &QAction::triggered, this, [this] { initialization_->initialize_qcu(); });
  connect(mnuNonVol, &QAction::triggered, this, [this] {
    if (handlers_.load_non_vol) handlers_.load_non_vol();
  });
  connect(mnuTest, &QAction::triggered, this, [this] {
    if (handlers_.main_testing) handlers_.main_testing();
  });
  connect(mnuRecords, &QAction::triggered, this, [this] {
    if (handlers_.records) handlers_.records();
  });
  connect(mnuTrace, &QAction::triggered, this, [this] {
    if (handlers_.trace) handlers_.trace();
  });
  connect(mnuFinalTest, &QAction::triggered, this, [this] {
    if (handlers_.final_test) handlers_.final_test();
  });
  for (QAction* item : {mnuNonVol, mnuTest, mnuRecords, mnuTrace, mnuFinalTest}) {
    item->setEnabled(false);
  }
}

void DisplayForm::set_handlers(Handlers handlers) {
  handlers_ = std::move(handlers);
  mnuNonVol->setEnabled(static_cast<bool>(handlers_.load_non_vol));
  mnuTest->setEnabled(static_cast<bool>(handlers_.main_testing));
  mnuRecords->setEnabled(static_cast<bool>(handlers_.records));
  mnuTrace->setEnabled(static_cast<bool>(handlers_.trace));
  mnuFinalTest->setEnabled(static_cast<bool>(handlers_.final_test));
}

void DisplayForm::build_controls() {
  auto* client = new QWidget(this);
  client->setObjectName("DisplayFormClient");
  client->setFixedSize(twips_size(kClientWidthTwips, kClientHeightTwips));

  TechNameLabel = make_label(client, "TechNameLabel", "Technician Name");
  place(TechNameLabel, 120, 120, 2295, 495, 12);
  TestTechnicianName = make_text_box(client, "TestTechnicianName");
  place(TestTechnicianName, 2520, 120, 2295, 480, 13.5);
  TopSNLabel = make_label(client, "TopSNLabel", "Top Assy S/N");
  place(TopSNLabel, 120, 600, 2295, 375, 12);
  TopSerialNumber = make_text_box(client, "TopSerialNumber");
  place(TopSerialNumber, 2520, 600, 2295, 480, 13.5);
  SubSNLabel = make_label(client, "SubSNLabel", "Sub Assy S/N");
  place(SubSNLabel, 120, 1080, 2175, 375, 12);
  SubSerialNumber = make_text_box(client, "SubSerialNumber");
  place(SubSerialNumber, 2520, 1080, 2295, 480, 13.5);
  bound_operator_field(TestTechnicianName, TechNameLabel);
  bound_operator_field(TopSerialNumber, TopSNLabel);
  bound_operator_field(SubSerialNumber, SubSNLabel);
  InstructionLabel = make_label(client, "InstructionLabel", "");
  place(InstructionLabel, 1680, 360, 5175, 1455, 9.75);
  lblCalInstr = make_label(client, "lblCalInstr",
                           "Make sure that the Tech's name and Serial Numbers are filled in "
                           "before startin 'Calibrate Outputs'.");
  place(lblCalInstr, 360, 1680, 6015, 495, 8.25);
  StatusByte = make_label(client, "StatusByte", "");
  place(StatusByte, 7080, 360, 1215, 255, 8.25);
  cmdStartCal = make_button(client, "cmdStartCal", "Start Calibration");
  place(cmdStartCal, 6600, 2160, 1935, 495, 8.25);

  // The amplitude note is no procedure of the table: it talks to no unit.
  const QString test_captions[] = {
      QString::fromUtf8(core::procedure_row(core::ProcedureKind::output_calibration).caption),
      QStringLiteral("Output Amplitude Test"),
      QString::fromUtf8(core::procedure_row(core::ProcedureKind::memory_test).caption),
      QString::fromUtf8(core::procedure_row(core::ProcedureKind::self_test).caption)};
  for (int i = 0; i < 4; ++i) {
    QPushButton* button = make_button(client, "TestButton", test_captions[i]);
    button->setProperty("index", i);
    place(button, 6600, 2760 + 600 * i, 1935, 495, 8.25);
    TestButton[static_cast<std::size_t>(i)] = button;
  }
  Abort = make_button(client, "Abort", "Abort");
  place(Abort, 6600, 5160, 1935, 495, 8.25);
  CalConstantLabel = make_label(client, "CalConstantLabel", "Cal Constant");
  place(CalConstantLabel, 3600, 3480, 1095, 255, 8.25);
  CalConstant = make_label(client, "CalConstant", "");
  place(CalConstant, 3600, 3720, 1095, 255, 8.25);
  CalUp = make_button(client, "CalUp", "Up");
  place(CalUp, 2880, 4200, 615, 375, 8.25);
  CalGood = make_button(client, "CalGood", "Cal Complete");
  place(CalGood, 3600, 4080, 1095, 495, 8.25);
  CalDown = make_button(client, "CalDown", "Down");
  place(CalDown, 4800, 4200, 615, 375, 8.25);
  Label2 = make_label(client, "Label2", "Errors");
  place(Label2, 240, 4680, 6015, 255, 8.25);
  ErrorReportLabel = make_label(client, "ErrorReportLabel", "Error Report Label");
  place(ErrorReportLabel, 240, 4920, 6015, 1335, 8.25);
  {
    // The system window colours, so that reports stand out from the form.
    QPalette palette = ErrorReportLabel->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Text));
    ErrorReportLabel->setPalette(palette);
    ErrorReportLabel->setAutoFillBackground(true);
  }

  DelayTimer = new QTimer(this);
  DelayTimer->setObjectName("DelayTimer");
  DelayTimer->setTimerType(Qt::PreciseTimer);
  connect(DelayTimer, &QTimer::timeout, this, [this] { ++station_.driver_state.tick_counter; });

  for (int i = 0; i < 4; ++i) {
    connect(TestButton[static_cast<std::size_t>(i)], &QPushButton::clicked, this, [this, i] {
      if (handlers_.test_button) handlers_.test_button(i);
    });
  }
  const auto dispatch = [this](QPushButton* button, std::function<void()> Handlers::*handler) {
    connect(button, &QPushButton::clicked, this, [this, handler] {
      if (handlers_.*handler) (handlers_.*handler)();
    });
  };
  dispatch(cmdStartCal, &Handlers::start_calibration);
  dispatch(CalUp, &Handlers::cal_up);
  dispatch(CalDown, &Handlers::cal_down);
  dispatch(CalGood, &Handlers::cal_good);

  // The abort request of a running calibration or production loop.
  connect(Abort, &QPushButton::clicked, this, [this] { station_.driver_state.abort_flag = true; });

  setCentralWidget(client);
}

void DisplayForm::bound_operator_field(QLineEdit* field, const QLabel* caption) {
  const QString limit = operator_field_limit_text(caption->text());
  field->setMaxLength(kOperatorFieldLength);
  field->setValidator(new NoControlCharacters(field));
  field->setToolTip(limit);
  connect(field, &QLineEdit::inputRejected, this, [field, limit] {
    QToolTip::showText(field->mapToGlobal(QPoint(0, field->height())), limit, field);
  });
}

void DisplayForm::build_status_line() {
  // The station's own lines, one above the other: which VISA the station talks to, and (when
  // there is something to say) whether production records are being kept. A long line (a broken
  // library's reason, the training faults) wraps instead of being cut at the window's edge.
  auto* lines = new QWidget(this);
  lines->setObjectName("statusLines");
  auto* layout = new QVBoxLayout(lines);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  visaStatusLabel = new QLabel(lines);
  visaStatusLabel->setObjectName("visaStatusLabel");
  visaStatusLabel->setWordWrap(true);
  const core::VisaInUse& in_use = station_.visa_in_use;
  if (in_use.simulated) {
    visaStatusLabel->setText("SIMULATED CHASSIS - " + QString::fromStdString(in_use.description));
    visaStatusLabel->setStyleSheet(
        "QLabel { background: #ffd000; color: black; font-weight: bold; padding: 2px; }");
  } else {
    visaStatusLabel->setText("VISA library: " + QString::fromStdString(in_use.description));
  }
  layout->addWidget(visaStatusLabel);

  recordsStatusLabel = new QLabel(lines);
  recordsStatusLabel->setObjectName("recordsStatusLabel");
  recordsStatusLabel->setWordWrap(true);
  recordsStatusLabel->setStyleSheet("QLabel { background: #ffb0a0; color: black; padding: 2px; }");
  recordsStatusLabel->hide();
  layout->addWidget(recordsStatusLabel);

  statusBar()->addWidget(lines, 1);
  statusBar()->setSizeGripEnabled(false);
}

void DisplayForm::show_records_status(const std::string& text, const std::string& details) {
  recordsStatusLabel->setText(QString::fromStdString(text));
  recordsStatusLabel->setToolTip(QString::fromStdString(details));
  recordsStatusLabel->setVisible(!text.empty());
}

void DisplayForm::startup() {
  station_.driver.set_error_options(4);
  show_controls_for(Step::StartUp);
  DelayTimer->stop();
}

namespace {

void set_visible(std::initializer_list<QWidget*> controls, bool visible) {
  for (QWidget* control : controls) control->setVisible(visible);
}

}  // namespace

void DisplayForm::show_controls_for(Step step) {
  const std::initializer_list<QWidget*> technician_fields = {
      TechNameLabel, TestTechnicianName, TopSNLabel, TopSerialNumber, SubSNLabel, SubSerialNumber};
  const std::initializer_list<QWidget*> adjustment = {CalConstantLabel, CalConstant, CalUp, CalGood,
                                                      CalDown};
  switch (step) {
    case Step::StartUp:
      set_visible(technician_fields, false);
      set_visible({InstructionLabel, lblCalInstr, StatusByte, cmdStartCal, TestButton[0],
                   TestButton[1], TestButton[2], TestButton[3], Abort},
                  false);
      set_visible(adjustment, false);
      set_visible({Label2, ErrorReportLabel}, true);
      break;
    case Step::UnitInitialized:
      set_visible(technician_fields, false);
      set_visible({InstructionLabel, cmdStartCal, TestButton[0], TestButton[1], TestButton[2],
                   TestButton[3], Abort},
                  true);
      TestButton[0]->setVisible(false);
      break;
    case Step::ProductionTest:
      InstructionLabel->setVisible(true);
      break;
    case Step::SettingUp:
      set_visible(technician_fields, true);
      TestButton[0]->setVisible(true);
      cmdStartCal->setVisible(false);
      lblCalInstr->setVisible(true);
      break;
    case Step::Adjusting:
      set_visible(adjustment, true);
      set_visible(technician_fields, false);
      lblCalInstr->setVisible(false);
      InstructionLabel->setVisible(true);
      break;
    case Step::CalibrationFinished:
      set_visible(adjustment, false);
      set_visible({TestButton[0], InstructionLabel}, false);
      cmdStartCal->setVisible(true);
      break;
  }
}

void DisplayForm::show_step_text(const std::string& text) {
  ErrorReportLabel->setText(module_text(text));
}

void DisplayForm::show_instruction(const std::string& text) {
  InstructionLabel->setText(module_text(text));
}

void DisplayForm::show_status_byte(const std::string& text) {
  StatusByte->setText(module_text(text));
}

void DisplayForm::show_cal_constant(const std::string& text) {
  CalConstant->setText(module_text(text));
}

DisplayForm::Handlers production_handlers(procedures::ProductionTests& tests) {
  DisplayForm::Handlers h;
  procedures::OutputCalibration& calibration = tests.output_calibration();
  h.test_button = [&tests](int index) { tests.on_test_button(index); };
  h.start_calibration = [&calibration] { calibration.on_start_calibration(); };
  h.cal_up = [&calibration] { calibration.on_cal_up(); };
  h.cal_down = [&calibration] { calibration.on_cal_down(); };
  h.cal_good = [&calibration] { calibration.on_cal_good(); };
  return h;
}

void DisplayForm::closeEvent(QCloseEvent* event) {
  shutdown();
  event->accept();
}

void DisplayForm::shutdown() {
  if (station_.shutting_down) return;
  // Any wait in progress (a pending selection) ends now.
  station_.shutting_down = true;
  station_.driver.end_waits();
  initialization_->cancel_pending_selection();
  driver::QuorDriver& driver = station_.driver;
  driver.quor_close(station_.units.uut.session);
  driver.quor_close(station_.units.qcu.session);
  station_.units.uut.session = 0;
  station_.units.qcu.session = 0;
  station_.visa.viClose(station_.driver_state.default_rm);
  driver.close_managers_left_open();
  station_.driver_state.abort_flag = true;
  if (handlers_.shut_down) handlers_.shut_down();
}

}  // namespace app
