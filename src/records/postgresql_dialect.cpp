// The records server of a line of stations: PostgreSQL through Qt's QPSQL driver (libpq).
#include <dlfcn.h>

#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>
#include <array>
#include <cstring>
#include <string_view>

#include "records/server_location.h"
#include "records/sql_dialect.h"

namespace records::sql {

namespace {

// The key of the advisory lock every migration takes (the letters "QUOR").
constexpr long long kSchemaLockKey = 0x51554f52;

// Connection options the line may set and that otherwise take these values. An unreachable
// server, or one that takes the connection and never answers, fails within the connect time-out
// (whole seconds, for each of the host's addresses; libpq waits at least 2, and at most that long
// from the moment it starts); a server that vanishes mid-statement is noticed by the TCP time-out
// and the keep-alives instead of after the system's many minutes. A server that is there but does
// not answer (stopped, swapped out) is cut by the station's own watch (records/server_watch.h).
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kDefaultOptions{{
    {"connect_timeout", "2"},
    {"tcp_user_timeout", "10000"},
    {"keepalives_idle", "10"},
    {"keepalives_interval", "5"},
    {"keepalives_count", "3"},
    {"application_name", "quor_station"},
}};

// A value as libpq's connection string quotes it.
QString quoted(const std::string& value) {
  QString text = QString::fromStdString(value);
  text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  text.replace(QLatin1Char('\''), QStringLiteral("\\'"));
  return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// libpq's PQsocket(), looked up in the libpq the QPSQL driver has loaded, so that the station
// needs neither libpq's headers to build nor a libpq of its own to run.
using SocketFunction = int (*)(const void*);
SocketFunction libpq_socket() {
  static const SocketFunction function = []() -> SocketFunction {
    for (const char* name : {"libpq.so.5", "libpq.so"}) {
      void* library = ::dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
      if (library == nullptr) continue;
      void* symbol = ::dlsym(library, "PQsocket");
      // The driver keeps libpq loaded for the program's life; the reference taken here is let go.
      ::dlclose(library);
      if (symbol != nullptr) {
        SocketFunction found = nullptr;
        std::memcpy(&found, &symbol, sizeof found);
        return found;
      }
    }
    return nullptr;
  }();
  return function;
}

bool has(const QString& text, const char* part) {
  return text.contains(QLatin1String(part), Qt::CaseInsensitive);
}

class PostgresqlDialect final : public Dialect {
 public:
  QString driver_name() const override { return QStringLiteral("QPSQL"); }
  bool is_server() const override { return true; }

  StoreError locate(QSqlDatabase& database, const std::string& location,
                    std::chrono::milliseconds) const override {
    const ParsedServerLocation parsed = parse_server_location(location);
    if (!parsed.location) return {Failure::cannot_open, parsed.error};
    const ServerLocation& server = *parsed.location;
    database.setHostName(QString::fromStdString(server.host));
    if (server.port) database.setPort(*server.port);
    database.setDatabaseName(QString::fromStdString(server.database));
    database.setUserName(QString::fromStdString(server.user));
    // Left empty, libpq looks the password up in the password file.
    database.setPassword(QString::fromStdString(server.password));
    QStringList options;
    for (const auto& [key, value] : server.options) {
      // Qt turns every ';' of the options into a separator.
      if (value.find(';') != std::string::npos) {
        return {Failure::cannot_open, "the value of " + key + " holds a ';'"};
      }
      options << QString::fromStdString(key) + QLatin1Char('=') + quoted(value);
    }
    for (const auto& [key, value] : kDefaultOptions) {
      if (!server.option(key)) {
        options << QString::fromLatin1(key) + QLatin1Char('=') + quoted(std::string(value));
      }
    }
    database.setConnectOptions(options.join(QLatin1Char(';')));
    return {};
  }

  // The time-out bounds every statement and every lock wait, so that a slow or locked server
  // fails a write (which then waits in memory) instead of holding the station.
  StoreError configure(QSqlDatabase& database, bool,
                       std::chrono::milliseconds timeout) const override {
    QSqlQuery query(database);
    const QString milliseconds = QString::number(std::max<long long>(timeout.count(), 1));
    if (!query.exec(QStringLiteral("SET statement_timeout = ") + milliseconds) ||
        !query.exec(QStringLiteral("SET lock_timeout = ") + milliseconds)) {
      return error_of(query.lastError());
    }
    return {};
  }

  // The server keeps its own files whole. What it must be is a database in UTF8: in another
  // encoding a text the station keeps (a control character's picture, U+2400, a Latin-1 byte of a
  // module's reply) is refused as untranslatable, and good runs would be set aside as refused.
  StoreError check_integrity(QSqlDatabase& database) const override {
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("SELECT pg_encoding_to_char(encoding) FROM pg_database"
                                   " WHERE datname = current_database()")) ||
        !query.next()) {
      return error_of(query.lastError());
    }
    const QString encoding = query.value(0).toString();
    if (encoding != QStringLiteral("UTF8")) {
      return {Failure::not_unicode, "the database's encoding is " + encoding.toStdString()};
    }
    return {};
  }

  // Read from the catalog with the statement's own snapshot rather than through the server's
  // cache of names (to_regclass), which may still hold "no such table" when another station
  // created the schema while this one waited for the schema lock.
  StoreError table_exists(QSqlDatabase& database, const QString& name,
                          bool& exists) const override {
    QSqlQuery query(database);
    query.prepare(QStringLiteral(
        "SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n"
        " ON n.oid = c.relnamespace WHERE c.relname = ? AND c.relkind = 'r'"
        " AND n.nspname = ANY (current_schemas(false)))"));
    query.addBindValue(name);
    if (!query.exec() || !query.next()) return error_of(query.lastError());
    exists = query.value(0).toBool();
    return {};
  }

  StoreError lock_schema(QSqlDatabase& database) const override {
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLockKey))) {
      return error_of(query.lastError());
    }
    return {};
  }

  // Each statement of a READ COMMITTED transaction sees the runs committed before it began.
  StoreError read_one_moment(QSqlDatabase& database) const override {
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY"))) {
      return error_of(query.lastError());
    }
    return {};
  }

  QString contains_condition(const QString& column) const override {
    return column + QStringLiteral(" ILIKE ? ESCAPE '\\'");
  }

  int socket_of(QSqlDatabase& database) const override {
    QSqlDriver* driver = database.driver();
    if (driver == nullptr || !database.isOpen()) return -1;
    const QVariant handle = driver->handle();
    const SocketFunction socket = libpq_socket();
    // The driver names libpq's connection by its typedef or by the struct behind it.
    if (socket == nullptr || !handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 &&
         qstrcmp(handle.typeName(), "pg_conn*") != 0)) {
      return -1;
    }
    const void* connection = *static_cast<void* const*>(handle.constData());
    return connection == nullptr ? -1 : socket(connection);
  }

  Failure classify(const QSqlError& error) const override {
    if (error.type() == QSqlError::NoError) return Failure::none;
    // A failed statement carries its SQLSTATE; a failed connection only libpq's message.
    const QString state = error.nativeErrorCode();
    if (state.size() == 5) {
      if (state == QStringLiteral("57014") || state == QStringLiteral("55P03")) {
        return Failure::timed_out;  // statement_timeout, lock_timeout
      }
      if (state == QStringLiteral("42501")) return Failure::permission_denied;
      if (state == QStringLiteral("3D000")) return Failure::no_database;
      if (state.startsWith(QStringLiteral("28"))) return Failure::authentication;
      if (state.startsWith(QStringLiteral("08")) || state.startsWith(QStringLiteral("57P"))) {
        return Failure::unreachable;  // connection exceptions, the server shutting down
      }
      if (state == QStringLiteral("53100")) return Failure::disk_full;
      if (state == QStringLiteral("25006")) return Failure::read_only;
      if (state == QStringLiteral("40001") || state == QStringLiteral("40P01")) {
        return Failure::locked;
      }
      // What was sent, not the server: data exceptions (a text too long for its column, a byte
      // the encoding refuses: in the UTF8 database a store opens only, a sequence that is not
      // UTF-8), integrity constraints, program limits (an index row too large) and the syntax
      // error of a text the driver cut at a NUL byte ("unterminated quoted string").
      if (state.startsWith(QStringLiteral("22")) || state.startsWith(QStringLiteral("23")) ||
          state.startsWith(QStringLiteral("54")) || state == QStringLiteral("42601")) {
        return Failure::refused_content;
      }
    }
    const QString text = error.databaseText();
    if (has(text, "password authentication failed") || has(text, "authentication failed") ||
        has(text, "no password supplied") || has(text, "password is required") ||
        (has(text, "role \"") && has(text, "does not exist"))) {
      return Failure::authentication;
    }
    if (has(text, "database \"") && has(text, "does not exist")) return Failure::no_database;
    if (has(text, "permission denied")) return Failure::permission_denied;
    if (has(text, "SSL") && (has(text, "required") || has(text, "not support"))) {
      return Failure::encryption;
    }
    if (has(text, "timeout expired") || has(text, "timed out")) return Failure::timed_out;
    if (has(text, "could not connect") || has(text, "Connection refused") ||
        has(text, "No route to host") || has(text, "Network is unreachable") ||
        has(text, "could not translate host name") || has(text, "server closed the connection") ||
        has(text, "no connection to the server") || has(text, "connection to server") ||
        has(text, "terminating connection") || has(text, "the database system is")) {
      return Failure::unreachable;
    }
    return Failure::other;
  }

  std::string reason_text(Failure failure) const override {
    switch (failure) {
      case Failure::none:
        return {};
      case Failure::locked:
        return "another connection holds the records on the server";
      case Failure::read_only:
        return "the records server takes no writes (read-only)";
      case Failure::disk_full:
        return "the disk of the records server is full";
      case Failure::damaged:
        return "the records on the server are damaged";
      case Failure::cannot_open:
        return "the records server cannot be opened";
      case Failure::newer_schema:
        return "the records server holds records of a newer version of the program";
      case Failure::unreachable:
        return "the records server cannot be reached";
      case Failure::authentication:
        return "the records server refused the user name or password";
      case Failure::timed_out:
        return "the records server did not answer in time";
      case Failure::no_database:
        return "the records database does not exist on the server";
      case Failure::permission_denied:
        return "the records server denies the station's role a right it needs";
      case Failure::encryption:
        return "the records server does not offer the encrypted connection the line requires";
      case Failure::needs_setup:
        return "the records server's schema is older than this program's: a test engineer must "
               "run the set-up (quor_station --setup-records-server)";
      case Failure::not_unicode:
        return "the records database is not in UTF8 and cannot hold every text the stations keep: "
               "create it with ENCODING 'UTF8'";
      case Failure::refused_content:
        return "the records server refused the run's content";
      case Failure::conflict:
        return "the records server holds a run of that id with other content";
      case Failure::other:
        break;
    }
    return "the records server cannot be used";
  }
};

}  // namespace

const Dialect& postgresql_dialect() {
  static const PostgresqlDialect dialect;
  return dialect;
}

}  // namespace records::sql
