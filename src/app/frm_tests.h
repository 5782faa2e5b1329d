// The test console: one button per bus test, STOP TEST and EXIT, and the prompt label.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <array>

#include "procedures/bus_tests.h"

namespace app {

using procedures::kTestCount;
using procedures::TestId;

class FrmTests final : public QWidget {
  Q_OBJECT

 public:
  explicit FrmTests(QWidget* parent = nullptr);

  // The button that runs a test.
  QPushButton* button(TestId test) const { return test_buttons_[static_cast<std::size_t>(test)]; }
  const std::array<QPushButton*, kTestCount>& test_buttons() const { return test_buttons_; }

  // Idle: test buttons enabled, EXIT shown, STOP TEST hidden; running: the opposite.
  void set_running(bool running);
  bool running() const { return running_; }

  QPushButton* cmdExit = nullptr;
  QPushButton* cmdStop = nullptr;
  QPushButton* cmdTrnsrecm = nullptr;
  QPushButton* cmdSelfLong = nullptr;
  QPushButton* cmdTrnorecm = nullptr;
  QPushButton* cmdTrndrecm = nullptr;
  QPushButton* cmdTrncrecm = nullptr;
  QPushButton* cmdStamp = nullptr;
  QPushButton* cmdSelfloop2 = nullptr;
  QPushButton* cmdRecM = nullptr;
  QPushButton* cmdRec = nullptr;
  QPushButton* cmdSelfLoop = nullptr;
  QLabel* lblText = nullptr;

 signals:
  void test_clicked(procedures::TestId test);
  void stop_clicked();
  void exit_clicked();

 protected:
  // The console stays while a test runs on it.
  void closeEvent(QCloseEvent* event) override;

 private:
  std::array<QPushButton*, kTestCount> test_buttons_{};
  bool running_ = false;
};

}  // namespace app
