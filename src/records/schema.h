// The store's tables and their forward migrations. Internal to src/records.
#pragma once

#include <QSqlDatabase>

#include "records/sql_dialect.h"

namespace records::sql {

// The version this program writes. A store at a lower version is migrated forward on opening, one
// step per transaction; a store at a higher one is left alone.
inline constexpr int kSchemaVersion = 6;

// The version a store holds; 0 for a fresh one.
struct SchemaVersion {
  int version = 0;
  StoreError error;
};
SchemaVersion schema_version(QSqlDatabase& database, const Dialect& dialect);

StoreError migrate(QSqlDatabase& database, const Dialect& dialect);

}  // namespace records::sql
