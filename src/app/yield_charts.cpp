#include "app/yield_charts.h"

#include <QCursor>
#include <QDateTime>
#include <QHBoxLayout>
#include <QToolTip>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QStackedBarSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

namespace app {

using namespace records;

namespace {

const QColor kPassRateColour(0x2a, 0x6f, 0xb8);
const QColor kFirstPassColour(0x2e, 0x9a, 0x48);
const QColor kParetoColour(0x40, 0x40, 0x40);
// Period labels the trend's axis holds at most; the others are left out.
constexpr int kTrendLabels = 8;

QString percent(double share) { return QString::number(share * 100.0, 'f', 1) + "%"; }

// The colour of an outcome's share of a failure bar: the list's red and orange, greys for the
// runs that gave no verdict.
QColor failure_colour(Outcome outcome) {
  const std::string_view id = text_id(outcome);
  if (id == "failed") return QColor(0xd0, 0x30, 0x30);
  if (id == "failure_limit") return QColor(0x90, 0x18, 0x18);
  if (id == "error") return QColor(0xf0, 0x8c, 0x00);
  if (id == "stopped") return QColor(0xa8, 0xa8, 0xa8);
  if (id == "aborted") return QColor(0x88, 0x88, 0x88);
  if (id == "refused") return QColor(0xc8, 0xc8, 0xc8);
  return QColor(0x60, 0x60, 0x60);
}

QChart* new_chart(const QString& title) {
  auto* chart = new QChart;
  chart->setTitle(title);
  QFont font = chart->titleFont();
  font.setBold(true);
  chart->setTitleFont(font);
  chart->setMargins(QMargins(2, 2, 2, 2));
  chart->setBackgroundRoundness(0);
  chart->legend()->setAlignment(Qt::AlignBottom);
  QFont small = chart->legend()->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  chart->legend()->setFont(small);
  return chart;
}

// Hands `chart` to `view`; the chart the view held goes.
void install(QChartView* view, QChart* chart) {
  QChart* old = view->chart();
  view->setChart(chart);
  delete old;
}

// A chart with nothing to draw says so in its title.
void install_empty(QChartView* view, QChart* chart, const QString& nothing) {
  chart->setTitle(chart->title() + ": " + nothing);
  install(view, chart);
}

// One share of the failure bars, in its outcome's colour.
QBarSet* failure_set(const QString& label, Outcome outcome) {
  auto* set = new QBarSet(label);
  set->setColor(failure_colour(outcome));
  set->setBorderColor(failure_colour(outcome));
  return set;
}

// Axis labels a size smaller than the window's text, so that station ids and procedures fit.
void small_labels(QAbstractAxis* axis) {
  QFont font = axis->labelsFont();
  font.setPointSizeF(font.pointSizeF() * 0.85);
  axis->setLabelsFont(font);
}

QValueAxis* percent_axis() {
  auto* axis = new QValueAxis;
  axis->setRange(0, 100);
  axis->setTickCount(6);
  axis->setLabelFormat("%.0f%%");
  small_labels(axis);
  return axis;
}

QString period_label(TimePoint start) {
  return QDateTime::fromMSecsSinceEpoch(start.time_since_epoch().count(), Qt::UTC)
      .toString("MM-dd");
}

QString station_label(const std::string& id) {
  return id.empty() ? QString("(no station id)") : QString::fromStdString(id);
}

}  // namespace

YieldCharts::YieldCharts(QWidget* parent) : QWidget(parent) {
  setObjectName("YieldCharts");
  setAccessibleName("Yield charts");
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // The failures have a bar for each procedure: they take the room of the two others.
  const auto view = [this, layout](const char* name, const char* accessible, int stretch) {
    auto* chart = new QChartView(this);
    chart->setObjectName(name);
    chart->setAccessibleName(accessible);
    chart->setRenderHint(QPainter::Antialiasing);
    chart->setMinimumHeight(280);
    layout->addWidget(chart, stretch);
    return chart;
  };
  chtTrend = view("chtTrend", "Pass rate and first-pass yield over time", 1);
  chtFailures = view("chtFailures", "Runs not passed by procedure", 2);
  chtSteps = view("chtSteps", "Unit results not passed by deciding step", 1);
  chtSteps->hide();
  chtStations = view("chtStations", "Yield by station", 1);
  show_nothing(QString());
}

void YieldCharts::show_figures(const YieldFigures& figures) {
  figures_ = figures;
  draw_trend();
  draw_failures();
  draw_steps();
  draw_stations();
}

void YieldCharts::show_nothing(const QString& text) {
  figures_ = {};
  for (QChartView* view : {chtTrend, chtFailures, chtSteps, chtStations}) {
    install(view, new_chart(text));
  }
  chtSteps->hide();
}

void YieldCharts::draw_trend() {
  const bool weeks = figures_.period == YieldPeriod::week;
  QChart* chart = new_chart(weeks ? "Yield by week (UTC, from Monday)" : "Yield by day (UTC)");
  const std::vector<YieldBucket>& trend = figures_.trend;
  if (trend.empty()) return install_empty(chtTrend, chart, "no runs");
  auto* pass = new QLineSeries;
  pass->setName("Pass rate");
  pass->setColor(kPassRateColour);
  auto* first = new QLineSeries;
  first->setName("First-pass yield");
  first->setColor(kFirstPassColour);
  for (std::size_t i = 0; i < trend.size(); ++i) {
    const YieldCounts& counts = trend[i].counts;
    if (counts.finished > 0) pass->append(double(i), counts.pass_rate() * 100.0);
    if (counts.first_runs > 0) first->append(double(i), counts.first_pass_yield() * 100.0);
  }
  auto* x = new QCategoryAxis;
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  const int step = std::max(1, int(std::ceil(double(trend.size()) / kTrendLabels)));
  for (std::size_t i = 0; i < trend.size(); i += std::size_t(step)) {
    x->append(period_label(trend[i].start), double(i));
  }
  x->setRange(-0.5, double(trend.size()) - 0.5);
  small_labels(x);
  // A date is read whole or not at all: beside the chart of deciding steps the chart is narrow.
  x->setTruncateLabels(false);
  QValueAxis* y = percent_axis();
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (QLineSeries* series : {pass, first}) {
    // The pass rate wider, under the yield: where the two are equal both still show.
    QPen pen = series->pen();
    pen.setWidthF(series == pass ? 4.0 : 2.0);
    series->setPen(pen);
    series->setPointsVisible(true);
    chart->addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
    connect(series, &QLineSeries::clicked, this,
            [this](const QPointF& point) { click_trend(point.x()); });
    connect(series, &QLineSeries::hovered, this, [this](const QPointF& point, bool on) {
      const long index = std::lround(point.x());
      if (!on || index < 0 || index >= long(figures_.trend.size())) return;
      const YieldBucket& bucket = figures_.trend[std::size_t(index)];
      QToolTip::showText(QCursor::pos(),
                         // One substitution: a station id may hold "%1" or markup itself.
                         QString("%1: %2 of %3 runs passed, first-pass yield %4 over %5 first runs")
                             .arg(period_label(bucket.start).toHtmlEscaped(),
                                  QString::number(qulonglong(bucket.counts.passed)),
                                  QString::number(qulonglong(bucket.counts.finished)),
                                  percent(bucket.counts.first_pass_yield()),
                                  QString::number(qulonglong(bucket.counts.first_runs))));
    });
  }
  install(chtTrend, chart);
}

void YieldCharts::click_trend(double x) {
  const long index = std::lround(x);
  if (index < 0 || index >= long(figures_.trend.size())) return;
  const YieldBucket& bucket = figures_.trend[std::size_t(index)];
  emit period_clicked(bucket.start, bucket.end);
}

void YieldCharts::draw_failures() {
  QChart* chart = new_chart("Runs not passed, by procedure");
  const std::vector<FailureCount>& failures = figures_.failures;
  if (failures.empty()) return install_empty(chtFailures, chart, "none");
  // One share of each bar per outcome, in the outcomes' order.
  std::vector<Outcome> outcomes;
  for (Outcome outcome : all_outcomes()) {
    for (const FailureCount& failure : failures) {
      const auto has =
          std::find_if(failure.outcomes.begin(), failure.outcomes.end(),
                       [outcome](const OutcomeCount& c) { return c.outcome == outcome; });
      if (has != failure.outcomes.end()) {
        outcomes.push_back(outcome);
        break;
      }
    }
  }
  auto* bars = new QStackedBarSeries;
  for (Outcome outcome : outcomes) {
    QBarSet* set = failure_set(QString::fromUtf8(text_id(outcome)), outcome);
    for (const FailureCount& failure : failures) {
      std::size_t count = 0;
      for (const OutcomeCount& c : failure.outcomes) {
        if (c.outcome == outcome) count = c.count;
      }
      set->append(double(count));
    }
    bars->append(set);
    connect(set, &QBarSet::clicked, this, [this, outcome](int index) {
      if (index >= 0 && index < int(figures_.failures.size())) {
        emit failures_clicked(figures_.failures[std::size_t(index)].procedure, outcome);
      }
    });
    connect(set, &QBarSet::hovered, this, [this, set](bool on, int index) {
      if (!on || index < 0 || index >= int(figures_.failures.size())) return;
      QToolTip::showText(
          QCursor::pos(),
          QString("%1: %2 %3 runs; click to list them")
              .arg(QString::fromUtf8(display_name(figures_.failures[std::size_t(index)].procedure)))
              .arg(set->at(index))
              .arg(set->label()));
    });
  }
  std::vector<std::pair<Procedure, std::size_t>> totals;
  for (const FailureCount& failure : failures)
    totals.emplace_back(failure.procedure, failure.count);
  // Many procedures: their names stand upright under their bars, whole.
  add_pareto(chart, bars, totals, 4);
  install(chtFailures, chart);
}

void YieldCharts::add_pareto(QChart* chart, QStackedBarSeries* bars,
                             const std::vector<std::pair<Procedure, std::size_t>>& totals,
                             int most_across) {
  // The running share of the whole, the Pareto line.
  auto* share = new QLineSeries;
  share->setName("Running share");
  share->setColor(kParetoColour);
  share->setPointsVisible(true);
  std::size_t total = 0;
  std::size_t most = 1;
  for (const auto& [procedure, count] : totals) {
    total += count;
    most = std::max(most, count);
  }
  std::size_t so_far = 0;
  QStringList names;
  for (std::size_t i = 0; i < totals.size(); ++i) {
    so_far += totals[i].second;
    share->append(double(i), total == 0 ? 0.0 : 100.0 * double(so_far) / double(total));
    names << QString::fromUtf8(display_name(totals[i].first));
  }
  chart->addSeries(bars);
  chart->addSeries(share);
  auto* x = new QBarCategoryAxis;
  x->append(names);
  small_labels(x);
  x->setTruncateLabels(false);
  if (names.size() > most_across) x->setLabelsAngle(-90);
  auto* y = new QValueAxis;
  y->setRange(0, double(most));
  y->setLabelFormat("%.0f");
  y->applyNiceNumbers();
  small_labels(y);
  QValueAxis* right = percent_axis();
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  chart->addAxis(right, Qt::AlignRight);
  bars->attachAxis(x);
  bars->attachAxis(y);
  share->attachAxis(x);
  share->attachAxis(right);
}

void YieldCharts::draw_steps() {
  chtSteps->setVisible(figures_.unit_results > 0);
  QChart* chart = new_chart("Steps failing unit results");
  const std::vector<StepFailureCount>& steps = figures_.step_failures;
  if (steps.empty()) return install_empty(chtSteps, chart, "none");
  QBarSet* failed = failure_set("fail", Outcome::failed);
  QBarSet* errors = failure_set("error", Outcome::error);
  std::vector<std::pair<Procedure, std::size_t>> totals;
  for (const StepFailureCount& step : steps) {
    failed->append(double(step.failed));
    errors->append(double(step.errors));
    totals.emplace_back(step.procedure, step.count());
  }
  auto* bars = new QStackedBarSeries;
  bars->append(failed);
  bars->append(errors);
  // The chart is narrow: names stand upright under their bars, whole, from the third on.
  add_pareto(chart, bars, totals, 2);
  for (QBarSet* set : {failed, errors}) {
    connect(set, &QBarSet::clicked, this, [this](int index) {
      if (index >= 0 && index < int(figures_.step_failures.size())) {
        emit step_failures_clicked(figures_.step_failures[std::size_t(index)].procedure);
      }
    });
    connect(set, &QBarSet::hovered, this, [this, set](bool on, int index) {
      if (!on || index < 0 || index >= int(figures_.step_failures.size())) return;
      QToolTip::showText(
          QCursor::pos(),
          QString("%1 decided %2 unit results with %3; click to list its runs in unit results")
              .arg(QString::fromUtf8(
                  display_name(figures_.step_failures[std::size_t(index)].procedure)))
              .arg(set->at(index))
              .arg(set->label()));
    });
  }
  install(chtSteps, chart);
}

void YieldCharts::draw_stations() {
  QChart* chart = new_chart("Yield by station");
  const std::vector<StationYield>& stations = figures_.stations;
  if (stations.empty()) return install_empty(chtStations, chart, "no runs");
  auto* pass = new QBarSet("Pass rate");
  pass->setColor(kPassRateColour);
  auto* first = new QBarSet("First-pass yield");
  first->setColor(kFirstPassColour);
  QStringList names;
  for (const StationYield& station : stations) {
    pass->append(station.counts.pass_rate() * 100.0);
    first->append(station.counts.first_pass_yield() * 100.0);
    names << station_label(station.station_id);
  }
  auto* bars = new QBarSeries;
  bars->append(pass);
  bars->append(first);
  chart->addSeries(bars);
  auto* x = new QBarCategoryAxis;
  x->append(names);
  small_labels(x);
  x->setTruncateLabels(false);
  // Beside the chart of deciding steps there is room for two names side by side.
  if (names.size() > (chtSteps->isHidden() ? 4U : 2U)) x->setLabelsAngle(-90);
  QValueAxis* y = percent_axis();
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  bars->attachAxis(x);
  bars->attachAxis(y);
  for (QBarSet* set : {pass, first}) {
    connect(set, &QBarSet::clicked, this, [this](int index) {
      if (index >= 0 && index < int(figures_.stations.size())) {
        emit station_clicked(figures_.stations[std::size_t(index)].station_id);
      }
    });
    connect(set, &QBarSet::hovered, this, [this](bool on, int index) {
      if (!on || index < 0 || index >= int(figures_.stations.size())) return;
      const StationYield& station = figures_.stations[std::size_t(index)];
      QToolTip::showText(QCursor::pos(),
                         // One substitution: a station id may hold "%1" or markup itself.
                         QString("%1: %2 of %3 runs passed, first-pass yield %4 over %5 first runs")
                             .arg(station_label(station.station_id).toHtmlEscaped(),
                                  QString::number(qulonglong(station.counts.passed)),
                                  QString::number(qulonglong(station.counts.finished)),
                                  percent(station.counts.first_pass_yield()),
                                  QString::number(qulonglong(station.counts.first_runs))));
    });
  }
  install(chtStations, chart);
}

}  // namespace app
