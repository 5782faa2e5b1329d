#include "app/frm_results.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <cmath>

#include "app/accessibility.h"
#include "app/module_text.h"
#include "app/twips.h"

namespace app {
namespace {

constexpr int kClientWidthTwips = 15270;
constexpr int kClientHeightTwips = 4575;

// The text box shows line ends as the platform's; the report keeps CR LF.
QString shown_text(const std::string& text) {
  QString shown = module_text(text);
  shown.replace("\r\n", "\n");
  return shown;
}

int progress_units(float value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int>(std::lround(std::clamp(value, -2.0e9F, 2.0e9F)));
}

}  // namespace

FrmResults::FrmResults(driver::Operator& person, QWidget* parent)
    : QMainWindow(parent), person_(person) {
  setObjectName("frmResults");
  setWindowTitle("Test Results");
  move(twips_to_pixels(990), twips_to_pixels(6810));

  auto* client = new QWidget(this);
  client->setFixedSize(twips_size(kClientWidthTwips, kClientHeightTwips));
  txtFail = new QPlainTextEdit(client);
  txtFail->setObjectName("txtFail");
  txtFail->setReadOnly(true);
  txtFail->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtFail->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtFail->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  place(txtFail, 360, 240, 14775, 3135, 9.75);
  Label1 = new QLabel("Test Progress", client);
  Label1->setObjectName("Label1");
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  place(Label1, 240, 3840, 2175, 495, 14.25);
  TestProgressBar = new QProgressBar(client);
  TestProgressBar->setObjectName("TestProgressBar");
  TestProgressBar->setRange(0, 100);
  TestProgressBar->setValue(0);
  TestProgressBar->setTextVisible(false);
  TestProgressBar->setGeometry(twips_rect(2640, 3720, 12015, 615));
  setCentralWidget(client);

  mnuPrint = menuBar()->addAction("Print");
  mnuPrint->setObjectName("mnuPrint");
  mnuExit = menuBar()->addAction("Exit");
  mnuExit->setObjectName("mnuExit");
  connect(mnuPrint, &QAction::triggered, this, [this] { person_.print(report_); });
  connect(mnuExit, &QAction::triggered, this, [this] {
    if (!test_running_) emit unload_requested();
  });
  make_accessible(*this);
}

void FrmResults::set_report(const std::string& text) {
  report_ = text;
  txtFail->setPlainText(shown_text(report_));
}

void FrmResults::append_report(const std::string& text) {
  report_ += text;
  // Only the addition goes to the text box: a long report is not laid out again each time.
  QTextCursor cursor(txtFail->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(shown_text(text));
}

void FrmResults::set_progress_maximum(float maximum) {
  const int units = std::max(progress_units(maximum), 0);
  if (TestProgressBar->value() > units) TestProgressBar->setValue(units);
  TestProgressBar->setMaximum(units);
}

void FrmResults::set_progress_value(float value) {
  TestProgressBar->setValue(
      std::clamp(progress_units(value), TestProgressBar->minimum(), TestProgressBar->maximum()));
}

void FrmResults::set_test_running(bool running) {
  test_running_ = running;
  mnuExit->setEnabled(!running);
}

void FrmResults::closeEvent(QCloseEvent* event) {
  if (test_running_) {
    event->ignore();
    return;
  }
  event->accept();
  // Closing the window unloads it, as Exit does.
  emit unload_requested();
}

}  // namespace app
