#include "records/schema.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <initializer_list>

#include "records/store_sql.h"

namespace records::sql {

namespace {

struct Migration {
  int to_version;
  std::initializer_list<const char*> statements;
  // Statements after those that differ between a station's file and a server, if any; `schema`
  // is a server's schema, quoted.
  QStringList (*dialect_statements)(const Dialect& dialect, const QString& schema) = nullptr;
};

// Adds `sign` times the run `row` to its group in run_days.
QString count_in_days(const QString& row, const char* sign) {
  return QStringLiteral(
             "INSERT INTO run_days (day, station_id, procedure_id, outcome, simulated,"
             " in_unit_result, runs, first_runs) VALUES (%1, %2.station_id, %2.procedure_id,"
             " %2.outcome, CASE WHEN %2.simulated <> 0 THEN 1 ELSE 0 END,"
             " CASE WHEN %2.unit_result_id IS NULL THEN 0 ELSE 1 END, %3 1, %3 %2.first_run)"
             " ON CONFLICT (day, station_id, procedure_id, outcome, simulated, in_unit_result)"
             " DO UPDATE SET runs = run_days.runs + excluded.runs,"
             " first_runs = run_days.first_runs + excluded.first_runs")
      .arg(utc_day_sql(row + QStringLiteral(".started_ms")), row, QLatin1String(sign));
}

// A unit's runs of a procedure: those of the unit `serial` and the procedure `procedure`, real or
// simulated as `simulated` (0 or 1) says (SQL expressions). A simulated unit is another unit.
QString runs_of(const QString& serial, const QString& procedure, const QString& simulated) {
  return QStringLiteral(
             "uut_serial = %1 AND procedure_id = %2 AND"
             " CASE WHEN simulated <> 0 THEN 1 ELSE 0 END = %3")
      .arg(serial, procedure, simulated);
}

// Their first run: the earliest finished one, on the clock of its station's records (made_ms),
// ties by id; none without a serial number.
QString first_of(const QString& runs) {
  return QStringLiteral(
             "(SELECT id FROM runs WHERE %1 AND uut_serial <> '' AND outcome <> 'running'"
             " ORDER BY COALESCE(made_ms, started_ms), id LIMIT 1)")
      .arg(runs);
}

// Marks their first run `first`, and no other run of theirs.
QStringList number_first(const QString& runs, const QString& first) {
  return {
      QStringLiteral("UPDATE runs SET first_run = 0 WHERE %1 AND first_run <> 0"
                     " AND (%2 IS NULL OR id <> %2)")
          .arg(runs, first),
      QStringLiteral("UPDATE runs SET first_run = 1 WHERE id = %1 AND first_run = 0").arg(first)};
}

// The runs of the unit and procedure of the row `row` ("NEW", "OLD").
QString runs_of_row(const QString& row) {
  return runs_of(row + QStringLiteral(".uut_serial"), row + QStringLiteral(".procedure_id"),
                 QStringLiteral("CASE WHEN %1.simulated <> 0 THEN 1 ELSE 0 END").arg(row));
}

// The columns a run's group in run_days, or its place among its unit's runs, is made of.
constexpr const char* kGroupColumns =
    "started_ms, station_id, procedure_id, outcome, simulated, unit_result_id, first_run";
constexpr const char* kOrderColumns =
    "outcome, uut_serial, procedure_id, simulated, made_ms, started_ms";

// A station's file: triggers in SQL alone.
QStringList file_counting() {
  const QString runs_of_new = runs_of_row(QStringLiteral("NEW"));
  const QString runs_of_old = runs_of_row(QStringLiteral("OLD"));
  const QStringList number_new = number_first(runs_of_new, first_of(runs_of_new));
  const QStringList number_old = number_first(runs_of_old, first_of(runs_of_old));
  const QString statement_end = QStringLiteral("; ");
  return {
      QStringLiteral("CREATE TRIGGER runs_first_run_inserted AFTER INSERT ON runs"
                     " WHEN NEW.outcome <> 'running' AND NEW.uut_serial <> '' BEGIN ") +
          number_new.join(statement_end) + QStringLiteral("; END"),
      // A run without a serial number has no first run to move, unless it lost its number.
      QStringLiteral("CREATE TRIGGER runs_first_run_changed AFTER UPDATE OF %1 ON runs"
                     " WHEN NEW.uut_serial <> '' OR NEW.first_run <> 0 BEGIN ")
              .arg(QLatin1String(kOrderColumns)) +
          number_new.join(statement_end) + QStringLiteral("; END"),
      // A run that became another unit's or procedure's leaves its first ones.
      QStringLiteral("CREATE TRIGGER runs_first_run_left AFTER UPDATE OF %1 ON runs"
                     " WHEN OLD.uut_serial <> NEW.uut_serial OR OLD.procedure_id <>"
                     " NEW.procedure_id OR (OLD.simulated <> 0) <> (NEW.simulated <> 0) BEGIN ")
              .arg(QLatin1String(kOrderColumns)) +
          number_old.join(statement_end) + QStringLiteral("; END"),
      // A first run deleted (by hand: the program deletes none) hands its place on.
      QStringLiteral("CREATE TRIGGER runs_first_run_deleted AFTER DELETE ON runs"
                     " WHEN OLD.first_run <> 0 BEGIN ") +
          number_old.join(statement_end) + QStringLiteral("; END"),
      QStringLiteral("CREATE TRIGGER run_days_inserted AFTER INSERT ON runs BEGIN ") +
          count_in_days(QStringLiteral("NEW"), "") + QStringLiteral("; END"),
      QStringLiteral("CREATE TRIGGER run_days_changed AFTER UPDATE OF %1 ON runs BEGIN ")
              .arg(QLatin1String(kGroupColumns)) +
          count_in_days(QStringLiteral("OLD"), "-") + statement_end +
          count_in_days(QStringLiteral("NEW"), "") + QStringLiteral("; END"),
      QStringLiteral("CREATE TRIGGER run_days_deleted AFTER DELETE ON runs BEGIN ") +
          count_in_days(QStringLiteral("OLD"), "-") + QStringLiteral("; END"),
  };
}

// A server: the same in functions that run with their owner's rights, since a station's role may
// only add runs. Each unit and procedure has a row in first_run_locks that its numbering locks
// first, so that two stations' runs of one unit, added at once, do not each become its first (a
// row's lock, unlike an advisory lock, costs no shared memory however many runs a transaction
// adds). The functions search their own schema only, then the session's temporary tables last, so
// that a station's table of the same name cannot take their counts; only the triggers may number.
QStringList server_counting(const QString& schema) {
  const QString runs = runs_of(QStringLiteral("a_serial"), QStringLiteral("a_procedure"),
                               QStringLiteral("a_simulated"));
  const QString owner_rights =
      QStringLiteral(" SECURITY DEFINER SET search_path = %1, pg_temp AS $$").arg(schema);
  const auto number_of = [](const char* row) {
    return QStringLiteral(
               " PERFORM runs_number_first(%1.uut_serial, %1.procedure_id,"
               " CASE WHEN %1.simulated <> 0 THEN 1 ELSE 0 END);")
        .arg(QLatin1String(row));
  };
  return {
      QStringLiteral("CREATE TABLE first_run_locks ("
                     " uut_serial TEXT NOT NULL,"
                     " procedure_id VARCHAR(32) NOT NULL,"
                     " simulated INTEGER NOT NULL,"
                     " PRIMARY KEY (uut_serial, procedure_id, simulated))"),
      QStringLiteral("CREATE FUNCTION runs_number_first(a_serial TEXT, a_procedure TEXT,"
                     " a_simulated INTEGER) RETURNS void LANGUAGE plpgsql") +
          owner_rights +
          QStringLiteral(" DECLARE first_id VARCHAR(64); BEGIN"
                         " INSERT INTO first_run_locks VALUES (a_serial, a_procedure, a_simulated)"
                         " ON CONFLICT (uut_serial, procedure_id, simulated)"
                         " DO UPDATE SET simulated = EXCLUDED.simulated;"
                         " first_id := %1; ")
              .arg(first_of(runs)) +
          number_first(runs, QStringLiteral("first_id")).join(QStringLiteral("; ")) +
          QStringLiteral("; END $$"),
      QStringLiteral("REVOKE EXECUTE ON FUNCTION runs_number_first(TEXT, TEXT, INTEGER)"
                     " FROM PUBLIC"),
      QStringLiteral("CREATE FUNCTION runs_first_run() RETURNS trigger LANGUAGE plpgsql") +
          owner_rights + QStringLiteral(" BEGIN IF TG_OP = 'DELETE' THEN") + number_of("OLD") +
          QStringLiteral(" RETURN NULL; END IF; IF TG_OP = 'UPDATE' THEN"
                         " IF OLD.uut_serial <> NEW.uut_serial OR OLD.procedure_id <>"
                         " NEW.procedure_id OR (OLD.simulated <> 0) <> (NEW.simulated <> 0) THEN") +
          number_of("OLD") + QStringLiteral(" END IF; END IF;") + number_of("NEW") +
          QStringLiteral(" RETURN NULL; END $$"),
      QStringLiteral("CREATE TRIGGER runs_first_run_inserted AFTER INSERT ON runs FOR EACH ROW"
                     " WHEN (NEW.outcome <> 'running' AND NEW.uut_serial <> '')"
                     " EXECUTE FUNCTION runs_first_run()"),
      QStringLiteral("CREATE TRIGGER runs_first_run_changed AFTER UPDATE OF %1 ON runs"
                     " FOR EACH ROW EXECUTE FUNCTION runs_first_run()")
          .arg(QLatin1String(kOrderColumns)),
      QStringLiteral("CREATE TRIGGER runs_first_run_deleted AFTER DELETE ON runs FOR EACH ROW"
                     " WHEN (OLD.first_run <> 0) EXECUTE FUNCTION runs_first_run()"),
      QStringLiteral("CREATE FUNCTION run_days_count() RETURNS trigger LANGUAGE plpgsql") +
          owner_rights +
          QStringLiteral(" BEGIN IF TG_OP <> 'INSERT' THEN %1; END IF;"
                         " IF TG_OP <> 'DELETE' THEN %2; END IF; RETURN NULL; END $$")
              .arg(count_in_days(QStringLiteral("OLD"), "-"),
                   count_in_days(QStringLiteral("NEW"), "")),
      QStringLiteral("CREATE TRIGGER run_days_counted AFTER INSERT OR DELETE OR UPDATE OF %1"
                     " ON runs FOR EACH ROW EXECUTE FUNCTION run_days_count()")
          .arg(QLatin1String(kGroupColumns)),
  };
}

QStringList counting(const Dialect& dialect, const QString& schema) {
  // The runs already kept, counted before the triggers count the next.
  QStringList statements{
      QStringLiteral("INSERT INTO run_days SELECT %1, station_id, procedure_id, outcome,"
                     " CASE WHEN simulated <> 0 THEN 1 ELSE 0 END,"
                     " CASE WHEN unit_result_id IS NULL THEN 0 ELSE 1 END, COUNT(*), SUM(first_run)"
                     " FROM runs GROUP BY 1, 2, 3, 4, 5, 6")
          .arg(utc_day_sql(QStringLiteral("started_ms")))};
  statements << (dialect.is_server() ? server_counting(schema) : file_counting());
  return statements;
}

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
    {6,
     // What the yield is read from without reading every run: each run's mark as the first run
     // of its unit and procedure (its earliest finished run in this store; a simulated unit is
     // another unit than a real one of the same serial number), and the runs counted
     // per UTC day, station, procedure, outcome, simulated or not and step of a unit result or
     // not. Triggers keep both as runs are added and changed; the numbers for the runs already
     // kept are made here.
     {"ALTER TABLE runs ADD COLUMN first_run INTEGER NOT NULL DEFAULT 0",
      "UPDATE runs SET first_run = 1 WHERE id IN (SELECT id FROM (SELECT id, ROW_NUMBER() OVER"
      " (PARTITION BY uut_serial, procedure_id, CASE WHEN simulated <> 0 THEN 1 ELSE 0 END"
      " ORDER BY COALESCE(made_ms, started_ms), id) AS n"
      " FROM runs WHERE outcome <> 'running' AND uut_serial <> '') numbered WHERE n = 1)",
      "CREATE TABLE run_days ("
      " day BIGINT NOT NULL,"
      " station_id TEXT NOT NULL,"
      " procedure_id VARCHAR(32) NOT NULL,"
      " outcome VARCHAR(32) NOT NULL,"
      " simulated INTEGER NOT NULL,"
      " in_unit_result INTEGER NOT NULL,"
      " runs BIGINT NOT NULL,"
      " first_runs BIGINT NOT NULL,"
      " PRIMARY KEY (day, station_id, procedure_id, outcome, simulated, in_unit_result))"},
     counting},
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
    if (!error && migration.dialect_statements != nullptr) {
      QString schema;
      if (dialect.is_server()) {
        if (query.exec(QStringLiteral("SELECT quote_ident(current_schema())")) && query.next()) {
          schema = query.value(0).toString();
        } else {
          error = dialect.error_of(query.lastError());
        }
      }
      for (const QString& statement : migration.dialect_statements(dialect, schema)) {
        if (error) break;
        error = exec(query, statement, dialect);
      }
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
