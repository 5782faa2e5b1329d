// The throw-away PostgreSQL server the suites run against (scripts/test-postgres.sh, started by
// ctest's quor_postgres fixture): its superuser line, a fresh database per test, and a plain
// connection to look at or hold what a store writes.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "records/server_location.h"
#include "testing/process_tree.h"

namespace records::test_server {

inline std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

// The folder the fixture's server keeps its data and connection line in.
inline std::optional<std::string> folder() { return environment("QUOR_TEST_POSTGRES_DIR"); }
inline std::string script() {
  return environment("QUOR_TEST_POSTGRES_SCRIPT").value_or("scripts/test-postgres.sh");
}
// Set by ctest, which starts the server first: no server is then a failure, not a skip.
inline bool required() { return folder().has_value(); }

inline std::optional<std::string> line_in(const std::string& dir) {
  std::ifstream file(dir + "/connection");
  std::string line;
  if (!std::getline(file, line) || line.empty()) return std::nullopt;
  return line;
}

// The superuser's line (to the database "postgres"), when there is a server.
inline std::optional<std::string> superuser_line() {
  const auto dir = folder();
  return dir ? line_in(*dir) : std::nullopt;
}

// `line` naming another database.
inline std::string with_database(const std::string& line, const std::string& database) {
  ServerLocation server = parse_server_location(line).location.value_or(ServerLocation{});
  server.database = database;
  return server.line();
}

// `line` with another user and password (none: the password file's, if any).
inline std::string with_login(const std::string& line, const std::string& user,
                              const std::string& password = {}) {
  ServerLocation server = parse_server_location(line).location.value_or(ServerLocation{});
  server.user = user;
  server.password = password;
  return server.line();
}

inline std::string unique_name(const char* prefix) {
  return prefix + QUuid::createUuid().toString(QUuid::Id128).left(16).toStdString();
}

// A plain connection of the test's own, through the same driver as the store.
class Connection {
 public:
  explicit Connection(const std::string& line) : name_(QUuid::createUuid().toString()) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name_);
    const auto server = parse_server_location(line).location;
    if (!server) return;
    db.setHostName(QString::fromStdString(server->host));
    if (server->port) db.setPort(*server->port);
    db.setDatabaseName(QString::fromStdString(server->database));
    db.setUserName(QString::fromStdString(server->user));
    db.setPassword(QString::fromStdString(server->password));
    db.open();
  }
  ~Connection() {
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool is_open() const { return QSqlDatabase::database(name_, false).isOpen(); }
  std::string error() const {
    return QSqlDatabase::database(name_, false).lastError().text().toStdString();
  }
  // Runs a statement; the error text, or empty when it worked.
  std::string exec(const std::string& statement) {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (query.exec(QString::fromStdString(statement))) return {};
    return query.lastError().text().toStdString() + " in: " + statement;
  }
  // The first column of every row, as text.
  std::vector<std::string> texts(const std::string& statement) {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    std::vector<std::string> values;
    if (!query.exec(QString::fromStdString(statement))) return values;
    while (query.next()) values.push_back(query.value(0).toString().toStdString());
    return values;
  }
  // The first column of the first row.
  QVariant value(const std::string& statement) {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (!query.exec(QString::fromStdString(statement)) || !query.next()) return {};
    return query.value(0);
  }

 private:
  QString name_;
};

// The postmaster of the server a connection on `line` reaches (the parent of the connection's
// server process), and the postmaster's children; empty when they cannot be found.
inline std::vector<pid_t> server_processes(const std::string& line) {
  Connection server(line);
  return testing_support::with_children(
      testing_support::parent_of(pid_t(server.value("SELECT pg_backend_pid()").toInt())));
}

// A database of its own for one test on the fixture's server, dropped when the test ends.
class Database {
 public:
  Database() : name_(unique_name("quor_test_")) {
    const auto line = superuser_line();
    if (!line) return;
    Connection admin(*line);
    error_ = admin.is_open() ? admin.exec("CREATE DATABASE " + name_) : admin.error();
    if (error_.empty()) line_ = with_database(*line, name_);
  }
  ~Database() {
    if (line_.empty()) return;
    Connection admin(*superuser_line());
    admin.exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // The superuser's line to this database; empty when there is no server.
  const std::string& line() const { return line_; }
  const std::string& name() const { return name_; }
  const std::string& error() const { return error_; }

 private:
  std::string name_;
  std::string line_;
  std::string error_;
};

// A server of the test's own, to stop and start midway (the fixture's server serves the tests that
// run beside it). Stopped when the test ends.
class OwnServer {
 public:
  // `name` tells the servers of tests that run at the same time apart.
  explicit OwnServer(const std::string& name) {
    const auto base = folder();
    if (!base) return;
    dir_ = *base + "-own-" + name;
    if (run("fresh")) line_ = line_in(dir_).value_or("");
  }
  ~OwnServer() {
    if (!dir_.empty()) run("stop");
  }
  OwnServer(const OwnServer&) = delete;
  OwnServer& operator=(const OwnServer&) = delete;
  const std::string& line() const { return line_; }
  bool run(const char* command) {
    const std::string shell = "bash '" + script() + "' " + command + " '" + dir_ + "' >/dev/null";
    return std::system(shell.c_str()) == 0;
  }

 private:
  std::string dir_;
  std::string line_;
};

}  // namespace records::test_server

// In a fixture's SetUp: skips the test when no server was named (the suite run by hand), fails
// it when the server named is missing or refuses.
#define QUOR_NEED_TEST_SERVER(database)                                        \
  do {                                                                         \
    if (!::records::test_server::superuser_line()) {                           \
      if (::records::test_server::required()) {                                \
        FAIL() << "no PostgreSQL test server in QUOR_TEST_POSTGRES_DIR";       \
      }                                                                        \
      GTEST_SKIP() << "no PostgreSQL test server: set QUOR_TEST_POSTGRES_DIR"; \
    }                                                                          \
    ASSERT_FALSE((database).line().empty())                                    \
        << "no database on the test server: " << (database).error();           \
  } while (false)
