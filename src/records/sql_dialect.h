// What differs between SQL servers: the Qt driver, the connection options, the settings made
// after opening, the integrity check and the reading of a failure. Everything else the store
// sends is portable SQL with `?` parameters. Internal to src/records.
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
  other,
};

struct StoreError {
  Failure failure = Failure::none;
  std::string detail;  // the driver's text, when there is one

  explicit operator bool() const { return failure != Failure::none; }
};

// The reason text of a failure, as the status line gives it.
std::string reason_text(Failure failure);

class Dialect {
 public:
  virtual ~Dialect() = default;
  virtual QString driver_name() const = 0;
  virtual QString connect_options(std::chrono::milliseconds busy_timeout) const = 0;
  // Settings that hold for the connection's life. `writable`: the connection will write.
  virtual StoreError configure(QSqlDatabase& database, bool writable) const = 0;
  virtual StoreError check_integrity(QSqlDatabase& database) const = 0;
  virtual Failure classify(const QSqlError& error) const = 0;
  // A condition that holds when `column` holds the text bound to its one `?` in any case; the
  // bound text is a LIKE pattern with `\` as its escape character.
  virtual QString contains_condition(const QString& column) const = 0;
  StoreError error_of(const QSqlError& error) const {
    return {classify(error), error.text().toStdString()};
  }
};

// The embedded store of one station.
const Dialect& sqlite_dialect();

}  // namespace records::sql
