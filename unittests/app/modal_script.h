// Answers the modal boxes and dialogs a window opens, one after another, as the technician
// would: each step is handed the next modal widget that opens and answers it. A box the script
// did not expect is closed and noted in `surprises`.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace app_tests {

class ModalScript {
 public:
  using Step = std::function<void(QWidget* modal)>;

  ModalScript() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
  }

  // The next modal widget to open is answered by `step`.
  void then(Step step) { steps_.push_back(std::move(step)); }

  // Clicks the message box's button with this text (or the standard button) and keeps its text.
  void click(const QString& button_text) {
    then([this, button_text](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (box == nullptr) return failed("a message box", modal);
      shown.push_back(box->text().toStdString());
      for (QAbstractButton* button : box->buttons()) {
        if (button->text() == button_text) return button->click();
      }
      failed(("a button \"" + button_text + "\"").toStdString(), modal);
    });
  }
  // Chooses `path` in a file dialog.
  void choose_file(const QString& path) {
    then([this, path](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      if (dialog == nullptr) return failed("a file dialog", modal);
      dialog->selectFile(path);
      // As the Save button does.
      QMetaObject::invokeMethod(dialog, "accept");
    });
  }

  // Runs the window events until every step has answered its modal widget, for at most `ms`.
  bool finish(int ms = 20000) {
    const QDeadlineTimer deadline(ms);
    while (!steps_.empty() && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return steps_.empty();
  }
  bool done() const { return steps_.empty(); }

  std::vector<std::string> shown;      // the texts of the boxes answered, in order
  std::vector<std::string> surprises;  // what opened where a step expected something else

 private:
  void poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == answered_) return;
    answered_ = modal;
    if (steps_.empty()) {
      // One more than the script expects: noted and closed (as Escape would), never left open.
      return failed("no more boxes", modal);
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step(modal);
  }
  void failed(const std::string& expected, QWidget* modal) {
    surprises.push_back("expected " + expected + ", got " + modal->metaObject()->className() + " " +
                        modal->objectName().toStdString());
    modal->close();
  }

  QTimer timer_;
  std::deque<Step> steps_;
  QPointer<QWidget> answered_;
};

}  // namespace app_tests
