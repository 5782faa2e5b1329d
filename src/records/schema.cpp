#include "records/schema.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <initializer_list>

namespace records::sql {

namespace {

struct Migration {
  int to_version;
  std::initializer_list<const char*> statements;
};

// Portable SQL: plain types, no autoincrement, times as milliseconds since 1970 UTC.
const Migration kMigrations[] = {
    {1,
     {"CREATE TABLE runs ("
      " id VARCHAR(64) NOT NULL PRIMARY KEY,"
      " station_id TEXT NOT NULL,"
      " started_ms BIGINT NOT NULL,"
      " ended_ms BIGINT,"
      " progress_ms BIGINT,"
      " procedure_id VARCHAR(32) NOT NULL,"
      " outcome VARCHAR(32) NOT NULL,"
      " passes_run INTEGER NOT NULL,"
      " failures INTEGER NOT NULL,"
      " uut_reply TEXT NOT NULL,"
      " uut_maker TEXT NOT NULL,"
      " uut_model TEXT NOT NULL,"
      " uut_serial TEXT NOT NULL,"
      " uut_firmware TEXT NOT NULL,"
      " qcu_reply TEXT NOT NULL,"
      " qcu_maker TEXT NOT NULL,"
      " qcu_model TEXT NOT NULL,"
      " qcu_serial TEXT NOT NULL,"
      " qcu_firmware TEXT NOT NULL,"
      " uut_resource TEXT NOT NULL,"
      " qcu_resource TEXT NOT NULL,"
      " technician TEXT NOT NULL,"
      " top_serial TEXT NOT NULL,"
      " sub_serial TEXT NOT NULL,"
      " visa_library TEXT NOT NULL,"
      " simulated INTEGER NOT NULL,"
      " self_test_result INTEGER,"
      " memory_miscompares BIGINT,"
      " cal_constant_read DOUBLE PRECISION,"
      " cal_constant_sent DOUBLE PRECISION,"
      " non_vol_address INTEGER,"
      " program_version TEXT NOT NULL)",
      // The reports apart, so that lists and summaries read narrow rows.
      "CREATE TABLE run_reports ("
      " run_id VARCHAR(64) NOT NULL PRIMARY KEY REFERENCES runs (id) ON DELETE CASCADE,"
      " report TEXT NOT NULL)",
      "CREATE TABLE run_errors ("
      " run_id VARCHAR(64) NOT NULL REFERENCES runs (id) ON DELETE CASCADE,"
      " position INTEGER NOT NULL,"
      " message TEXT NOT NULL,"
      " PRIMARY KEY (run_id, position))",
      "CREATE INDEX runs_started ON runs (started_ms)",
      "CREATE INDEX runs_outcome ON runs (outcome)",
      // Covers the first-pass yield: each unit's runs of a procedure in the order they began.
      "CREATE INDEX runs_first_pass ON runs"
      " (uut_serial, procedure_id, started_ms, id, outcome, simulated)"}},
    {2,
     // The finished runs a station has still to forward to the line's shared store, in the
     // order they finished.
     {"CREATE TABLE forward_queue ("
      " run_id VARCHAR(64) NOT NULL PRIMARY KEY REFERENCES runs (id) ON DELETE CASCADE,"
      " sequence BIGINT NOT NULL,"
      " queued_ms BIGINT NOT NULL)",
      "CREATE INDEX forward_queue_order ON forward_queue (sequence)",
      // A line's shared store is read one station at a time.
      "CREATE INDEX runs_station ON runs (station_id, started_ms)"}},
    {3,
     // Where a run falls among its station's runs, on a clock that never goes back; none for
     // the runs written before, which their start places. The first-pass index orders by it
     // and holds both columns, so that the yield reads the index alone.
     {"ALTER TABLE runs ADD COLUMN made_ms BIGINT", "DROP INDEX runs_first_pass",
      "CREATE INDEX runs_first_pass ON runs"
      " (uut_serial, procedure_id, (COALESCE(made_ms, started_ms)), id, outcome, simulated,"
      " made_ms, started_ms)"}},
    {4,
     // Finished runs the shared store refused for their content, taken out of the forward queue
     // so that the runs behind them go on: kept with the store's reason, in the order they were
     // set aside.
     {"CREATE TABLE forward_refused ("
      " run_id VARCHAR(64) NOT NULL PRIMARY KEY REFERENCES runs (id) ON DELETE CASCADE,"
      " refused_ms BIGINT NOT NULL,"
      " reason TEXT NOT NULL)",
      "CREATE INDEX forward_refused_order ON forward_refused (refused_ms)"}},
    {5,
     // A unit's final test: one unit result for the sequence of procedures run on one unit, and
     // the link from each step's run to it. No foreign key: a shared store may take a unit's
     // runs before the unit result, which is forwarded once it ends.
     {"CREATE TABLE unit_results ("
      " id VARCHAR(64) NOT NULL PRIMARY KEY,"
      " station_id TEXT NOT NULL,"
      " started_ms BIGINT NOT NULL,"
      " ended_ms BIGINT,"
      " made_ms BIGINT,"
      " technician TEXT NOT NULL,"
      " top_serial TEXT NOT NULL,"
      " sub_serial TEXT NOT NULL,"
      " uut_reply TEXT NOT NULL,"
      " uut_maker TEXT NOT NULL,"
      " uut_model TEXT NOT NULL,"
      " uut_serial TEXT NOT NULL,"
      " uut_firmware TEXT NOT NULL,"
      " qcu_reply TEXT NOT NULL,"
      " qcu_maker TEXT NOT NULL,"
      " qcu_model TEXT NOT NULL,"
      " qcu_serial TEXT NOT NULL,"
      " qcu_firmware TEXT NOT NULL,"
      " uut_resource TEXT NOT NULL,"
      " qcu_resource TEXT NOT NULL,"
      " visa_library TEXT NOT NULL,"
      " simulated INTEGER NOT NULL,"
      " program_version TEXT NOT NULL,"
      " sequence_name TEXT NOT NULL,"
      " verdict VARCHAR(32) NOT NULL,"
      " deciding_step INTEGER,"
      " deciding_procedure VARCHAR(32),"
      " finding TEXT NOT NULL)",
      "CREATE INDEX unit_results_started ON unit_results (started_ms)",
      "CREATE INDEX unit_results_station ON unit_results (station_id, started_ms)",
      "CREATE INDEX unit_results_serial ON unit_results (top_serial, started_ms)",
      "ALTER TABLE runs ADD COLUMN unit_result_id VARCHAR(64)",
      "CREATE INDEX runs_unit_result ON runs (unit_result_id)",
      // The finished unit results a station has still to forward, in the order they finished;
      // one the shared store refused for its content is kept with the store's reason and skipped.
      "CREATE TABLE unit_result_queue ("
      " unit_result_id VARCHAR(64) NOT NULL PRIMARY KEY"
      " REFERENCES unit_results (id) ON DELETE CASCADE,"
      " sequence BIGINT NOT NULL,"
      " queued_ms BIGINT NOT NULL,"
      " refused_ms BIGINT,"
      " reason TEXT)",
      "CREATE INDEX unit_result_queue_order ON unit_result_queue (sequence)"}},
};

StoreError exec(QSqlQuery& query, const QString& statement, const Dialect& dialect) {
  if (query.exec(statement)) return {};
  return dialect.error_of(query.lastError());
}

}  // namespace

SchemaVersion schema_version(QSqlDatabase& database, const Dialect& dialect) {
  bool exists = false;
  if (StoreError error = dialect.table_exists(database, QStringLiteral("schema_version"), exists)) {
    return {0, error};
  }
  if (!exists) return {0, {}};
  QSqlQuery query(database);
  if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version"))) {
    return {0, dialect.error_of(query.lastError())};
  }
  return {query.next() ? query.value(0).toInt() : 0, {}};
}

StoreError migrate(QSqlDatabase& database, const Dialect& dialect) {
  const SchemaVersion current = schema_version(database, dialect);
  if (current.error) return current.error;
  if (current.version > kSchemaVersion) {
    return {Failure::newer_schema, "schema version " + std::to_string(current.version)};
  }
  for (const Migration& migration : kMigrations) {
    if (migration.to_version <= current.version) continue;
    if (!database.transaction()) return dialect.error_of(database.lastError());
    QSqlQuery query(database);
    // Another store may have migrated since the version was read: read it again under the lock.
    StoreError error = dialect.lock_schema(database);
    if (!error) {
      const SchemaVersion locked = schema_version(database, dialect);
      error = locked.error;
      if (!error && locked.version > kSchemaVersion) {
        error = {Failure::newer_schema, "schema version " + std::to_string(locked.version)};
      }
      if (!error && locked.version >= migration.to_version) {
        if (!database.commit()) return dialect.error_of(database.lastError());
        continue;
      }
    }
    if (!error && migration.to_version == 1) {
      error = exec(query, QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
                   dialect);
    }
    for (const char* statement : migration.statements) {
      if (error) break;
      error = exec(query, QString::fromLatin1(statement), dialect);
    }
    if (!error) {
      query.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
      query.addBindValue(migration.to_version);
      if (!query.exec()) error = dialect.error_of(query.lastError());
    }
    if (!error && !database.commit()) error = dialect.error_of(database.lastError());
    if (error) {
      database.rollback();
      return error;
    }
  }
  return {};
}

}  // namespace records::sql
