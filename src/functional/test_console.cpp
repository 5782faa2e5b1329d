#include "functional/test_console.h"

namespace functional {

TestConsole::TestConsole(core::Station& station, app::DisplayForm& form)
    : station_(station), form_(form) {}

TestConsole::~TestConsole() {
  delete console_.data();
  delete results_.data();
  for (const QPointer<QWidget>& window : retired_) delete window.data();
}

void TestConsole::show_console() {
  if (console_ == nullptr) {
    console_ = new FrmTests();
    tests_ = std::make_unique<FunctionalTests>(station_, form_, *console_,
                                               [this]() -> FrmResults& { return results(); });
    QObject::connect(console_, &FrmTests::test_clicked, console_, [this](TestId test) {
      tests_->run_from_console(test);
      if (station_.shutting_down) close_windows();
    });
    QObject::connect(console_, &FrmTests::stop_clicked, console_,
                     [this] { tests_->state().stop = true; });
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

}  // namespace functional
