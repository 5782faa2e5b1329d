// A second program's connection to a record file, for holding its lock or looking into it.
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <string>

namespace records {

// A second program's connection to the same file.
class OtherConnection {
 public:
  explicit OtherConnection(const std::string& path) : name_(QUuid::createUuid().toString()) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name_);
    db.setDatabaseName(QString::fromStdString(path));
    db.open();
  }
  ~OtherConnection() {
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  bool exec(const char* statement) {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    return query.exec(statement);
  }
  // The first column of the first row `statement` gives; an invalid value when it fails.
  QVariant value(const char* statement) {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (!query.exec(statement) || !query.next()) return {};
    return query.value(0);
  }

 private:
  QString name_;
};

}  // namespace records
