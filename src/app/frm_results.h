// The results window: the written test report, the progress bar, Print and Exit.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <string>

#include "driver/operator.h"
#include "driver/report_sink.h"

namespace app {

class FrmResults final : public QMainWindow, public driver::ReportSink {
  Q_OBJECT

 public:
  explicit FrmResults(driver::Operator& person, QWidget* parent = nullptr);

  // The report as written, line ends as carriage return and line feed.
  const std::string& report_text() const { return report_; }
  // Replaces the whole report.
  void set_report(const std::string& text);
  // Appends to the report.
  void append_report(const std::string& text) override;

  // The progress bar's maximum and value; a value above the maximum is shown as full.
  void set_progress_maximum(float maximum);
  void set_progress_value(float value);

  // While a test writes its report the window stays: Exit and closing are refused.
  void set_test_running(bool running);

  QPlainTextEdit* txtFail = nullptr;
  QLabel* Label1 = nullptr;
  QProgressBar* TestProgressBar = nullptr;
  QAction* mnuPrint = nullptr;
  QAction* mnuExit = nullptr;

 signals:
  // Exit was chosen: the window is to be unloaded.
  void unload_requested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  driver::Operator& person_;
  std::string report_;
  bool test_running_ = false;
};

}  // namespace app
