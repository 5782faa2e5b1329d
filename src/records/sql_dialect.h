// What differs between SQL servers: the Qt driver, how a location names the store, the settings
// made after opening, the integrity check, the lock that serialises migrations and the reading
// of a failure. Everything else the store sends is portable SQL with `?` parameters. Internal to
// src/records.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <chrono>
#include <string>

namespace records::sql {

enum class Failure {
  none,
  locked,     // another connection holds the write lock longer than the busy time-out
  read_only,  // the file or its folder cannot be written
  disk_full,
  damaged,       // not a database, or it fails the integrity check
  cannot_open,   // missing folder, no permission, ...
  newer_schema,  // written by a newer program
  // A records server's:
  unreachable,        // connection refused, no route to the host, the connection was lost
  authentication,     // wrong user name or password
  timed_out,          // the server did not answer (or a lock was not granted) in time
  no_database,        // the database named in the line does not exist
  permission_denied,  // the role lacks a right the store needs
  encryption,         // the line requires an encrypted connection the server does not offer
  // The server's schema is older than this program's and the station's role may not bring it
  // forward: the line's set-up must be run.
  needs_setup,
  // The server's database cannot hold every text a station keeps (its encoding is not UTF8).
  not_unicode,
  // Refusals of what was sent rather than of the station: the store holds the connection and
  // takes other runs.
  refused_content,  // a text or value the store cannot hold (a NUL byte, a key past its limits)
  conflict,         // a run of that id is there already with other content
  other,
};

// A refusal of the runs sent, not of the store: other runs may still be written.
inline bool is_content_refusal(Failure failure) {
  return failure == Failure::refused_content || failure == Failure::conflict;
}

struct StoreError {
  Failure failure = Failure::none;
  std::string detail;  // the driver's text, when there is one

  explicit operator bool() const { return failure != Failure::none; }
};

// The reason text of a record file's failure, as the status line gives it.
std::string reason_text(Failure failure);

class Dialect {
 public:
  virtual ~Dialect() = default;
  virtual QString driver_name() const = 0;
  // A server many stations share (nothing is marked interrupted or moved aside there), or a
  // station's own file.
  virtual bool is_server() const = 0;
  // Points `database` at the store `location` names, before it is opened. `timeout`: how long a
  // statement may wait for a lock (or, on a server, run) before it fails.
  virtual StoreError locate(QSqlDatabase& database, const std::string& location,
                            std::chrono::milliseconds timeout) const = 0;
  // Settings that hold for the connection's life. `writable`: the connection will write.
  virtual StoreError configure(QSqlDatabase& database, bool writable,
                               std::chrono::milliseconds timeout) const = 0;
  virtual StoreError check_integrity(QSqlDatabase& database) const = 0;
  // Whether the table `name` exists (in the schema the connection writes to).
  virtual StoreError table_exists(QSqlDatabase& database, const QString& name,
                                  bool& exists) const = 0;
  // Taken first in each migration's transaction and held until it ends, so that stores opened
  // at the same moment migrate one after the other; each reads the version again after it.
  virtual StoreError lock_schema(QSqlDatabase& database) const = 0;
  // Made first in a transaction of reads only, so that every read in it sees the store as of one
  // moment.
  virtual StoreError read_one_moment(QSqlDatabase& database) const = 0;
  virtual Failure classify(const QSqlError& error) const = 0;
  // The reason text of a failure, as the status line gives it.
  virtual std::string reason_text(Failure failure) const = 0;
  // A condition that holds when `column` holds the text bound to its one `?` in any case; the
  // bound text is a LIKE pattern with `\` as its escape character.
  virtual QString contains_condition(const QString& column) const = 0;
  // The socket of an open server connection, so that another thread may cut an exchange the
  // server never answers (shutdown(2)); -1 for a file or when it cannot be had.
  virtual int socket_of(QSqlDatabase&) const { return -1; }
  StoreError error_of(const QSqlError& error) const {
    return {classify(error), error.text().toStdString()};
  }
};

// The embedded store of one station.
const Dialect& sqlite_dialect();

// A records server shared by a line of stations (Qt's QPSQL driver).
const Dialect& postgresql_dialect();

// The dialect of a location: a server line (records/server_location.h) or a file path.
const Dialect& dialect_for(const std::string& location);

}  // namespace records::sql
