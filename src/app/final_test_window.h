// The Final Test window: the technician enters (or scans) the unit's serial numbers and a name,
// picks the UUT and QCU among the Quor Bus modules found, and starts; the steps run one after
// another with their states, durations and progress, then the verdict shows large, the unit's
// report is filed as a PDF, and the serial boxes are ready for the next unit.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "app/unit_report.h"
#include "core/station.h"
#include "procedures/final_test.h"
#include "procedures/production_tests.h"

namespace app {

class FinalTestWindow final : public QWidget, public procedures::FinalTestView {
  Q_OBJECT

 public:
  struct Options {
    std::string reports_folder;  // each unit's report is filed below it
    StationIdentity station;     // named in the reports
    // Where the technician's name and the last modules chosen are kept; empty: the program's
    // settings.
    QString settings_file;
    procedures::Sequence sequence = procedures::default_sequence();
  };

  FinalTestWindow(core::Station& station, procedures::ProductionTests& production, Options options,
                  QWidget* parent = nullptr);
  ~FinalTestWindow() override;

  procedures::FinalTestRunner& runner() { return runner_; }
  // The last unit's result, once it has one.
  const std::optional<procedures::FinalTestResult>& last_result() const { return last_; }
  // Where the last unit's report went (empty until it is written) and why not, if it was not.
  const QString& report_path() const { return report_path_; }
  const QString& report_error() const { return report_error_; }
  bool report_pending() const { return reports_pending_ > 0; }

  // Looks for the Quor Bus modules again and offers them as UUT and QCU.
  void search_modules();
  // START: checks the boxes, then runs the unit's final test; returns after the verdict.
  void start();

  // procedures::FinalTestView
  bool accept_serial_mismatch(const std::string& entered, const std::string& reported) override;
  bool confirm_cabling(const std::string& prompt) override;
  void step_changed(std::size_t index, const procedures::StepResult& step) override;
  void step_progress(std::size_t index, double value, double maximum) override;
  void time_left(std::optional<std::chrono::milliseconds> left) override;

  QLabel* lblTechnician = nullptr;
  QLineEdit* txtTechnician = nullptr;
  QLabel* lblTopSerial = nullptr;
  QLineEdit* txtTopSerial = nullptr;
  QLabel* lblSubSerial = nullptr;
  QLineEdit* txtSubSerial = nullptr;
  QLabel* lblUut = nullptr;
  QComboBox* cboUut = nullptr;
  QLabel* lblQcu = nullptr;
  QComboBox* cboQcu = nullptr;
  QPushButton* cmdSearch = nullptr;
  QPushButton* cmdStart = nullptr;
  QPushButton* cmdStop = nullptr;
  QPushButton* cmdPrint = nullptr;
  QLabel* lblMessage = nullptr;  // what keeps START from starting, or the search's failure
  QTableWidget* tblSteps = nullptr;
  QLabel* lblRunning = nullptr;
  QProgressBar* prgStep = nullptr;
  QLabel* lblTimeLeft = nullptr;
  QLabel* lblVerdict = nullptr;
  QLabel* lblFinding = nullptr;
  QLabel* lblReport = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void build();
  void show_steps(const procedures::Sequence& sequence);
  void set_running(bool running);
  void show_verdict(const procedures::FinalTestResult& result);
  void clear_verdict();
  void file_report(const procedures::FinalTestResult& result);
  void print_last();
  void say(const QString& text);
  void remember_choices();

  core::Station& station_;
  Options options_;
  std::unique_ptr<QSettings> settings_;
  procedures::FinalTestRunner runner_;
  std::optional<procedures::FinalTestResult> last_;
  bool searched_ = false;
  QString report_path_;
  QString report_error_;
  int reports_pending_ = 0;
};

}  // namespace app
