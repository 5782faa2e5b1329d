// The test console: one button per bus test, STOP TEST and EXIT, and the prompt label.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <array>

#include "core/procedure_table.h"

namespace app {

using core::ProcedureKind;

// The bus tests in the order of the console's buttons (and of its tab order).
inline constexpr std::array<ProcedureKind, 10> kConsoleTests = {
    ProcedureKind::self_loop,  ProcedureKind::rec,      ProcedureKind::recm,
    ProcedureKind::self_loop2, ProcedureKind::stamp,    ProcedureKind::trncrecm,
    ProcedureKind::trndrecm,   ProcedureKind::trnorecm, ProcedureKind::self_long,
    ProcedureKind::trnsrecm};
inline constexpr std::size_t kTestCount = kConsoleTests.size();

class FrmTests final : public QWidget {
  Q_OBJECT

 public:
  explicit FrmTests(QWidget* parent = nullptr);

  // The button that runs a bus test; null for a procedure that is not one.
  QPushButton* button(ProcedureKind test) const;
  // In the order of kConsoleTests.
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
  void test_clicked(core::ProcedureKind test);
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
