#include "records/sql_dialect.h"

#include <QSqlQuery>
#include <QVariant>

#include "records/server_location.h"

namespace records::sql {

std::string reason_text(Failure failure) {
  switch (failure) {
    case Failure::none:
      return {};
    case Failure::locked:
      return "the record file is locked by another program";
    case Failure::read_only:
      return "the record file cannot be written (read-only)";
    case Failure::disk_full:
      return "the disk that holds the record file is full";
    case Failure::damaged:
      return "the record file is damaged";
    case Failure::cannot_open:
      return "the record file cannot be opened";
    case Failure::newer_schema:
      return "the record file was written by a newer version of the program";
    case Failure::unreachable:
    case Failure::authentication:
    case Failure::timed_out:
    case Failure::no_database:
    case Failure::permission_denied:
    case Failure::encryption:
    case Failure::needs_setup:
    case Failure::not_unicode:
    case Failure::other:
      break;
    case Failure::refused_content:
      return "the record file refused the run's content";
    case Failure::conflict:
      return "the record file holds a run of that id with other content";
  }
  return "the record file cannot be used";
}

namespace {

// SQLite's primary result codes (the low byte of an extended code).
enum SqliteCode {
  kBusy = 5,
  kLocked = 6,
  kReadOnly = 8,
  kIoError = 10,
  kCorrupt = 11,
  kFull = 13,
  kCantOpen = 14,
  kNotADatabase = 26,
};

// Every SQLite-only statement of the store sits here.
class SqliteDialect final : public Dialect {
 public:
  QString driver_name() const override { return QStringLiteral("QSQLITE"); }
  bool is_server() const override { return false; }

  StoreError locate(QSqlDatabase& database, const std::string& location,
                    std::chrono::milliseconds timeout) const override {
    database.setDatabaseName(QString::fromStdString(location));
    database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(timeout.count()));
    return {};
  }

  StoreError configure(QSqlDatabase& database, bool writable,
                       std::chrono::milliseconds) const override {
    QSqlQuery query(database);
    // Reading the schema first tells a file that is not a database from one that is.
    if (!query.exec(QStringLiteral("PRAGMA schema_version"))) return error_of(query.lastError());
    // Reads of many runs (exports, summaries) map the file instead of copying each page through
    // a read call, and keep more pages at hand. Neither changes what is written or when.
    if (!query.exec(QStringLiteral("PRAGMA mmap_size=268435456")) ||
        !query.exec(QStringLiteral("PRAGMA cache_size=-32768"))) {
      return error_of(query.lastError());
    }
    if (!writable) return {};
    // Each commit reaches the disk before the write returns; write-ahead logging keeps that
    // cheap and lets the records window read while the station writes.
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) return error_of(query.lastError());
    if (!query.next() ||
        query.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
      // SQLite keeps the old mode when it cannot switch, a read-only file for one.
      return {Failure::read_only, "write-ahead logging cannot be switched on"};
    }
    // The log is folded back into the file every 128 pages (512 KB) instead of every 1000, and
    // cut back to 1 MB after that, so that it never takes much of a small volume.
    if (!query.exec(QStringLiteral("PRAGMA synchronous=FULL")) ||
        !query.exec(QStringLiteral("PRAGMA foreign_keys=ON")) ||
        !query.exec(QStringLiteral("PRAGMA wal_autocheckpoint=128")) ||
        !query.exec(QStringLiteral("PRAGMA journal_size_limit=1048576"))) {
      return error_of(query.lastError());
    }
    return {};
  }

  StoreError check_integrity(QSqlDatabase& database) const override {
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("PRAGMA quick_check"))) return error_of(query.lastError());
    if (!query.next()) return {Failure::damaged, "the integrity check gave no answer"};
    const QString answer = query.value(0).toString();
    if (answer != QStringLiteral("ok")) return {Failure::damaged, answer.toStdString()};
    return {};
  }

  StoreError table_exists(QSqlDatabase& database, const QString& name,
                          bool& exists) const override {
    exists = database.tables().contains(name);
    if (exists) return {};
    // A damaged file can hide its tables; ask once more in a way that reports why.
    QSqlQuery probe(database);
    if (!probe.exec(QStringLiteral("SELECT 1"))) return error_of(probe.lastError());
    return {};
  }

  // A write transaction on a file already excludes every other writer.
  StoreError lock_schema(QSqlDatabase&) const override { return {}; }

  // A transaction on a file in write-ahead-log mode reads one snapshot already.
  StoreError read_one_moment(QSqlDatabase&) const override { return {}; }

  std::string reason_text(Failure failure) const override { return sql::reason_text(failure); }

  // SQLite's LIKE ignores the case of ASCII letters by itself; LOWER() on both sides would cost
  // a third of a filtered query and fold no other letters either.
  QString contains_condition(const QString& column) const override {
    return column + QStringLiteral(" LIKE ? ESCAPE '\\'");
  }

  static Failure classify_message(const QString& message);

  Failure classify(const QSqlError& error) const override {
    if (error.type() == QSqlError::NoError) return Failure::none;
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric) & 0xff;
    // The driver gives a failed commit (where a write-ahead log meets a full disk) without
    // SQLite's code, only its message; SQLite's messages for its codes never change.
    if (!numeric) return classify_message(error.databaseText());
    switch (code) {
      case kBusy:
      case kLocked:
        return Failure::locked;
      case kReadOnly:
        return Failure::read_only;
      case kFull:
        return Failure::disk_full;
      case kCorrupt:
      case kNotADatabase:
        return Failure::damaged;
      case kCantOpen:
        return Failure::cannot_open;
      case kIoError:
      default:
        return Failure::other;
    }
  }
};

Failure SqliteDialect::classify_message(const QString& message) {
  struct Known {
    const char* message;
    Failure failure;
  };
  static constexpr Known kKnown[] = {
      {"database or disk is full", Failure::disk_full},
      {"database is locked", Failure::locked},
      {"database table is locked", Failure::locked},
      {"attempt to write a readonly database", Failure::read_only},
      {"database disk image is malformed", Failure::damaged},
      {"file is not a database", Failure::damaged},
      {"unable to open database file", Failure::cannot_open},
  };
  for (const Known& known : kKnown) {
    if (message.startsWith(QLatin1String(known.message))) return known.failure;
  }
  return Failure::other;
}

}  // namespace

const Dialect& sqlite_dialect() {
  static const SqliteDialect dialect;
  return dialect;
}

const Dialect& dialect_for(const std::string& location) {
  return is_server_location(location) ? postgresql_dialect() : sqlite_dialect();
}

}  // namespace records::sql
