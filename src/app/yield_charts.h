// The records window's charts over the runs its filters select, drawn from the yield figures the
// store counts (records/yield_figures.h): pass rate and first-pass yield by day or week, the runs
// that did not pass by procedure (a Pareto chart: the procedure with the most first, and their
// running share), the unit results that did not pass by the step that decided them (a Pareto
// chart of their steps' procedures, shown while the figures hold unit results), and each
// station's yield side by side. A click on a point or a bar says which runs it stands for; the
// window filters its list to them.
#pragma once

#include <QWidget>
#include <QtCharts/QChartView>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "records/yield_figures.h"

class QChart;
class QStackedBarSeries;

namespace app {

class YieldCharts final : public QWidget {
  Q_OBJECT

 public:
  explicit YieldCharts(QWidget* parent = nullptr);

  // Draws the charts anew.
  void show_figures(const records::YieldFigures& figures);
  // Leaves the charts empty with `text` as their title ("The records cannot be read: ...").
  void show_nothing(const QString& text);
  const records::YieldFigures& figures() const { return figures_; }

  QChartView* chtTrend = nullptr;
  QChartView* chtFailures = nullptr;
  QChartView* chtSteps = nullptr;  // hidden without unit results
  QChartView* chtStations = nullptr;

 signals:
  // The runs of one day or week (UTC: [start, end)).
  void period_clicked(records::TimePoint start, records::TimePoint end);
  // A procedure's runs with one outcome.
  void failures_clicked(records::Procedure procedure, records::Outcome outcome);
  // The runs of a procedure that are steps of unit results.
  void step_failures_clicked(records::Procedure procedure);
  void station_clicked(const std::string& station);

 private:
  void draw_trend();
  void draw_failures();
  void draw_steps();
  // Puts `bars` on `chart` with the running share of their totals (a Pareto) and the axes; the
  // names stand upright when there are more than `most_across`.
  void add_pareto(QChart* chart, QStackedBarSeries* bars,
                  const std::vector<std::pair<records::Procedure, std::size_t>>& totals,
                  int most_across);
  void draw_stations();
  // The trend's period nearest to the time `x` (milliseconds since the epoch), clicked.
  void click_trend(double x);

  records::YieldFigures figures_;
};

}  // namespace app
