#include "records/yield_figures.h"

#include <QSqlError>
#include <QVariant>
#include <algorithm>
#include <map>
#include <utility>

#include "records/store_sql.h"

namespace records {

namespace {

constexpr long long kDayMs = 86'400'000;

// Days since 1970-01-01 (UTC), rounded down also before it.
long long day_of(long long ms) { return ms >= 0 ? ms / kDayMs : -((-ms + kDayMs - 1) / kDayMs); }

TimePoint day_start(long long day) { return TimePoint{std::chrono::milliseconds{day * kDayMs}}; }

// The day a run started in, as the store computes it (rounded down also before 1970).
const QString kDayColumn =
    QStringLiteral("((started_ms - CASE WHEN started_ms < 0 THEN %1 ELSE 0 END) / %2)")
        .arg(kDayMs - 1)
        .arg(kDayMs);

// Counts grouped by day and station, read into `into` (the first runs' columns or the others').
using Grouped = std::map<std::pair<long long, std::string>, YieldCounts>;

std::string read_grouped(QSqlDatabase& db, const QString& statement, const QVariantList& values,
                         bool first_runs, Grouped& into) {
  QSqlQuery query(db);
  query.setForwardOnly(true);
  if (!query.prepare(statement)) return query.lastError().text().toStdString();
  bind_all(query, values);
  if (!query.exec()) return query.lastError().text().toStdString();
  while (query.next()) {
    YieldCounts& counts =
        into[{query.value(0).toLongLong(), query.value(1).toString().toStdString()}];
    if (first_runs) {
      counts.first_runs += query.value(2).toULongLong();
      counts.first_runs_passed += query.value(3).toULongLong();
    } else {
      counts.count += query.value(2).toULongLong();
      counts.finished += query.value(3).toULongLong();
      counts.passed += query.value(4).toULongLong();
    }
  }
  if (query.lastError().isValid()) return query.lastError().text().toStdString();
  return {};
}

std::string read_figures(RecordStore& store, const RecordFilter& filter, YieldFigures& figures) {
  QSqlDatabase db = StoreAccess::database(store);
  const sql::Dialect& dialect = StoreAccess::dialect(store);
  const Where where = where_of(filter, dialect);
  const QString and_also =
      where.clause.isEmpty() ? QStringLiteral(" WHERE ") : where.clause + QStringLiteral(" AND ");

  Grouped grouped;
  std::string error =
      read_grouped(db,
                   QStringLiteral("SELECT %1, station_id, COUNT(*),"
                                  " SUM(CASE WHEN outcome <> 'running' THEN 1 ELSE 0 END),"
                                  " SUM(CASE WHEN outcome = 'passed' THEN 1 ELSE 0 END) FROM runs")
                           .arg(kDayColumn) +
                       where.clause + QStringLiteral(" GROUP BY 1, 2"),
                   where.values, false, grouped);
  if (!error.empty()) return error;
  // Summary's first runs, each kept with its day and station.
  error = read_grouped(
      db,
      QStringLiteral("SELECT %1, station_id, COUNT(*),"
                     " SUM(CASE WHEN outcome = 'passed' THEN 1 ELSE 0 END) FROM"
                     " (SELECT station_id, started_ms, outcome, ROW_NUMBER() OVER (PARTITION BY"
                     " uut_serial, procedure_id ORDER BY COALESCE(made_ms, started_ms), id)"
                     " AS run_number FROM runs")
              .arg(kDayColumn) +
          and_also +
          QStringLiteral("outcome <> 'running' AND uut_serial <> '') first_runs"
                         " WHERE run_number = 1 GROUP BY 1, 2"),
      where.values, true, grouped);
  if (!error.empty()) return error;

  // The runs that did not pass are few: counted apart, they cost a fraction of a count of all.
  QSqlQuery failures(db);
  failures.setForwardOnly(true);
  failures.prepare(QStringLiteral("SELECT procedure_id, outcome, COUNT(*) FROM runs") + and_also +
                   QStringLiteral("outcome NOT IN ('passed', 'running') GROUP BY 1, 2"));
  bind_all(failures, where.values);
  if (!failures.exec()) return failures.lastError().text().toStdString();
  std::map<Procedure, std::map<Outcome, std::size_t>> by_procedure;
  while (failures.next()) {
    // Runs of a procedure or outcome this program does not know are left out, as every read
    // leaves them out.
    const auto procedure = procedure_from_text_id(failures.value(0).toString().toStdString());
    const auto outcome = outcome_from_text_id(failures.value(1).toString().toStdString());
    if (procedure && outcome) by_procedure[*procedure][*outcome] += failures.value(2).toULongLong();
  }
  for (const auto& [procedure, outcomes] : by_procedure) {
    FailureCount failure{procedure, 0, {}};
    for (const auto& [outcome, count] : outcomes) {
      failure.count += count;
      failure.outcomes.push_back({outcome, count});
    }
    figures.failures.push_back(std::move(failure));
  }
  std::stable_sort(figures.failures.begin(), figures.failures.end(),
                   [](const FailureCount& a, const FailureCount& b) { return a.count > b.count; });

  if (!filter.include_simulated) {
    RecordFilter with_simulated = filter;
    with_simulated.include_simulated = true;
    const Where all = where_of(with_simulated, dialect);
    QSqlQuery hidden(db);
    hidden.prepare(
        QStringLiteral("SELECT COUNT(*) FROM runs") +
        (all.clause.isEmpty() ? QStringLiteral(" WHERE ") : all.clause + QStringLiteral(" AND ")) +
        QStringLiteral("simulated <> 0"));
    bind_all(hidden, all.values);
    if (!hidden.exec() || !hidden.next()) return hidden.lastError().text().toStdString();
    figures.hidden_simulated = hidden.value(0).toULongLong();
  }

  // The span the trend covers: the filter's, or the runs' where it is open.
  std::optional<long long> first_day;
  std::optional<long long> last_day;
  if (filter.started_from) first_day = day_of(filter.started_from->time_since_epoch().count());
  if (filter.started_before) {
    last_day = day_of(filter.started_before->time_since_epoch().count() - 1);
  }
  if (!grouped.empty()) {
    if (!first_day) first_day = grouped.begin()->first.first;
    if (!last_day) last_day = grouped.rbegin()->first.first;
  }
  figures.period = first_day && last_day ? period_for(day_start(*first_day), day_start(*last_day))
                                         : YieldPeriod::day;

  std::map<long long, YieldCounts> periods;
  std::map<std::string, YieldCounts> stations;
  for (const auto& [key, counts] : grouped) {
    const TimePoint start = period_start(figures.period, day_start(key.first));
    periods[start.time_since_epoch().count()] += counts;
    stations[key.second] += counts;
    figures.total += counts;
  }
  for (const auto& [start, counts] : periods) {
    const TimePoint begin{std::chrono::milliseconds{start}};
    figures.trend.push_back({begin, period_end(figures.period, begin), counts});
  }
  for (auto& [station, counts] : stations) figures.stations.push_back({station, counts});
  return {};
}

}  // namespace

YieldCounts& YieldCounts::operator+=(const YieldCounts& other) {
  count += other.count;
  finished += other.finished;
  passed += other.passed;
  first_runs += other.first_runs;
  first_runs_passed += other.first_runs_passed;
  return *this;
}

YieldPeriod period_for(TimePoint first, TimePoint last) {
  const long long days =
      day_of(last.time_since_epoch().count()) - day_of(first.time_since_epoch().count()) + 1;
  return days > kMostDays ? YieldPeriod::week : YieldPeriod::day;
}

TimePoint period_start(YieldPeriod period, TimePoint time) {
  long long day = day_of(time.time_since_epoch().count());
  // 1970-01-01 was a Thursday: three days after a Monday.
  if (period == YieldPeriod::week) day -= ((day + 3) % 7 + 7) % 7;
  return day_start(day);
}

TimePoint period_end(YieldPeriod period, TimePoint start) {
  return start + std::chrono::milliseconds{(period == YieldPeriod::week ? 7 : 1) * kDayMs};
}

ReadResult<YieldFigures> read_yield_figures(RecordStore& store, const RecordFilter& filter) {
  ReadResult<YieldFigures> result;
  result.error = StoreAccess::not_open(store);
  if (!result.error.empty()) return result;
  result.error = store.read_together([&] { return read_figures(store, filter, result.value); });
  if (!result.error.empty()) result.value = {};
  return result;
}

}  // namespace records
