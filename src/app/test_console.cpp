#include "app/test_console.h"

#include <QFont>

namespace app {

TestConsole::TestConsole(core::Station& station, DisplayForm& form)
    : station_(station), form_(form) {}

TestConsole::~TestConsole() {
  delete console_.data();
  delete results_.data();
  for (const QPointer<QWidget>& window : retired_) delete window.data();
}

void TestConsole::show_console() {
  if (console_ == nullptr) {
    console_ = new FrmTests();
    tests_ = std::make_unique<procedures::BusTests>(station_, *this);
    QObject::connect(console_, &FrmTests::test_clicked, console_, [this](core::ProcedureKind test) {
      tests_->run_from_console(test);
      if (station_.shutting_down) close_windows();
    });
    QObject::connect(console_, &FrmTests::stop_clicked, console_,
                     [this] { tests_->request_stop(); });
    QObject::connect(console_, &FrmTests::exit_clicked, console_, [this] { unload_console(); });
  }
  console_->show();
  console_->raise();
  console_->activateWindow();
}

FrmResults& TestConsole::results() {
  if (results_ == nullptr) {
    results_ = new FrmResults(station_.person);
    QObject::connect(results_, &FrmResults::unload_requested, results_, [this] {
      if (results_ == nullptr) return;
      // Exit's own handler is still on the stack; the report goes with the window.
      retire_closed_windows();
      results_->hide();
      retired_.emplace_back(results_.data());
      results_->deleteLater();
      results_ = nullptr;
    });
  }
  return *results_;
}

void TestConsole::retire_closed_windows() {
  std::erase_if(retired_, [](const QPointer<QWidget>& window) { return window == nullptr; });
}

void TestConsole::close_windows() {
  if (console_ != nullptr && console_->running()) return;
  if (console_ != nullptr) console_->close();
  if (results_ != nullptr) results_->close();
}

void TestConsole::unload_console() {
  if (console_ == nullptr || console_->running()) return;
  // EXIT's own click handler is still on the stack.
  retire_closed_windows();
  FrmTests* console = console_.data();
  console_ = nullptr;
  console->hide();
  retired_.emplace_back(console);
  console->deleteLater();
  tests_.reset();
}

void TestConsole::set_console_caption(const std::string& caption) {
  if (console_ != nullptr) console_->setWindowTitle(QString::fromStdString(caption));
}

void TestConsole::show_console_line(const procedures::ConsoleLine& line) {
  if (console_ == nullptr) return;
  QFont font = console_->lblText->font();
  font.setPointSizeF(line.point_size);
  console_->lblText->setFont(font);
  console_->lblText->setText(QString::fromStdString(line.text));
}

void TestConsole::set_tests_running(bool running) {
  if (console_ != nullptr) console_->set_running(running);
}

void TestConsole::send_main_window_back() { form_.lower(); }

void TestConsole::open_report() {
  FrmResults& report = results();
  report.set_test_running(true);
  report.show();
  report.lower();
}

void TestConsole::report_done() { results().set_test_running(false); }

void TestConsole::set_report(const std::string& text) { results().set_report(text); }

void TestConsole::append_report(const std::string& text) { results().append_report(text); }

void TestConsole::set_progress_maximum(float maximum) { results().set_progress_maximum(maximum); }

void TestConsole::set_progress_value(float value) { results().set_progress_value(value); }

}  // namespace app
