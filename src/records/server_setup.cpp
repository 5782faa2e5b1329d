#include "records/server_setup.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include "records/schema.h"
#include "records/server_location.h"
#include "records/sql_dialect.h"

namespace records {

namespace {

// The tables a station adds runs to and reads; every other table of the schema it may not touch.
constexpr const char* kStationTables[] = {"runs", "run_reports", "run_errors", "unit_results"};
constexpr const char* kOtherTables[] = {"schema_version", "run_days",        "first_run_locks",
                                        "forward_queue",  "forward_refused", "unit_result_queue"};

// What makes a role unfit for the stations: each could change every record however granted.
struct Unfit {
  int bit;
  const char* why;
};
constexpr Unfit kUnfit[] = {
    {1, "is a superuser"},
    {2, "may create roles (CREATEROLE), and so grant itself the owner's"},
    // NOINHERIT or not: a member may SET ROLE to the owner.
    {4, "is the owner of the records or a member of it"},
    // An earlier set-up gave each station role a schema of its own name, which its search path
    // finds before the records.
    {8, "owns a schema or a table in this database"},
    {16, "may create tables in the records' schema"},
};

class Setup {
 public:
  Setup(const std::string& line, std::ostream& err)
      : line_(line),
        err_(err),
        name_(QStringLiteral("quor_setup_") + QUuid::createUuid().toString()) {}
  ~Setup() {
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  Setup(const Setup&) = delete;
  Setup& operator=(const Setup&) = delete;

  bool open() {
    QSqlDatabase db = QSqlDatabase::addDatabase(dialect_.driver_name(), name_);
    if (!db.isValid()) return !fail({sql::Failure::other, "the Qt QPSQL driver is not installed"});
    if (fail(dialect_.locate(db, line_, std::chrono::seconds{30}))) return false;
    if (!db.open()) return !fail(dialect_.error_of(db.lastError()));
    if (fail(dialect_.configure(db, true, std::chrono::seconds{30}))) return false;
    // A database the stations could not keep every text in (not UTF8) is refused here too.
    return !fail(dialect_.check_integrity(db));
  }

  QSqlDatabase database() const { return QSqlDatabase::database(name_, false); }

  // Runs `statement`; reports a failure and returns false.
  bool exec(const QString& statement) {
    QSqlQuery query(database());
    if (query.exec(statement)) return true;
    return !fail(dialect_.error_of(query.lastError()));
  }

  // The first column of the first row of `statement` with `values` bound; empty on failure.
  QVariant value(const QString& statement, const QVariantList& values = {}) {
    QSqlQuery query(database());
    query.prepare(statement);
    for (const QVariant& bound : values) query.addBindValue(bound);
    if (!query.exec()) {
      fail(dialect_.error_of(query.lastError()));
      return {};
    }
    return query.next() ? query.value(0) : QVariant();
  }

  // Reports `error` (when it is one) and returns true then.
  bool fail(const sql::StoreError& error) {
    if (!error) return false;
    const std::string detail = without_password(error.detail, line_);
    err_ << "quor_station: the set-up of " << redacted_location(line_)
         << " failed: " << dialect_.reason_text(error.failure)
         << (detail.empty() ? "" : " (" + detail + ")") << "\n";
    return true;
  }

  const sql::Dialect& dialect() const { return dialect_; }

 private:
  const sql::Dialect& dialect_ = sql::postgresql_dialect();
  std::string line_;
  std::ostream& err_;
  QString name_;
};

}  // namespace

int setup_records_server(const std::string& line, const std::string& station_role,
                         std::ostream& out, std::ostream& err) {
  if (!is_server_location(line)) {
    err << "quor_station: --setup-records-server needs --records with a server line "
           "(postgresql://OWNER@HOST/DATABASE)\n";
    return kSetupUsage;
  }
  if (const ParsedServerLocation parsed = parse_server_location(line); !parsed.location) {
    err << "quor_station: " << parsed.error << "\n";
    return kSetupUsage;
  }
  if (station_role.empty()) {
    err << "quor_station: --setup-records-server needs --station-role NAME, the role the "
           "stations log in with\n";
    return kSetupUsage;
  }
  Setup setup(line, err);
  if (!setup.open()) return kSetupFailed;
  const QString role = QString::fromStdString(station_role);
  // The name is bound, never pasted; the schema is the one the migration creates the tables in.
  const QVariant unfit = setup.value(
      QStringLiteral(
          "SELECT r.rolsuper::int + 2 * r.rolcreaterole::int"
          " + 4 * pg_has_role(r.oid, current_user, 'MEMBER')::int"
          " + 8 * (EXISTS (SELECT 1 FROM pg_catalog.pg_namespace WHERE nspowner = r.oid)"
          " OR EXISTS (SELECT 1 FROM pg_catalog.pg_class WHERE relowner = r.oid))::int"
          " + 16 * COALESCE(has_schema_privilege(r.oid, current_schema(), 'CREATE'), false)::int"
          " FROM pg_catalog.pg_roles r WHERE r.rolname = ?"),
      {role});
  if (!unfit.isValid()) {
    err << "quor_station: the role \"" << station_role << "\" does not exist on the server: "
        << "create it first (README, \"A line's records server\")\n";
    return kSetupFailed;
  }
  for (const Unfit& reason : kUnfit) {
    if ((unfit.toInt() & reason.bit) == 0) continue;
    err << "quor_station: the role \"" << station_role << "\" " << reason.why
        << ": it could change every record; the stations need a role of their own, with no other "
           "rights (README, \"A line's records server\")\n";
    return kSetupFailed;
  }
  QSqlDatabase db = setup.database();
  const int before = sql::schema_version(db, setup.dialect()).version;
  if (setup.fail(sql::migrate(db, setup.dialect()))) return kSetupFailed;
  const QString schema = setup.value(QStringLiteral("SELECT current_schema()")).toString();
  if (schema.isEmpty()) return kSetupFailed;
  QStringList station_tables;
  for (const char* table : kStationTables) station_tables << QString::fromLatin1(table);
  QStringList every_table = station_tables;
  for (const char* table : kOtherTables) every_table << QString::fromLatin1(table);
  const QString grantee = setup.value(QStringLiteral("SELECT quote_ident(?)"), {role}).toString();
  const QString schema_name =
      setup.value(QStringLiteral("SELECT quote_ident(?)"), {schema}).toString();
  if (grantee.isEmpty() || schema_name.isEmpty()) return kSetupFailed;
  if (!db.transaction() ||
      !setup.exec(QStringLiteral("REVOKE ALL ON ") + every_table.join(QStringLiteral(", ")) +
                  QStringLiteral(" FROM ") + grantee) ||
      !setup.exec(QStringLiteral("GRANT USAGE ON SCHEMA ") + schema_name + QStringLiteral(" TO ") +
                  grantee) ||
      !setup.exec(QStringLiteral("GRANT SELECT, INSERT ON ") +
                  station_tables.join(QStringLiteral(", ")) + QStringLiteral(" TO ") + grantee) ||
      !setup.exec(QStringLiteral("GRANT SELECT ON schema_version, run_days TO ") + grantee) ||
      !db.commit()) {
    db.rollback();
    return kSetupFailed;
  }
  out << "The records on " << redacted_location(line) << " (schema " << schema.toStdString()
      << ") are at version " << sql::kSchemaVersion
      << (before == 0                    ? " (created)"
          : before < sql::kSchemaVersion ? " (brought forward from " + std::to_string(before) + ")"
                                         : "")
      << ".\nThe role \"" << station_role << "\" may add runs and read them, and nothing else.\n";
  return kSetupDone;
}

}  // namespace records
