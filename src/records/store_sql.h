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

Where where_of(const RecordFilter& filter, const sql::Dialect& dialect);

inline void bind_all(QSqlQuery& query, const QVariantList& values) {
  for (const QVariant& value : values) query.addBindValue(value);
}

// A store's connection, on the store's thread.
struct StoreAccess {
  // Empty when the store is open, else the reason it is not.
  static std::string not_open(const RecordStore& store);
  static QSqlDatabase database(const RecordStore& store);
  static const sql::Dialect& dialect(const RecordStore& store);
};

}  // namespace records
