// The live VISA trace for the engineer: the last calls (trace_ring.h) in a table, errors
// highlighted, each session named by its resource and the units' sessions marked UUT and QCU
// (those opened before the window was, too), filtered by session, function and "errors only",
// with pause and save (in the --trace file's format). Modeless, a window of its own; it records
// while it is shown and not paused, so a station whose trace window is closed traces nothing.
#pragma once

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>
#include <unordered_map>
#include <vector>

#include "app/trace_ring.h"
#include "core/station.h"
#include "visa/visa_trace_file.h"

namespace app {

// The rows of the ring that pass the filters, for the table.
class TraceTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Time, Function, Session, Unit, Resource, Arguments, Status, Duration, ColumnCount };

  struct Filter {
    visa::ViObject session = 0;  // 0: every session
    int function = -1;           // a visa::VisaFunction, or -1 for every function
    bool errors_only = false;
  };

  TraceTableModel(const TraceRing& ring, visa::StatusDescriber describe, QObject* parent = nullptr);

  // Takes the ring's calls again through the filter.
  void refresh(const Filter& filter);
  // The units' sessions now: "UUT" or "QCU" by session.
  void set_units(std::unordered_map<visa::ViObject, QString> units) { units_ = std::move(units); }
  QString unit_of(visa::ViObject object) const;
  const visa::VisaCall& call_at(int row) const {
    return ring_.at(rows_[static_cast<std::size_t>(row)]);
  }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const TraceRing& ring_;
  visa::StatusDescriber describe_;
  visa::TraceClock clock_;
  std::vector<std::size_t> rows_;  // indices into the ring, oldest first
  std::unordered_map<visa::ViObject, QString> units_;
};

class TraceWindow final : public QWidget {
  Q_OBJECT

 public:
  // `sinks` feed the station's trace; `describe` gives the status texts; `station`, when given,
  // names the sessions and managers it holds and marks the UUT's and QCU's sessions.
  TraceWindow(visa::TraceSinks& sinks, visa::StatusDescriber describe,
              const core::Station* station = nullptr, QWidget* parent = nullptr);
  ~TraceWindow() override;

  // Writes the calls that pass the filters to `path` in the --trace format; false when the file
  // cannot be written.
  bool save_to(const QString& path);
  // Reads the ring again (the window does so on its timer while shown).
  void refresh();

  TraceRing& ring() { return ring_; }
  TraceTableModel& model() { return *model_; }

  QComboBox* cboSession = nullptr;
  QComboBox* cboFunction = nullptr;
  QCheckBox* chkErrorsOnly = nullptr;
  QPushButton* cmdPause = nullptr;  // checkable: down while paused
  QPushButton* cmdSave = nullptr;
  QPushButton* cmdClear = nullptr;
  QLabel* lblCount = nullptr;
  QTableView* tblCalls = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void update_recording();
  void update_sessions();
  void learn_units();
  TraceTableModel::Filter filter() const;

  visa::TraceSinks& sinks_;
  visa::StatusDescriber describe_;
  const core::Station* station_;
  TraceRing ring_;
  TraceTableModel* model_ = nullptr;
  QTimer refresh_timer_;
  std::uint64_t shown_total_ = ~std::uint64_t{0};
};

}  // namespace app
