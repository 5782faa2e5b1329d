// A unit's history: every run of one serial number, oldest first, read off the window thread by
// a reader of its own, with what the runs came to in a line above them.
#pragma once

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
// "5 runs from 2026-12-01 08:00:00 to 2026-12-03 14:10:00: 3 passed, 1 failed, 1 stopped".
std::string unit_history_text(const std::vector<records::RunRecord>& runs);

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

  QLabel* lblUnit = nullptr;
  QTableView* lstHistory = nullptr;

 private:
  std::string serial_;
  std::unique_ptr<records::RecordsReader> reader_;
  RunListModel model_;
  unsigned read_ = 0;
};

}  // namespace app
