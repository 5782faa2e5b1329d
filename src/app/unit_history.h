// A unit's history: every run and unit result of one serial number, oldest first, read off the
// window thread by a reader of its own, with what they came to in a line above them. The unit
// results (the final tests the runs were steps of) stand in a table of their own above the runs.
#pragma once

#include <QAbstractTableModel>
#include <QLabel>
#include <QTableView>
#include <QWidget>
#include <memory>
#include <string>

#include "app/records_window.h"
#include "records/records_reader.h"

namespace app {

// The runs that name `serial` as the UUT's, the top or the sub assembly's serial number, exactly,
// oldest first; `runs` come newest first, as the store lists them.
std::vector<records::RunRecord> unit_runs(std::vector<records::RunRecord> runs,
                                          const std::string& serial);
// The unit results that `runs` (a unit's) are steps of, of those in `results`, in their order.
std::vector<records::UnitResult> unit_results_of(std::vector<records::UnitResult> results,
                                                 const std::vector<records::RunRecord>& runs);
// "5 runs from 2026-12-01 08:00:00 to 2026-12-03 14:10:00: 3 passed, 1 failed, 1 stopped; 2 unit
// results: 1 pass, 1 fail".
std::string unit_history_text(const std::vector<records::RunRecord>& runs,
                              const std::vector<records::UnitResult>& unit_results = {});
// The step that decided a unit result, "3: RECM" (counted from 1); empty when none did.
std::string deciding_step_text(const records::UnitResult& result);

// The rows of a unit's unit results.
class UnitResultListModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Time, Sequence, Verdict, DecidingStep, Finding, Technician, Station, Simulated };
  static constexpr int kColumns = 8;

  using QAbstractTableModel::QAbstractTableModel;
  void set_unit_results(std::vector<records::UnitResult> results);
  const std::vector<records::UnitResult>& unit_results() const { return results_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<records::UnitResult> results_;
};

class UnitHistoryWindow final : public QWidget {
  Q_OBJECT

 public:
  // The most runs of one unit read: a serial number that a thousand runs name is a fixture's.
  static constexpr std::size_t kMostRuns = 5000;

  UnitHistoryWindow(std::string location, std::string serial, QWidget* parent = nullptr);
  ~UnitHistoryWindow() override;

  const std::string& serial() const { return serial_; }
  // Reads the unit's runs again.
  void refresh();
  // Turns the window thread's events until the read asked for has been shown.
  bool wait_for_reads(std::chrono::milliseconds most = std::chrono::seconds{30});
  RunListModel& model() { return model_; }
  UnitResultListModel& unit_result_model() { return unit_results_; }

  QLabel* lblUnit = nullptr;
  QTableView* lstUnitResults = nullptr;  // hidden when the unit has none
  QTableView* lstHistory = nullptr;

 private:
  std::string serial_;
  std::unique_ptr<records::RecordsReader> reader_;
  RunListModel model_;
  UnitResultListModel unit_results_;
  unsigned read_ = 0;
};

}  // namespace app
