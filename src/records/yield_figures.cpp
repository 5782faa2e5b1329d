#include "records/yield_figures.h"

#include <QSqlError>
#include <QVariant>
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "records/store_sql.h"

namespace records {

namespace {

// Days since 1970-01-01 (UTC), rounded down also before it.
long long day_of(long long ms) { return ms >= 0 ? ms / kDayMs : -((-ms + kDayMs - 1) / kDayMs); }

TimePoint day_start(long long day) { return TimePoint{std::chrono::milliseconds{day * kDayMs}}; }

// The day a run started in, as the store computes it.
const QString kDayColumn = utc_day_sql(QStringLiteral("started_ms"));

TimePoint day_floor(TimePoint time) { return day_start(day_of(time.time_since_epoch().count())); }

TimePoint day_ceiling(TimePoint time) {
  const TimePoint floor = day_floor(time);
  return floor == time ? time : floor + std::chrono::milliseconds{kDayMs};
}

// The SQL of the figures' reads, over the runs or over run_days: each read sums one column per
// run, or the counts of a group of runs.
struct Source {
  FilterTable table;
  QString from;       // " FROM ..."
  QString day;        // the day's column
  QString simulated;  // 1 for a simulated run, else 0
  QString runs;       // how many runs a row is
  QString first_runs;

  static Source of(FilterTable table) {
    if (table == FilterTable::run_days) {
      return {table,
              QStringLiteral(" FROM run_days"),
              QStringLiteral("day"),
              QStringLiteral("simulated"),
              QStringLiteral("runs"),
              QStringLiteral("first_runs")};
    }
    return {table,
            QStringLiteral(" FROM runs"),
            kDayColumn,
            QStringLiteral("CASE WHEN simulated <> 0 THEN 1 ELSE 0 END"),
            QStringLiteral("1"),
            QStringLiteral("first_run")};
  }
  QString sum_where(const QString& condition, const QString& column) const {
    return QStringLiteral("SUM(CASE WHEN %1 THEN %2 ELSE 0 END)").arg(condition, column);
  }
};

QString and_also(const Where& where) {
  return where.clause.isEmpty() ? QStringLiteral(" WHERE ")
                                : where.clause + QStringLiteral(" AND ");
}

// Runs `statement` and hands each row to `row`; the error's text, or empty.
template <typename Row>
std::string read_rows(QSqlDatabase& db, const QString& statement, const QVariantList& values,
                      Row&& row) {
  QSqlQuery query(db);
  query.setForwardOnly(true);
  if (!query.prepare(statement)) return query.lastError().text().toStdString();
  bind_all(query, values);
  if (!query.exec()) return query.lastError().text().toStdString();
  while (query.next()) row(query);
  if (query.lastError().isValid()) return query.lastError().text().toStdString();
  return {};
}

std::size_t count_at(const QSqlQuery& query, int column) {
  return query.value(column).toULongLong();
}

// The counts by day and station, simulated runs apart.
using Grouped = std::map<std::pair<long long, std::string>, YieldCounts>;

std::string read_counts(QSqlDatabase& db, const sql::Dialect& dialect, const Source& source,
                        const RecordFilter& filter, Grouped& grouped, std::size_t& hidden) {
  // Simulated runs are counted in the same read, so that the ones the filter hides are told.
  RecordFilter with_simulated = filter;
  with_simulated.include_simulated = true;
  const Where where = where_of(with_simulated, dialect, source.table);
  const QString passed = QStringLiteral("outcome = 'passed'");
  const QString statement =
      QStringLiteral("SELECT %1, station_id, %2, SUM(%3), %4, %5, SUM(%6), %7")
          .arg(source.day, source.simulated, source.runs,
               source.sum_where(QStringLiteral("outcome <> 'running'"), source.runs),
               source.sum_where(passed, source.runs), source.first_runs,
               source.sum_where(passed, source.first_runs)) +
      source.from + where.clause + QStringLiteral(" GROUP BY 1, 2, 3");
  return read_rows(db, statement, where.values, [&](const QSqlQuery& query) {
    const YieldCounts counts{count_at(query, 3), count_at(query, 4), count_at(query, 5),
                             count_at(query, 6), count_at(query, 7)};
    if (query.value(2).toInt() != 0 && !filter.include_simulated) {
      hidden += counts.count;
      return;
    }
    // run_days keeps groups whose runs have all changed into others: they count nothing.
    if (counts.count == 0) return;
    grouped[{query.value(0).toLongLong(), query.value(1).toString().toStdString()}] += counts;
  });
}

// The runs that did not pass, per procedure and outcome.
using FailuresByProcedure = std::map<Procedure, std::map<Outcome, std::size_t>>;

std::string read_failures(QSqlDatabase& db, const sql::Dialect& dialect, const Source& source,
                          const RecordFilter& filter, FailuresByProcedure& by_procedure) {
  const Where where = where_of(filter, dialect, source.table);
  return read_rows(
      db,
      QStringLiteral("SELECT procedure_id, outcome, SUM(%1)").arg(source.runs) + source.from +
          and_also(where) + QStringLiteral("outcome NOT IN ('passed', 'running') GROUP BY 1, 2"),
      where.values, [&](const QSqlQuery& query) {
        // Runs of a procedure or outcome this program does not know are left out, as every read
        // leaves them out.
        const auto procedure = procedure_from_text_id(query.value(0).toString().toStdString());
        const auto outcome = outcome_from_text_id(query.value(1).toString().toStdString());
        if (procedure && outcome) by_procedure[*procedure][*outcome] += count_at(query, 2);
      });
}

// The failures, the procedure with the most first.
std::vector<FailureCount> failures_of(const FailuresByProcedure& by_procedure) {
  std::vector<FailureCount> failures;
  for (const auto& [procedure, outcomes] : by_procedure) {
    FailureCount failure{procedure, 0, {}};
    for (const auto& [outcome, count] : outcomes) {
      if (count == 0) continue;
      failure.count += count;
      failure.outcomes.push_back({outcome, count});
    }
    if (failure.count != 0) failures.push_back(std::move(failure));
  }
  std::stable_sort(failures.begin(), failures.end(),
                   [](const FailureCount& a, const FailureCount& b) { return a.count > b.count; });
  return failures;
}

// The unit results, and the steps that decided those that failed or ended in error.
std::string read_unit_results(QSqlDatabase& db, const sql::Dialect& dialect,
                              const RecordFilter& filter, YieldFigures& figures) {
  const Where where = where_of(filter, dialect, FilterTable::unit_results);
  std::map<Procedure, StepFailureCount> steps;
  std::string error = read_rows(
      db,
      QStringLiteral("SELECT verdict, deciding_procedure, COUNT(*) FROM unit_results") +
          and_also(where) + QStringLiteral("verdict <> 'running' GROUP BY 1, 2"),
      where.values, [&](const QSqlQuery& query) {
        const auto verdict = unit_verdict_from_text_id(query.value(0).toString().toStdString());
        if (!verdict) return;
        const std::size_t count = count_at(query, 2);
        figures.unit_results += count;
        if (*verdict == UnitVerdict::pass) figures.unit_results_passed += count;
        const auto procedure = procedure_from_text_id(query.value(1).toString().toStdString());
        if (!procedure || (*verdict != UnitVerdict::fail && *verdict != UnitVerdict::error)) return;
        StepFailureCount& step =
            steps.try_emplace(*procedure, StepFailureCount{*procedure}).first->second;
        (*verdict == UnitVerdict::fail ? step.failed : step.errors) += count;
      });
  if (!error.empty()) return error;
  for (const auto& [procedure, step] : steps) figures.step_failures.push_back(step);
  std::stable_sort(
      figures.step_failures.begin(), figures.step_failures.end(),
      [](const StepFailureCount& a, const StepFailureCount& b) { return a.count() > b.count(); });
  return {};
}

// A part of what a filter selects, and where it is counted from.
struct Part {
  Source source;
  RecordFilter filter;
};

// Where the runs `filter` selects are counted from: the whole UTC days within its span from
// run_days, and the runs of a day its span cuts (the window's local days, a time to the minute)
// from the runs; all of them from the runs when the filter asks what run_days does not keep (a
// text, a serial, a unit result) or its span is within a day.
std::vector<Part> parts_of(const RecordFilter& filter, YieldSource from) {
  const Part runs{Source::of(FilterTable::runs), filter};
  if (from == YieldSource::runs || !filter.text.empty() || !filter.serial.empty() ||
      !filter.unit_result.empty()) {
    return {runs};
  }
  Part days{Source::of(FilterTable::run_days), filter};
  if (filter.started_from) days.filter.started_from = day_ceiling(*filter.started_from);
  if (filter.started_before) days.filter.started_before = day_floor(*filter.started_before);
  if (days.filter.started_from && days.filter.started_before &&
      *days.filter.started_from >= *days.filter.started_before) {
    return {runs};
  }
  std::vector<Part> parts{days};
  if (filter.started_from != days.filter.started_from) {
    parts.push_back(runs);
    parts.back().filter.started_before = days.filter.started_from;
  }
  if (filter.started_before != days.filter.started_before) {
    parts.push_back(runs);
    parts.back().filter.started_from = days.filter.started_before;
  }
  return parts;
}

std::string read_figures(RecordStore& store, const RecordFilter& filter, YieldSource from,
                         YieldFigures& figures) {
  QSqlDatabase db = StoreAccess::database(store);
  const sql::Dialect& dialect = StoreAccess::dialect(store);
  Grouped grouped;
  FailuresByProcedure failures;
  for (const Part& part : parts_of(filter, from)) {
    std::string error =
        read_counts(db, dialect, part.source, part.filter, grouped, figures.hidden_simulated);
    if (error.empty()) error = read_failures(db, dialect, part.source, part.filter, failures);
    if (!error.empty()) return error;
  }
  figures.failures = failures_of(failures);
  if (std::string error = read_unit_results(db, dialect, filter, figures); !error.empty()) {
    return error;
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

std::string summarize_runs(RecordStore& store, const RecordFilter& filter, Summary& summary) {
  QSqlDatabase db = StoreAccess::database(store);
  Grouped grouped;
  std::size_t hidden = 0;
  for (const Part& part : parts_of(filter, YieldSource::fastest)) {
    const std::string error =
        read_counts(db, StoreAccess::dialect(store), part.source, part.filter, grouped, hidden);
    if (!error.empty()) return error;
  }
  std::map<std::string, StationCounts> stations;
  for (const auto& [key, counts] : grouped) {
    summary.count += counts.count;
    summary.finished += counts.finished;
    summary.passed += counts.passed;
    summary.first_runs += counts.first_runs;
    summary.first_runs_passed += counts.first_runs_passed;
    StationCounts& station = stations[key.second];
    station.station_id = key.second;
    station.count += counts.count;
    station.finished += counts.finished;
    station.passed += counts.passed;
  }
  // Ordered here, byte by byte: the servers' collations would order texts each their own way.
  for (auto& [id, counts] : stations) summary.stations.push_back(std::move(counts));
  return {};
}

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

ReadResult<YieldFigures> read_yield_figures(RecordStore& store, const RecordFilter& filter,
                                            YieldSource from) {
  ReadResult<YieldFigures> result;
  result.error = StoreAccess::not_open(store);
  if (!result.error.empty()) return result;
  result.error =
      store.read_together([&] { return read_figures(store, filter, from, result.value); });
  if (!result.error.empty()) result.value = {};
  return result;
}

}  // namespace records
