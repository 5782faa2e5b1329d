// What the records' own aggregate reads (records/yield_figures.h) share with the store: the SQL
// condition of a filter and the store's connection. Internal to src/records.
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <string>

#include "records/record_store.h"
#include "records/sql_dialect.h"

namespace records {

// The condition of a filter on `runs`: " WHERE ..." (empty for every run) and its values, in the
// order of its `?`.
struct Where {
  QString clause;
  QVariantList values;
};

// The tables a filter may select from: the runs, the runs counted by day (run_days, whose reader
// gives only filters it can hold: no text, serial or unit result, and times at a UTC day's
// start), or the unit results (the filter's procedure and outcome apply to runs only).
enum class FilterTable { runs, run_days, unit_results };

Where where_of(const RecordFilter& filter, const sql::Dialect& dialect,
               FilterTable table = FilterTable::runs);

// The UTC day (days since 1970-01-01, rounded down also before it) of the time in milliseconds
// the SQL expression `started_ms` gives.
inline QString utc_day_sql(const QString& started_ms) {
  return QStringLiteral("((%1 - CASE WHEN %1 < 0 THEN %2 ELSE 0 END) / %3)")
      .arg(started_ms)
      .arg(kDayMs - 1)
      .arg(kDayMs);
}

inline void bind_all(QSqlQuery& query, const QVariantList& values) {
  for (const QVariant& value : values) query.addBindValue(value);
}

// The summary of the runs `filter` selects (RecordStore::summarize), counted as the yield figures
// count them; the error's text, or empty.
std::string summarize_runs(RecordStore& store, const RecordFilter& filter, Summary& summary);

// A store's connection, on the store's thread.
struct StoreAccess {
  // Empty when the store is open, else the reason it is not.
  static std::string not_open(const RecordStore& store);
  static QSqlDatabase database(const RecordStore& store);
  static const sql::Dialect& dialect(const RecordStore& store);
};

}  // namespace records
