#include "records/record_store.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "records/run_journal.h"
#include "records/schema.h"
#include "records/server_location.h"
#include "records/sql_dialect.h"
#include "records/store_sql.h"
#include "records/unit_result_rows.h"

namespace records {

namespace {

using sql::Failure;
using sql::StoreError;

// The columns of a run in the order they are read; the report is kept in `run_reports`, the
// others in `runs`.
enum Column : int {
  kId,
  kStationId,
  kStarted,
  kEnded,
  kProcedure,
  kOutcome,
  kPassesRun,
  kFailures,
  kUutReply,
  kUutMaker,
  kUutModel,
  kUutSerial,
  kUutFirmware,
  kQcuReply,
  kQcuMaker,
  kQcuModel,
  kQcuSerial,
  kQcuFirmware,
  kUutResource,
  kQcuResource,
  kTechnician,
  kTopSerial,
  kSubSerial,
  kVisaLibrary,
  kSimulated,
  kReport,
  kSelfTestResult,
  kMemoryMiscompares,
  kCalConstantRead,
  kCalConstantSent,
  kNonVolAddress,
  kProgramVersion,
  kProgress,
  kMade,
  kUnitResultId,
  kColumnCount,
};

constexpr std::array<std::string_view, kColumnCount> kColumnNames{"id",
                                                                  "station_id",
                                                                  "started_ms",
                                                                  "ended_ms",
                                                                  "procedure_id",
                                                                  "outcome",
                                                                  "passes_run",
                                                                  "failures",
                                                                  "uut_reply",
                                                                  "uut_maker",
                                                                  "uut_model",
                                                                  "uut_serial",
                                                                  "uut_firmware",
                                                                  "qcu_reply",
                                                                  "qcu_maker",
                                                                  "qcu_model",
                                                                  "qcu_serial",
                                                                  "qcu_firmware",
                                                                  "uut_resource",
                                                                  "qcu_resource",
                                                                  "technician",
                                                                  "top_serial",
                                                                  "sub_serial",
                                                                  "visa_library",
                                                                  "simulated",
                                                                  "report",
                                                                  "self_test_result",
                                                                  "memory_miscompares",
                                                                  "cal_constant_read",
                                                                  "cal_constant_sent",
                                                                  "non_vol_address",
                                                                  "program_version",
                                                                  "progress_ms",
                                                                  "made_ms",
                                                                  "unit_result_id"};

QString name_of(int column) { return QString::fromLatin1(kColumnNames[column]); }

// The texts the list reads cut short: every text but the run id (the key the whole run is found
// by) and the procedure and outcome (short, and read as names).
bool cut_in_list(int column) {
  return column == kStationId || (column >= kUutReply && column <= kVisaLibrary) ||
         column == kProgramVersion;
}

// "SELECT ... FROM ..." of a run's columns; the list leaves the report out but keeps the column
// positions.
QString select_runs(Detail detail) {
  QStringList names;
  for (int column = 0; column < kColumnCount; ++column) {
    if (column == kReport) {
      names << (detail == Detail::list ? QStringLiteral("''")
                                       : QStringLiteral("COALESCE(run_reports.report, '')"));
    } else if (detail == Detail::list && cut_in_list(column)) {
      names << QStringLiteral("SUBSTR(runs.%1, 1, %2)").arg(name_of(column)).arg(kListTextLimit);
    } else {
      names << QStringLiteral("runs.") + name_of(column);
    }
  }
  return QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) +
         (detail == Detail::list
              ? QStringLiteral(" FROM runs")
              : QStringLiteral(" FROM runs LEFT JOIN run_reports ON run_reports.run_id = runs.id"));
}

QString upsert_statement() {
  QStringList names;
  QStringList marks;
  QStringList updates;
  for (int column = 0; column < kColumnCount; ++column) {
    if (column == kReport) continue;
    names << name_of(column);
    marks << QStringLiteral("?");
    if (column != kId)
      updates << name_of(column) + QStringLiteral(" = excluded.") + name_of(column);
  }
  return QStringLiteral("INSERT INTO runs (%1) VALUES (%2) ON CONFLICT (id) DO UPDATE SET %3")
      .arg(names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")),
           updates.join(QStringLiteral(", ")));
}

// The run unless one of its id is there: what a shared store takes (it needs no right to update).
QString insert_new_statement() {
  QStringList names;
  QStringList marks;
  for (int column = 0; column < kColumnCount; ++column) {
    if (column == kReport) continue;
    names << name_of(column);
    marks << QStringLiteral("?");
  }
  return QStringLiteral("INSERT INTO runs (%1) VALUES (%2) ON CONFLICT (id) DO NOTHING")
      .arg(names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
}

// The first line of a driver's text without its "ERROR:" label, at most `limit` bytes (cut
// between characters): a refusal may quote a whole statement, texts of megabytes and all.
std::string first_line(const std::string& text, std::size_t limit = 200) {
  std::string line = text.substr(0, text.find('\n'));
  for (const std::string_view label : {"ERROR:", "FATAL:"}) {
    if (line.starts_with(label)) line.erase(0, label.size());
  }
  const std::size_t start = line.find_first_not_of(' ');
  line.erase(0, start == std::string::npos ? line.size() : start);
  if (line.size() > limit) {
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xc0) == 0x80) --cut;
    line = line.substr(0, cut) + "...";
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

// Never a null text: the columns are NOT NULL and an empty text is a value.
QVariant text(const std::string& value) {
  if (value.empty()) return QVariant(QStringLiteral(""));
  return QVariant(QString::fromStdString(value));
}
QVariant text(std::string_view value) { return text(std::string(value)); }

QVariant millis(TimePoint time) { return QVariant(qint64(time.time_since_epoch().count())); }

template <typename T>
QVariant optional_value(const std::optional<T>& value) {
  if (!value) return QVariant();
  if constexpr (std::is_same_v<T, long long>) {
    return QVariant(qint64(*value));
  } else {
    return QVariant(*value);
  }
}

void bind_record(QSqlQuery& query, const RunRecord& record, TimePoint written) {
  std::array<QVariant, kColumnCount> values;
  values[kId] = text(record.id);
  values[kStationId] = text(record.station_id);
  values[kStarted] = millis(record.started);
  values[kEnded] = record.ended ? millis(*record.ended) : QVariant();
  values[kProcedure] = text(text_id(record.procedure));
  values[kOutcome] = text(text_id(record.outcome));
  values[kPassesRun] = record.passes_run;
  values[kFailures] = record.failures;
  const UnitIdentity* units[] = {&record.uut, &record.qcu};
  for (int unit = 0; unit < 2; ++unit) {
    const int base = unit == 0 ? kUutReply : kQcuReply;
    values[base] = text(units[unit]->reply);
    values[base + 1] = text(units[unit]->maker);
    values[base + 2] = text(units[unit]->model);
    values[base + 3] = text(units[unit]->serial);
    values[base + 4] = text(units[unit]->firmware);
  }
  values[kUutResource] = text(record.uut_resource);
  values[kQcuResource] = text(record.qcu_resource);
  values[kTechnician] = text(record.technician);
  values[kTopSerial] = text(record.top_serial);
  values[kSubSerial] = text(record.sub_serial);
  values[kVisaLibrary] = text(record.visa_library);
  values[kSimulated] = record.simulated ? 1 : 0;
  values[kSelfTestResult] = optional_value(record.self_test_result);
  values[kMemoryMiscompares] = optional_value(record.memory_miscompares);
  values[kCalConstantRead] = optional_value(record.cal_constant_read);
  values[kCalConstantSent] = optional_value(record.cal_constant_sent);
  values[kNonVolAddress] = optional_value(record.non_vol_address);
  values[kProgramVersion] = text(record.program_version);
  values[kProgress] = millis(written);
  values[kMade] = record.made ? millis(*record.made) : QVariant();
  values[kUnitResultId] = record.unit_result_id.empty() ? QVariant() : text(record.unit_result_id);
  int position = 0;
  for (int column = 0; column < kColumnCount; ++column) {
    if (column != kReport) query.bindValue(position++, values[column]);
  }
}

std::string string_at(const QSqlQuery& query, int column) {
  return query.value(column).toString().toStdString();
}

TimePoint time_at(const QSqlQuery& query, int column) {
  return TimePoint{std::chrono::milliseconds{query.value(column).toLongLong()}};
}

template <typename T>
std::optional<T> optional_at(const QSqlQuery& query, int column) {
  if (query.isNull(column)) return std::nullopt;
  if constexpr (std::is_same_v<T, double>) {
    return query.value(column).toDouble();
  } else if constexpr (std::is_same_v<T, long long>) {
    return query.value(column).toLongLong();
  } else {
    return query.value(column).toInt();
  }
}

// False for a row written by a newer program with a procedure or outcome this one does not know.
bool read_record(const QSqlQuery& query, RunRecord& record) {
  const auto procedure = procedure_from_text_id(string_at(query, kProcedure));
  const auto outcome = outcome_from_text_id(string_at(query, kOutcome));
  if (!procedure || !outcome) return false;
  record.id = string_at(query, kId);
  record.station_id = string_at(query, kStationId);
  record.started = time_at(query, kStarted);
  record.ended = query.isNull(kEnded) ? std::nullopt : std::optional(time_at(query, kEnded));
  record.procedure = *procedure;
  record.outcome = *outcome;
  record.passes_run = query.value(kPassesRun).toInt();
  record.failures = query.value(kFailures).toInt();
  UnitIdentity* units[] = {&record.uut, &record.qcu};
  for (int unit = 0; unit < 2; ++unit) {
    const int base = unit == 0 ? kUutReply : kQcuReply;
    units[unit]->reply = string_at(query, base);
    units[unit]->maker = string_at(query, base + 1);
    units[unit]->model = string_at(query, base + 2);
    units[unit]->serial = string_at(query, base + 3);
    units[unit]->firmware = string_at(query, base + 4);
  }
  record.uut_resource = string_at(query, kUutResource);
  record.qcu_resource = string_at(query, kQcuResource);
  record.technician = string_at(query, kTechnician);
  record.top_serial = string_at(query, kTopSerial);
  record.sub_serial = string_at(query, kSubSerial);
  record.visa_library = string_at(query, kVisaLibrary);
  record.simulated = query.value(kSimulated).toInt() != 0;
  record.report = string_at(query, kReport);
  record.self_test_result = optional_at<int>(query, kSelfTestResult);
  record.memory_miscompares = optional_at<long long>(query, kMemoryMiscompares);
  record.cal_constant_read = optional_at<double>(query, kCalConstantRead);
  record.cal_constant_sent = optional_at<double>(query, kCalConstantSent);
  record.non_vol_address = optional_at<int>(query, kNonVolAddress);
  record.program_version = string_at(query, kProgramVersion);
  record.made = query.isNull(kMade) ? std::nullopt : std::optional(time_at(query, kMade));
  record.unit_result_id = string_at(query, kUnitResultId);
  return true;
}

// A LIKE pattern that finds `part` anywhere, its own wildcards taken literally.
QString contains_pattern(const std::string& part) {
  QString pattern = QStringLiteral("%");
  for (const QChar c : QString::fromStdString(part)) {
    if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_')) {
      pattern += QLatin1Char('\\');
    }
    pattern += c;
  }
  return pattern + QLatin1Char('%');
}

}  // namespace

Where where_of(const RecordFilter& filter, const sql::Dialect& dialect, FilterTable table) {
  QStringList conditions;
  Where where;
  auto any_of = [&](std::initializer_list<const char*> columns, const std::string& part) {
    QStringList alternatives;
    for (const char* column : columns) {
      alternatives << dialect.contains_condition(QLatin1String(column));
      where.values << contains_pattern(part);
    }
    conditions << QLatin1Char('(') + alternatives.join(QStringLiteral(" OR ")) + QLatin1Char(')');
  };
  auto equal = [&](const char* column, QVariant value) {
    conditions << QLatin1String(column) + QStringLiteral(" = ?");
    where.values << std::move(value);
  };
  const bool of_runs = table != FilterTable::unit_results;
  if (!filter.include_simulated) conditions << QStringLiteral("simulated = 0");
  if (filter.procedure && of_runs) equal("procedure_id", text(text_id(*filter.procedure)));
  if (filter.outcome && of_runs) equal("outcome", text(text_id(*filter.outcome)));
  if (!filter.station.empty()) equal("station_id", text(filter.station));
  if (filter.in_unit_result && table == FilterTable::runs) {
    conditions << (*filter.in_unit_result ? QStringLiteral("unit_result_id IS NOT NULL")
                                          : QStringLiteral("unit_result_id IS NULL"));
  } else if (filter.in_unit_result && table == FilterTable::run_days) {
    equal("in_unit_result", *filter.in_unit_result ? 1 : 0);
  }
  if (!filter.unit_result.empty()) {
    equal(table == FilterTable::unit_results ? "id" : "unit_result_id", text(filter.unit_result));
  }
  // run_days counts whole UTC days: its reader passes only times at a day's start.
  const qint64 unit = table == FilterTable::run_days ? kDayMs : 1;
  if (filter.started_from) {
    conditions << (table == FilterTable::run_days ? QStringLiteral("day >= ?")
                                                  : QStringLiteral("started_ms >= ?"));
    where.values << qint64(filter.started_from->time_since_epoch().count() / unit);
  }
  if (filter.started_before) {
    conditions << (table == FilterTable::run_days ? QStringLiteral("day < ?")
                                                  : QStringLiteral("started_ms < ?"));
    where.values << qint64(filter.started_before->time_since_epoch().count() / unit);
  }
  if (!filter.text.empty()) {
    any_of({"uut_serial", "top_serial", "sub_serial", "technician"}, filter.text);
  }
  if (!filter.serial.empty()) any_of({"uut_serial", "top_serial", "sub_serial"}, filter.serial);
  if (!conditions.isEmpty()) {
    where.clause = QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
  }
  return where;
}

namespace {

// The runs `where` selects, newest first; a page of them when the filter asks for one.
QString newest_first(Detail detail, const Where& where, const RecordFilter& filter) {
  QString statement = select_runs(detail) + where.clause +
                      QStringLiteral(" ORDER BY runs.started_ms DESC, runs.id DESC");
  if (filter.limit || filter.offset > 0) {
    // Numbers of ours, not texts from outside: written into the statement.
    statement += QStringLiteral(" LIMIT %1 OFFSET %2")
                     .arg(filter.limit ? qulonglong(*filter.limit) : qulonglong(INT64_MAX))
                     .arg(qulonglong(filter.offset));
  }
  return statement;
}

// The last-error texts of the runs `where` selects, each run's in order.
QString errors_of_runs(const Where& where) {
  return QStringLiteral(
             "SELECT run_id, message FROM run_errors WHERE run_id IN (SELECT id FROM runs") +
         where.clause + QStringLiteral(") ORDER BY run_id, position");
}

// Moves `path` and its log files to `target` and theirs.
bool move_file_set(const QString& path, const QString& target) {
  if (!QFile::rename(path, target)) return false;
  for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
    if (QFile::exists(path + suffix)) QFile::rename(path + suffix, target + suffix);
  }
  return true;
}

}  // namespace

struct RecordStore::Impl {
  Impl(std::string store_path, OpenMode store_mode,
       std::optional<std::chrono::milliseconds> timeout)
      : path(std::move(store_path)),
        mode(store_mode),
        dialect(sql::dialect_for(path)),
        busy_timeout(timeout.value_or(dialect.is_server() ? kServerTimeout : kBusyTimeout)),
        connection(QStringLiteral("quor_records_") + QUuid::createUuid().toString()),
        waiting(mode == OpenMode::station && !dialect.is_server() ? path : std::string()) {
    location_text = dialect.is_server() ? redacted_location(path) : path;
  }

  std::string path;
  OpenMode mode;
  const sql::Dialect& dialect;
  std::chrono::milliseconds busy_timeout;
  std::string location_text;  // for a person: no password
  QString connection;
  bool is_open = false;
  // Runs left running are marked interrupted once per program run: a store opened again later
  // (after a failure) holds this program's own running runs.
  bool interrupted_marked = false;
  StoreError failure{Failure::cannot_open, "not opened yet"};
  // The runs the store could not take at once; in a station's file, in a journal beside it.
  RunJournal waiting;
  // Writes go to the journal without trying the store.
  bool deferred = false;
  std::vector<std::string> notices;
  std::optional<QSqlQuery> upsert;
  std::optional<QSqlQuery> upsert_report;
  std::optional<QSqlQuery> progress_time;
  std::optional<QSqlQuery> delete_errors;
  std::optional<QSqlQuery> insert_error;
  std::optional<QSqlQuery> progress;
  std::optional<QSqlQuery> queue_forward;
  // A shared store's: the run, its report and its errors unless they are there.
  std::optional<QSqlQuery> insert_run;
  std::optional<QSqlQuery> insert_report;
  std::optional<QSqlQuery> insert_new_error;
  // Unit results: written over (a station's file), or unless there (a shared store), and queued.
  std::optional<QSqlQuery> upsert_unit_result;
  std::optional<QSqlQuery> insert_unit_result;
  std::optional<QSqlQuery> queue_unit_result;
  // Finished runs are queued for forwarding as they are written.
  bool forwarding = false;
  // The station whose runs left running are marked interrupted; empty: every station's.
  std::string station;
  // Why the last import_runs() was refused for its content; empty when it was not.
  std::string refusal;
  std::function<void(int socket)> connection_observer;

  QSqlDatabase database() const { return QSqlDatabase::database(connection, false); }

  // A read of a store that is not open fails with the reason it is not.
  template <typename T>
  bool not_open(ReadResult<T>& result) const {
    if (is_open) return false;
    result.error = dialect.reason_text(failure.failure);
    return true;
  }

  void close() {
    upsert.reset();
    upsert_report.reset();
    progress_time.reset();
    delete_errors.reset();
    insert_error.reset();
    progress.reset();
    queue_forward.reset();
    insert_run.reset();
    insert_report.reset();
    insert_new_error.reset();
    upsert_unit_result.reset();
    insert_unit_result.reset();
    queue_unit_result.reset();
    if (QSqlDatabase::contains(connection)) {
      {
        QSqlDatabase db = database();
        // After the statements above, which a server's driver lets go of on the server: the
        // socket may be cut until then.
        if (connection_observer) connection_observer(-1);
        db.close();
      }
      QSqlDatabase::removeDatabase(connection);
    }
    is_open = false;
  }

  StoreError prepare(std::optional<QSqlQuery>& query, QSqlDatabase& db, const QString& statement) {
    query.emplace(db);
    if (!query->prepare(statement)) return dialect.error_of(query->lastError());
    return {};
  }

  // Marks the runs left running interrupted, queueing them for forwarding when it is on, in one
  // transaction.
  StoreError mark_interrupted(QSqlDatabase& db) {
    if (!db.transaction()) return dialect.error_of(db.lastError());
    QSqlQuery query(db);
    StoreError error;
    // Another station writing the same file has live runs of its own.
    const QString of_station = station.empty() ? QString() : QStringLiteral(" AND station_id = ?");
    if (forwarding) {
      query.prepare(
          QStringLiteral("INSERT INTO forward_queue (run_id, sequence, queued_ms) SELECT id,"
                         " (SELECT COALESCE(MAX(sequence), 0) FROM forward_queue) +"
                         " ROW_NUMBER() OVER (ORDER BY started_ms, id), ? FROM runs"
                         " WHERE outcome = ?") +
          of_station + QStringLiteral(" ON CONFLICT (run_id) DO NOTHING"));
      query.addBindValue(millis(now()));
      query.addBindValue(text(text_id(Outcome::running)));
      if (!station.empty()) query.addBindValue(text(station));
      if (!query.exec()) error = dialect.error_of(query.lastError());
    }
    if (!error) {
      query.prepare(QStringLiteral("UPDATE runs SET outcome = ? WHERE outcome = ?") + of_station);
      query.addBindValue(text(text_id(Outcome::interrupted)));
      query.addBindValue(text(text_id(Outcome::running)));
      if (!station.empty()) query.addBindValue(text(station));
      if (!query.exec()) error = dialect.error_of(query.lastError());
    }
    // The unit results cut off with them: their steps done stay as they were written.
    if (!error && forwarding) {
      query.prepare(
          QStringLiteral("INSERT INTO unit_result_queue (unit_result_id, sequence, queued_ms)"
                         " SELECT id, (SELECT COALESCE(MAX(sequence), 0) FROM unit_result_queue)"
                         " + ROW_NUMBER() OVER (ORDER BY started_ms, id), ? FROM unit_results"
                         " WHERE verdict = ?") +
          of_station + QStringLiteral(" ON CONFLICT (unit_result_id) DO NOTHING"));
      query.addBindValue(millis(now()));
      query.addBindValue(text(text_id(UnitVerdict::running)));
      if (!station.empty()) query.addBindValue(text(station));
      if (!query.exec()) error = dialect.error_of(query.lastError());
    }
    if (!error) {
      query.prepare(QStringLiteral("UPDATE unit_results SET verdict = ? WHERE verdict = ?") +
                    of_station);
      query.addBindValue(text(text_id(UnitVerdict::interrupted)));
      query.addBindValue(text(text_id(UnitVerdict::running)));
      if (!station.empty()) query.addBindValue(text(station));
      if (!query.exec()) error = dialect.error_of(query.lastError());
    }
    if (!error && !db.commit()) error = dialect.error_of(db.lastError());
    if (error) db.rollback();
    return error;
  }

  StoreError open_connection() {
    QSqlDatabase db = QSqlDatabase::addDatabase(dialect.driver_name(), connection);
    if (!db.isValid()) {
      return {Failure::other,
              "the Qt " + dialect.driver_name().toStdString() + " driver is not installed"};
    }
    if (StoreError error = dialect.locate(db, path, busy_timeout)) return error;
    if (!db.open()) return dialect.error_of(db.lastError());
    if (connection_observer) connection_observer(dialect.socket_of(db));
    const bool writer = mode != OpenMode::reader;
    if (StoreError error = dialect.configure(db, writer, busy_timeout)) return error;
    if (StoreError error = dialect.check_integrity(db)) return error;
    if (writer) {
      if (StoreError error = sql::migrate(db, dialect)) {
        // The schema belongs to the line's owner role: a station's role may not bring it forward.
        if (dialect.is_server() && error.failure == Failure::permission_denied) {
          error.failure = Failure::needs_setup;
        }
        return error;
      }
      if (StoreError error = prepare(upsert, db, upsert_statement())) return error;
      if (StoreError error = prepare(upsert_report, db,
                                     QStringLiteral("INSERT INTO run_reports (run_id, report) "
                                                    "VALUES (?, ?) ON CONFLICT (run_id) DO UPDATE "
                                                    "SET report = excluded.report"))) {
        return error;
      }
      if (StoreError error = prepare(delete_errors, db,
                                     QStringLiteral("DELETE FROM run_errors WHERE run_id = ?"))) {
        return error;
      }
      if (StoreError error = prepare(insert_error, db,
                                     QStringLiteral("INSERT INTO run_errors (run_id, position, "
                                                    "message) VALUES (?, ?, ?)"))) {
        return error;
      }
      if (StoreError error = prepare(
              progress, db, QStringLiteral("UPDATE run_reports SET report = ? WHERE run_id = ?"))) {
        return error;
      }
      if (StoreError error = prepare(
              progress_time, db, QStringLiteral("UPDATE runs SET progress_ms = ? WHERE id = ?"))) {
        return error;
      }
      // Next in the queue; a run queued before keeps its place.
      if (StoreError error = prepare(
              queue_forward, db,
              QStringLiteral("INSERT INTO forward_queue (run_id, sequence, queued_ms)"
                             " SELECT ?, COALESCE(MAX(sequence), 0) + 1, ? FROM forward_queue"
                             " WHERE 1 = 1 ON CONFLICT (run_id) DO NOTHING"))) {
        return error;
      }
      if (StoreError error = prepare(upsert_unit_result, db, sql::upsert_unit_result_statement())) {
        return error;
      }
      if (StoreError error = prepare(
              queue_unit_result, db,
              QStringLiteral("INSERT INTO unit_result_queue (unit_result_id, sequence, queued_ms)"
                             " SELECT ?, COALESCE(MAX(sequence), 0) + 1, ? FROM unit_result_queue"
                             " WHERE 1 = 1 ON CONFLICT (unit_result_id) DO NOTHING"))) {
        return error;
      }
      if (keeps_first()) {
        if (StoreError error =
                prepare(insert_unit_result, db, sql::insert_new_unit_result_statement())) {
          return error;
        }
        if (StoreError error = prepare(insert_run, db, insert_new_statement())) return error;
        if (StoreError error = prepare(insert_report, db,
                                       QStringLiteral("INSERT INTO run_reports (run_id, report) "
                                                      "VALUES (?, ?) ON CONFLICT DO NOTHING"))) {
          return error;
        }
        if (StoreError error = prepare(insert_new_error, db,
                                       QStringLiteral("INSERT INTO run_errors (run_id, position, "
                                                      "message) VALUES (?, ?, ?) ON CONFLICT DO "
                                                      "NOTHING"))) {
          return error;
        }
      }
      // The runs an earlier program left in its journal go in first: a run that finished there
      // is then never taken for one cut off.
      if (marks_interrupted() && !interrupted_marked) {
        if (StoreError error = replay()) return error;
        if (StoreError error = mark_interrupted(db)) return error;
        interrupted_marked = true;
      }
    } else {
      const sql::SchemaVersion version = sql::schema_version(db, dialect);
      if (version.error) return version.error;
      if (version.version > sql::kSchemaVersion) {
        return {Failure::newer_schema, "schema version " + std::to_string(version.version)};
      }
      if (version.version < sql::kSchemaVersion) {
        if (dialect.is_server()) {
          return {Failure::needs_setup, "the database holds no records of this version"};
        }
        return {Failure::other,
                "the record file holds no records of this version; start the station on it once "
                "to bring it up to date"};
      }
    }
    return {};
  }

  // A store many stations share keeps a run's first delivery.
  bool keeps_first() const { return mode == OpenMode::shared || dialect.is_server(); }

  // Each run's rows written by `rows`, all of them or none, in one transaction.
  template <typename Rows>
  StoreError write_each(std::span<const RunRecord> records, const Rows& rows) {
    QSqlDatabase db = database();
    if (!db.transaction()) return dialect.error_of(db.lastError());
    const TimePoint written = now();
    StoreError error;
    for (const RunRecord& record : records) {
      error = rows(record, written);
      if (error) break;
    }
    if (!error && !db.commit()) error = dialect.error_of(db.lastError());
    if (error) db.rollback();
    return error;
  }

  // One run's rows unless the run is there, inside the caller's transaction: a run there with the
  // same content (read back through `find_there`) is left alone, one with other content refused.
  StoreError write_new_rows(
      const RunRecord& record, TimePoint written,
      const std::function<ReadResult<std::optional<RunRecord>>(const std::string&)>& find_there) {
    bind_record(*insert_run, record, written);
    if (!insert_run->exec()) return dialect.error_of(insert_run->lastError());
    if (insert_run->numRowsAffected() == 0) {
      const ReadResult<std::optional<RunRecord>> there = find_there(record.id);
      if (!there.error.empty()) return {Failure::other, there.error};
      if (there.value == record) return {};
      return {Failure::conflict, {}};
    }
    insert_report->bindValue(0, text(record.id));
    insert_report->bindValue(1, text(record.report));
    if (!insert_report->exec()) return dialect.error_of(insert_report->lastError());
    for (std::size_t i = 0; i < record.last_errors.size(); ++i) {
      insert_new_error->bindValue(0, text(record.id));
      insert_new_error->bindValue(1, int(i));
      insert_new_error->bindValue(2, text(record.last_errors[i]));
      if (!insert_new_error->exec()) return dialect.error_of(insert_new_error->lastError());
    }
    return {};
  }

  // All of them or none, in one transaction.
  StoreError write_new(
      std::span<const RunRecord> records,
      const std::function<ReadResult<std::optional<RunRecord>>(const std::string&)>& find_there) {
    return write_each(records, [&](const RunRecord& record, TimePoint written) {
      return write_new_rows(record, written, find_there);
    });
  }

  // A refusal for the status line and the set-aside runs: the reason and the driver's first line.
  std::string refusal_text(const StoreError& error) const {
    std::string text = dialect.reason_text(error.failure);
    const std::string detail = first_line(without_password(error.detail));
    if (!detail.empty()) text += ": " + detail;
    return text;
  }

  // Only a station's own file: on a shared store, a run left running may be another station's.
  bool marks_interrupted() const { return mode == OpenMode::station && !dialect.is_server(); }
  bool moves_aside() const { return mode == OpenMode::station && !dialect.is_server(); }

  // The text with a server's password (as given and percent-encoded) left out.
  std::string without_password(std::string text) const {
    return dialect.is_server() ? records::without_password(std::move(text), path) : text;
  }

  // Renames a damaged file with a time suffix (never deletes it); empty when it could not.
  std::string move_aside() {
    const QString from = QString::fromStdString(path);
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = from + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(target); ++n) {
      target = from + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    }
    if (!move_file_set(from, target)) return {};
    return target.toStdString();
  }

  bool open() {
    close();
    if (mode != OpenMode::reader && !dialect.is_server()) {
      QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    }
    waiting.open();
    StoreError error = open_connection();
    if (error.failure == Failure::damaged && moves_aside()) {
      close();
      const std::string moved = move_aside();
      if (moved.empty()) {
        error.detail = "it could not be moved aside: " + error.detail;
      } else {
        notices.push_back("The record file " + path + " was damaged. It has been moved to " +
                          moved + " and a new record file " + path + " has been begun.");
        error = open_connection();
      }
    }
    failure = error;
    if (error) {
      close();
      return false;
    }
    is_open = true;
    return true;
  }

  // One run's rows, inside the caller's transaction.
  StoreError write_rows(const RunRecord& record, TimePoint written) {
    bind_record(*upsert, record, written);
    if (!upsert->exec()) return dialect.error_of(upsert->lastError());
    upsert_report->bindValue(0, text(record.id));
    upsert_report->bindValue(1, text(record.report));
    if (!upsert_report->exec()) return dialect.error_of(upsert_report->lastError());
    delete_errors->bindValue(0, text(record.id));
    if (!delete_errors->exec()) return dialect.error_of(delete_errors->lastError());
    for (std::size_t i = 0; i < record.last_errors.size(); ++i) {
      insert_error->bindValue(0, text(record.id));
      insert_error->bindValue(1, int(i));
      insert_error->bindValue(2, text(record.last_errors[i]));
      if (!insert_error->exec()) return dialect.error_of(insert_error->lastError());
    }
    if (forwarding && record.outcome != Outcome::running) {
      queue_forward->bindValue(0, text(record.id));
      queue_forward->bindValue(1, millis(written));
      if (!queue_forward->exec()) return dialect.error_of(queue_forward->lastError());
    }
    return {};
  }

  // All of them or none, in one transaction.
  StoreError write(std::span<const RunRecord> records) {
    return write_each(records, [this](const RunRecord& record, TimePoint written) {
      return write_rows(record, written);
    });
  }

  StoreError save_report(const std::string& id, const std::string& report) {
    QSqlDatabase db = database();
    if (!db.transaction()) return dialect.error_of(db.lastError());
    StoreError error;
    progress->bindValue(0, text(report));
    progress->bindValue(1, text(id));
    if (!progress->exec()) error = dialect.error_of(progress->lastError());
    if (!error) {
      progress_time->bindValue(0, millis(now()));
      progress_time->bindValue(1, text(id));
      if (!progress_time->exec()) error = dialect.error_of(progress_time->lastError());
    }
    if (!error && !db.commit()) error = dialect.error_of(db.lastError());
    if (error) db.rollback();
    return error;
  }

  // Writes the runs `from_before` (an earlier program's) or all that wait, oldest first, a batch
  // per transaction, at most `batches` batches.
  StoreError write_waiting(bool from_before, std::size_t batches, std::size_t& written) {
    written = 0;
    for (std::size_t batch = 0; batch < batches; ++batch) {
      std::vector<RunRecord> runs = waiting.oldest(kRetryBatch, from_before);
      std::vector<UnitResult> unit_results = waiting.oldest_unit_results(kRetryBatch, from_before);
      if (runs.empty() && unit_results.empty()) break;
      std::vector<std::string> ids;
      for (const RunRecord& run : runs) ids.push_back(run.id);
      // An earlier program's running state of a run the file holds as ended is an older state
      // whose "stored" entry its journal could not take (a full disk): it never comes back over
      // the end. (A unit result's upsert never lets a running state over an end.)
      if (from_before) std::erase_if(runs, [this](const RunRecord& run) { return ended(run); });
      if (StoreError error = write(runs)) return error;
      waiting.stored(ids);
      written += runs.size();
      ids.clear();
      for (const UnitResult& result : unit_results) ids.push_back(result.id);
      if (StoreError error = write_unit_results(unit_results)) return error;
      waiting.stored(ids);
      written += unit_results.size();
    }
    return {};
  }

  // The run is running and the file holds it as ended (passed, failed, aborted...).
  bool ended(const RunRecord& run) {
    if (run.outcome != Outcome::running) return false;
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT outcome FROM runs WHERE id = ?"));
    query.addBindValue(text(run.id));
    if (!query.exec() || !query.next()) return false;
    const std::string there = string_at(query, 0);
    return there != text_id(Outcome::running) && there != text_id(Outcome::interrupted);
  }

  StoreError replay() {
    std::size_t written = 0;
    return write_waiting(true, SIZE_MAX, written);
  }

  // One unit result's row, inside the caller's transaction.
  StoreError write_unit_result_rows(const UnitResult& result, TimePoint written) {
    sql::bind_unit_result(*upsert_unit_result, result);
    if (!upsert_unit_result->exec()) return dialect.error_of(upsert_unit_result->lastError());
    if (forwarding && result.verdict != UnitVerdict::running) {
      queue_unit_result->bindValue(0, text(result.id));
      queue_unit_result->bindValue(1, millis(written));
      if (!queue_unit_result->exec()) return dialect.error_of(queue_unit_result->lastError());
    }
    return {};
  }

  // All of them or none, in one transaction.
  StoreError write_unit_results(std::span<const UnitResult> results) {
    if (results.empty()) return {};
    QSqlDatabase db = database();
    if (!db.transaction()) return dialect.error_of(db.lastError());
    const TimePoint written = now();
    StoreError error;
    for (const UnitResult& result : results) {
      error = write_unit_result_rows(result, written);
      if (error) break;
    }
    if (!error && !db.commit()) error = dialect.error_of(db.lastError());
    if (error) db.rollback();
    return error;
  }

  bool store(const UnitResult& result) {
    if (deferred || !can_write()) {
      waiting.keep(result);
      return false;
    }
    const bool waits = waiting.find_unit_result(result.id) != nullptr;
    if (waits) waiting.keep(result);
    if (StoreError error = write_unit_results(std::span(&result, 1))) {
      failure = error;
      if (!waits) waiting.keep(result);
      return false;
    }
    failure = {};
    if (waits) waiting.stored({result.id});
    return true;
  }

  // Writes go through the open connection of a station-mode store while it is not damaged.
  bool can_write() const { return is_open && upsert && failure.failure != Failure::damaged; }

  bool store(const RunRecord& record) {
    if (deferred || !can_write()) {
      waiting.keep(record);
      return false;
    }
    // A state of the run waits already: the journal takes the new one first, so that the older
    // one cannot come back over it after a crash.
    const bool waits = waiting.find(record.id) != nullptr;
    if (waits) waiting.keep(record);
    if (StoreError error = write(std::span(&record, 1))) {
      failure = error;
      if (!waits) waiting.keep(record);
      return false;
    }
    failure = {};
    if (waits) waiting.stored({record.id});
    return true;
  }
};

RecordStore::RecordStore(std::string path, OpenMode mode,
                         std::optional<std::chrono::milliseconds> busy_timeout)
    : impl_(std::make_unique<Impl>(std::move(path), mode, busy_timeout)) {}

RecordStore::~RecordStore() { impl_->close(); }

bool RecordStore::open() { return impl_->open(); }

const std::string& RecordStore::path() const { return impl_->path; }

bool RecordStore::keeping_records() const { return impl_->is_open && !impl_->failure; }

std::size_t RecordStore::waiting() const { return impl_->waiting.size(); }

std::size_t RecordStore::in_memory() const { return impl_->waiting.in_memory(); }

void RecordStore::defer_writes(bool on) { impl_->deferred = on; }

ReadResult<std::optional<TimePoint>> RecordStore::latest_made() {
  ReadResult<std::optional<TimePoint>> result;
  if (impl_->not_open(result)) return result;
  QSqlQuery query(impl_->database());
  if (!query.exec(QStringLiteral("SELECT MAX(COALESCE(made_ms, started_ms)) FROM runs")) ||
      !query.next()) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  if (!query.isNull(0)) result.value = time_at(query, 0);
  return result;
}

std::string RecordStore::location_text() const { return impl_->location_text; }

bool RecordStore::on_server() const { return impl_->dialect.is_server(); }

std::string RecordStore::reason() const {
  return keeping_records() ? std::string() : impl_->dialect.reason_text(impl_->failure.failure);
}

std::string RecordStore::status_text() const {
  const std::size_t count = impl_->waiting.size();
  const std::size_t in_memory = impl_->waiting.in_memory();
  const std::string runs = std::to_string(count) + (count == 1 ? " run waits" : " runs wait");
  const bool server = impl_->dialect.is_server();
  if (keeping_records()) {
    if (count == 0) return {};
    return runs + (server ? " to be written to the records server."
                          : " to be written to the record file.");
  }
  std::string text =
      "Records are not being kept: " + impl_->dialect.reason_text(impl_->failure.failure);
  if (!impl_->failure.detail.empty()) {
    // One line: a driver's text may hold line breaks and tabs.
    std::string detail = impl_->without_password(impl_->failure.detail);
    std::replace_if(
        detail.begin(), detail.end(), [](char c) { return c == '\n' || c == '\t'; }, ' ');
    while (!detail.empty() && detail.back() == ' ') detail.pop_back();
    text += " (" + detail + ")";
  }
  text += " - " + impl_->location_text + ".";
  if (count > 0 && server) {
    text += " " + runs + " in memory until the server takes them.";
  } else if (count > 0 && in_memory == 0) {
    text +=
        " " + runs + " in the journal " + impl_->waiting.file() + " until the file can be written.";
  } else if (count > 0) {
    text += " " + runs + " until the file can be written, " + std::to_string(in_memory) +
            " of them in memory only";
    if (!impl_->waiting.error().empty()) text += ": " + impl_->waiting.error();
    text += ".";
  }
  return text;
}

std::vector<std::string> RecordStore::take_notices() { return std::exchange(impl_->notices, {}); }

bool RecordStore::begin_run(const RunRecord& record) {
  RunRecord running = record;
  running.outcome = Outcome::running;
  running.ended.reset();
  return impl_->store(running);
}

bool RecordStore::save_progress(const std::string& id, const std::string& report) {
  if (const RunRecord* waiting = impl_->waiting.find(id)) {
    RunRecord latest = *waiting;
    latest.report = report;
    impl_->waiting.keep(latest);
    return false;
  }
  // Deferred (a close out of time): the file waits for nothing; the run's end is kept whole.
  if (impl_->deferred || !impl_->can_write()) return false;
  if (StoreError error = impl_->save_report(id, report)) {
    impl_->failure = error;
    return false;
  }
  impl_->failure = {};
  return true;
}

bool RecordStore::complete_run(const RunRecord& record) { return impl_->store(record); }

bool RecordStore::begin_unit_result(const UnitResult& result) {
  UnitResult running = result;
  running.verdict = UnitVerdict::running;
  running.ended.reset();
  return impl_->store(running);
}

bool RecordStore::complete_unit_result(const UnitResult& result) { return impl_->store(result); }

std::size_t RecordStore::retry() {
  // A server's connection that failed may be lost or stuck: a new one is cheap.
  const bool reconnect = impl_->dialect.is_server() && impl_->failure;
  if (!impl_->is_open || impl_->failure.failure == Failure::damaged || reconnect) {
    if (!impl_->open()) return 0;
  }
  // Runs kept in memory only (the journal could not be written) go to the journal first.
  impl_->waiting.sync();
  if (!impl_->can_write()) return 0;
  std::size_t written = 0;
  if (StoreError error = impl_->write_waiting(false, 1, written)) {
    impl_->failure = error;
    return 0;
  }
  impl_->failure = {};
  return written;
}

void RecordStore::set_forwarding(bool on) { impl_->forwarding = on; }

void RecordStore::set_station(std::string id) { impl_->station = std::move(id); }

ReadResult<std::vector<RunRecord>> RecordStore::forward_batch(std::size_t limit) {
  ReadResult<std::vector<RunRecord>> result;
  if (impl_->not_open(result)) return result;
  QSqlDatabase db = impl_->database();
  // One transaction, so that the runs and their errors are read as of one moment.
  if (!db.transaction()) {
    result.error = db.lastError().text().toStdString();
    return result;
  }
  const QString batch = QStringLiteral(
                            " JOIN (SELECT run_id, sequence FROM forward_queue ORDER BY sequence"
                            " LIMIT %1) batch ON batch.run_id = runs.id")
                            .arg(qulonglong(limit));
  QSqlQuery query(db);
  query.setForwardOnly(true);
  std::unordered_map<std::string, std::size_t> position;
  if (!query.exec(select_runs(Detail::full) + batch + QStringLiteral(" ORDER BY batch.sequence"))) {
    result.error = query.lastError().text().toStdString();
  }
  while (result.error.empty() && query.next()) {
    RunRecord record;
    if (!read_record(query, record)) continue;
    position.emplace(record.id, result.value.size());
    result.value.push_back(std::move(record));
  }
  QSqlQuery errors(db);
  errors.setForwardOnly(true);
  if (result.error.empty() &&
      !errors.exec(QStringLiteral("SELECT run_errors.run_id, run_errors.message FROM run_errors"
                                  " JOIN (SELECT run_id FROM forward_queue ORDER BY sequence"
                                  " LIMIT %1) batch ON batch.run_id = run_errors.run_id"
                                  " ORDER BY run_errors.run_id, run_errors.position")
                       .arg(qulonglong(limit)))) {
    result.error = errors.lastError().text().toStdString();
  }
  while (result.error.empty() && errors.next()) {
    const auto found = position.find(errors.value(0).toString().toStdString());
    if (found != position.end()) {
      result.value[found->second].last_errors.push_back(errors.value(1).toString().toStdString());
    }
  }
  db.commit();
  if (!result.error.empty()) result.value.clear();
  return result;
}

namespace {

// Runs `statement` (one bound id) for each of `ids` in one transaction: the forwarding queues'
// deliveries taken off. The error, or empty.
std::string for_each_id(QSqlDatabase db, const QString& statement,
                        const std::vector<std::string>& ids) {
  if (!db.transaction()) return db.lastError().text().toStdString();
  QSqlQuery query(db);
  std::string error;
  if (!query.prepare(statement)) error = query.lastError().text().toStdString();
  for (const std::string& id : ids) {
    if (!error.empty()) break;
    query.bindValue(0, text(id));
    if (!query.exec()) error = query.lastError().text().toStdString();
  }
  if (error.empty() && !db.commit()) error = db.lastError().text().toStdString();
  if (!error.empty()) db.rollback();
  return error;
}

}  // namespace

std::string RecordStore::forwarded(const std::vector<std::string>& ids) {
  if (!impl_->is_open) return impl_->dialect.reason_text(impl_->failure.failure);
  return for_each_id(impl_->database(),
                     QStringLiteral("DELETE FROM forward_queue WHERE run_id = ?"), ids);
}

ReadResult<ForwardBacklog> RecordStore::forward_backlog() {
  ReadResult<ForwardBacklog> result;
  if (impl_->not_open(result)) return result;
  QSqlQuery query(impl_->database());
  if (!query.exec(QStringLiteral("SELECT COUNT(*), MIN(queued_ms) FROM forward_queue")) ||
      !query.next()) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  result.value.count = query.value(0).toULongLong();
  if (!query.isNull(1)) result.value.oldest = time_at(query, 1);
  if (!query.exec(QStringLiteral(
          "SELECT COUNT(*), (SELECT reason FROM forward_refused ORDER BY refused_ms DESC,"
          " run_id DESC LIMIT 1) FROM forward_refused")) ||
      !query.next()) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  result.value.set_aside = query.value(0).toULongLong();
  result.value.latest_refusal = string_at(query, 1);
  // The unit results wait and are set aside beside the runs.
  if (!query.exec(QStringLiteral("SELECT SUM(CASE WHEN refused_ms IS NULL THEN 1 ELSE 0 END),"
                                 " MIN(CASE WHEN refused_ms IS NULL THEN queued_ms END),"
                                 " SUM(CASE WHEN refused_ms IS NULL THEN 0 ELSE 1 END),"
                                 " MAX(refused_ms) FROM unit_result_queue")) ||
      !query.next()) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  result.value.count += query.value(0).toULongLong();
  if (!query.isNull(1)) {
    const TimePoint oldest = time_at(query, 1);
    if (!result.value.oldest || oldest < *result.value.oldest) result.value.oldest = oldest;
  }
  result.value.set_aside += query.value(2).toULongLong();
  return result;
}

bool RecordStore::import_runs(const std::vector<RunRecord>& records) {
  impl_->refusal.clear();
  if (!impl_->can_write()) return false;
  const StoreError error =
      impl_->keeps_first()
          ? impl_->write_new(records, [this](const std::string& id) { return find(id); })
          : impl_->write(records);
  if (error && sql::is_content_refusal(error.failure)) {
    // The store works; what was sent does not go in.
    impl_->refusal = impl_->refusal_text(error);
    impl_->failure = {};
    return false;
  }
  impl_->failure = error;
  return !error;
}

std::string RecordStore::refusal() const { return impl_->refusal; }

void RecordStore::set_connection_observer(std::function<void(int socket)> observer) {
  impl_->connection_observer = std::move(observer);
}

std::string RecordStore::set_aside(const std::string& id, const std::string& reason) {
  if (!impl_->is_open) return impl_->dialect.reason_text(impl_->failure.failure);
  QSqlDatabase db = impl_->database();
  if (!db.transaction()) return db.lastError().text().toStdString();
  QSqlQuery query(db);
  std::string error;
  query.prepare(
      QStringLiteral("INSERT INTO forward_refused (run_id, refused_ms, reason) VALUES (?, ?, ?)"
                     " ON CONFLICT (run_id) DO UPDATE SET refused_ms = excluded.refused_ms,"
                     " reason = excluded.reason"));
  query.addBindValue(text(id));
  query.addBindValue(millis(now()));
  query.addBindValue(text(reason));
  if (!query.exec()) error = query.lastError().text().toStdString();
  if (error.empty()) {
    query.prepare(QStringLiteral("DELETE FROM forward_queue WHERE run_id = ?"));
    query.addBindValue(text(id));
    if (!query.exec()) error = query.lastError().text().toStdString();
  }
  if (error.empty() && !db.commit()) error = db.lastError().text().toStdString();
  if (!error.empty()) db.rollback();
  return error;
}

ReadResult<std::vector<SetAsideRun>> RecordStore::set_aside_runs() {
  ReadResult<std::vector<SetAsideRun>> result;
  if (impl_->not_open(result)) return result;
  QSqlQuery query(impl_->database());
  query.setForwardOnly(true);
  if (!query.exec(QStringLiteral("SELECT run_id, refused_ms, reason FROM forward_refused"
                                 " ORDER BY refused_ms DESC, run_id DESC"))) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  while (query.next()) {
    result.value.push_back({string_at(query, 0), time_at(query, 1), string_at(query, 2)});
  }
  return result;
}

ReadResult<std::vector<RunRecord>> RecordStore::query(const RecordFilter& filter, Detail detail) {
  ReadResult<std::vector<RunRecord>> result;
  if (impl_->not_open(result)) return result;
  QSqlDatabase db = impl_->database();
  const Where where = where_of(filter, impl_->dialect);
  QSqlQuery query(db);
  query.setForwardOnly(true);
  if (!query.prepare(newest_first(detail, where, filter))) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  bind_all(query, where.values);
  if (!query.exec()) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  std::unordered_map<std::string, std::size_t> position;
  while (query.next()) {
    RunRecord record;
    if (!read_record(query, record)) continue;
    if (detail == Detail::full) position.emplace(record.id, result.value.size());
    result.value.push_back(std::move(record));
  }
  if (detail == Detail::list || result.value.empty()) return result;

  QSqlQuery errors(db);
  errors.setForwardOnly(true);
  errors.prepare(errors_of_runs(where));
  bind_all(errors, where.values);
  if (!errors.exec()) {
    result.error = errors.lastError().text().toStdString();
    result.value.clear();
    return result;
  }
  while (errors.next()) {
    const auto found = position.find(errors.value(0).toString().toStdString());
    if (found != position.end()) {
      result.value[found->second].last_errors.push_back(errors.value(1).toString().toStdString());
    }
  }
  return result;
}

std::string RecordStore::scan(const RecordFilter& filter, std::size_t chunk,
                              const std::function<bool(std::vector<RunRecord>& runs)>& take) {
  if (!impl_->is_open) return impl_->dialect.reason_text(impl_->failure.failure);
  chunk = std::max<std::size_t>(chunk, 1);
  QSqlDatabase db = impl_->database();
  const Where where = where_of(filter, impl_->dialect);
  // The last-error texts first: few runs have any, and the runs are then read in one pass.
  std::unordered_map<std::string, std::vector<std::string>> errors_of;
  {
    QSqlQuery errors(db);
    errors.setForwardOnly(true);
    errors.prepare(errors_of_runs(where));
    bind_all(errors, where.values);
    if (!errors.exec()) return errors.lastError().text().toStdString();
    while (errors.next()) {
      errors_of[errors.value(0).toString().toStdString()].push_back(
          errors.value(1).toString().toStdString());
    }
  }
  QSqlQuery query(db);
  query.setForwardOnly(true);
  if (!query.prepare(newest_first(Detail::full, where, filter)))
    return query.lastError().text().toStdString();
  bind_all(query, where.values);
  if (!query.exec()) return query.lastError().text().toStdString();
  std::vector<RunRecord> runs;
  runs.reserve(chunk);
  while (query.next()) {
    RunRecord record;
    if (!read_record(query, record)) continue;
    if (const auto found = errors_of.find(record.id); found != errors_of.end()) {
      record.last_errors = std::move(found->second);
    }
    runs.push_back(std::move(record));
    if (runs.size() == chunk) {
      if (!take(runs)) return {};
      runs.clear();
    }
  }
  if (query.lastError().isValid()) return query.lastError().text().toStdString();
  if (!runs.empty()) take(runs);
  return {};
}

ReadResult<Summary> RecordStore::summarize(const RecordFilter& filter) {
  ReadResult<Summary> result;
  if (impl_->not_open(result)) return result;
  result.error = summarize_runs(*this, filter, result.value);
  if (!result.error.empty()) result.value = {};
  return result;
}

ReadResult<std::vector<RunGroup>> RecordStore::group(const RecordFilter& filter) {
  ReadResult<std::vector<RunGroup>> result;
  if (impl_->not_open(result)) return result;
  const Where where = where_of(filter, impl_->dialect);
  QSqlQuery query(impl_->database());
  query.setForwardOnly(true);
  query.prepare(QStringLiteral("SELECT procedure_id, outcome, COUNT(*), SUM(CASE WHEN ended_ms >"
                               " started_ms THEN ended_ms - started_ms ELSE 0 END) FROM runs") +
                where.clause + QStringLiteral(" GROUP BY procedure_id, outcome"));
  bind_all(query, where.values);
  if (!query.exec()) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  while (query.next()) {
    const auto procedure = procedure_from_text_id(string_at(query, 0));
    const auto outcome = outcome_from_text_id(string_at(query, 1));
    if (!procedure || !outcome) continue;
    result.value.push_back(
        {*procedure, *outcome, query.value(2).toULongLong(), query.value(3).toLongLong()});
  }
  std::sort(result.value.begin(), result.value.end(), [](const RunGroup& a, const RunGroup& b) {
    return std::pair(a.procedure, a.outcome) < std::pair(b.procedure, b.outcome);
  });
  return result;
}

ReadResult<std::vector<std::string>> RecordStore::stations() {
  ReadResult<std::vector<std::string>> result;
  if (impl_->not_open(result)) return result;
  QSqlQuery query(impl_->database());
  query.setForwardOnly(true);
  if (!query.exec(QStringLiteral("SELECT DISTINCT station_id FROM run_days WHERE runs > 0"))) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  while (query.next()) result.value.push_back(string_at(query, 0));
  std::sort(result.value.begin(), result.value.end());
  return result;
}

ReadResult<std::vector<std::string>> RecordStore::stations(std::size_t most) {
  ReadResult<std::vector<std::string>> result;
  if (impl_->not_open(result)) return result;
  QSqlQuery query(impl_->database());
  query.setForwardOnly(true);
  // The first `most` in byte order (a server's "C" collation; a file's texts compare so), ids
  // longer than a list shows left out before they are counted.
  const QString station = impl_->dialect.is_server() ? QStringLiteral("station_id COLLATE \"C\"")
                                                     : QStringLiteral("station_id");
  if (!query.exec(QStringLiteral("SELECT DISTINCT %1 FROM runs WHERE LENGTH(station_id) <= %2"
                                 " ORDER BY 1 LIMIT %3")
                      .arg(station)
                      .arg(kListTextLimit)
                      .arg(qulonglong(most)))) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  while (query.next()) result.value.push_back(string_at(query, 0));
  return result;
}

std::string RecordStore::read_together(const std::function<std::string()>& reads) {
  if (!impl_->is_open) return impl_->dialect.reason_text(impl_->failure.failure);
  QSqlDatabase db = impl_->database();
  if (!db.transaction()) return db.lastError().text().toStdString();
  if (const StoreError moment = impl_->dialect.read_one_moment(db)) {
    db.rollback();
    return moment.detail;
  }
  const std::string error = reads();
  // Nothing was written: the end of the transaction only lets the view go.
  if (!db.commit()) db.rollback();
  return error;
}

ReadResult<std::optional<RunRecord>> RecordStore::find(const std::string& id) {
  ReadResult<std::optional<RunRecord>> result;
  if (impl_->not_open(result)) return result;
  QSqlDatabase db = impl_->database();
  QSqlQuery query(db);
  query.prepare(select_runs(Detail::full) + QStringLiteral(" WHERE runs.id = ?"));
  query.addBindValue(text(id));
  if (!query.exec()) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  RunRecord record;
  if (!query.next() || !read_record(query, record)) return result;
  QSqlQuery errors(db);
  errors.prepare(
      QStringLiteral("SELECT message FROM run_errors WHERE run_id = ? ORDER BY position"));
  errors.addBindValue(text(id));
  if (!errors.exec()) {
    result.error = errors.lastError().text().toStdString();
    return result;
  }
  while (errors.next()) record.last_errors.push_back(errors.value(0).toString().toStdString());
  result.value = std::move(record);
  return result;
}

bool RecordStore::import_unit_results(const std::vector<UnitResult>& results) {
  impl_->refusal.clear();
  if (!impl_->can_write()) return false;
  StoreError error;
  if (!impl_->keeps_first()) {
    error = impl_->write_unit_results(results);
  } else {
    QSqlDatabase db = impl_->database();
    if (!db.transaction()) {
      error = impl_->dialect.error_of(db.lastError());
    } else {
      for (const UnitResult& result : results) {
        sql::bind_unit_result(*impl_->insert_unit_result, result);
        if (!impl_->insert_unit_result->exec()) {
          error = impl_->dialect.error_of(impl_->insert_unit_result->lastError());
          break;
        }
        if (impl_->insert_unit_result->numRowsAffected() != 0) continue;
        // Delivered twice: the same content is left as it is, other content refused.
        const ReadResult<std::optional<UnitResult>> there = find_unit_result(result.id);
        if (!there.error.empty()) {
          error = {Failure::other, there.error};
        } else if (there.value != result) {
          error = {Failure::conflict, {}};
        }
        if (error) break;
      }
      if (!error && !db.commit()) error = impl_->dialect.error_of(db.lastError());
      if (error) db.rollback();
    }
  }
  if (error && sql::is_content_refusal(error.failure)) {
    impl_->refusal = impl_->refusal_text(error);
    impl_->failure = {};
    return false;
  }
  impl_->failure = error;
  return !error;
}

ReadResult<std::vector<UnitResult>> RecordStore::forward_unit_result_batch(std::size_t limit) {
  ReadResult<std::vector<UnitResult>> result;
  if (impl_->not_open(result)) return result;
  QSqlQuery query(impl_->database());
  query.setForwardOnly(true);
  if (!query.exec(sql::select_unit_results() +
                  QStringLiteral(" JOIN (SELECT unit_result_id, sequence FROM unit_result_queue"
                                 " WHERE refused_ms IS NULL ORDER BY sequence LIMIT %1) batch"
                                 " ON batch.unit_result_id = unit_results.id"
                                 " ORDER BY batch.sequence")
                      .arg(qulonglong(limit)))) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  while (query.next()) {
    UnitResult unit_result;
    if (sql::read_unit_result(query, unit_result)) result.value.push_back(std::move(unit_result));
  }
  return result;
}

std::string RecordStore::unit_results_forwarded(const std::vector<std::string>& ids) {
  if (!impl_->is_open) return impl_->dialect.reason_text(impl_->failure.failure);
  return for_each_id(impl_->database(),
                     QStringLiteral("DELETE FROM unit_result_queue WHERE unit_result_id = ?"), ids);
}

std::string RecordStore::set_aside_unit_result(const std::string& id, const std::string& reason) {
  if (!impl_->is_open) return impl_->dialect.reason_text(impl_->failure.failure);
  QSqlQuery query(impl_->database());
  query.prepare(QStringLiteral(
      "UPDATE unit_result_queue SET refused_ms = ?, reason = ? WHERE unit_result_id = ?"));
  query.addBindValue(millis(now()));
  query.addBindValue(text(reason));
  query.addBindValue(text(id));
  if (!query.exec()) return query.lastError().text().toStdString();
  return {};
}

ReadResult<std::optional<UnitResult>> RecordStore::find_unit_result(const std::string& id) {
  ReadResult<std::optional<UnitResult>> result;
  ReadResult<std::vector<UnitResult>> found = unit_results({id});
  result.error = std::move(found.error);
  if (!found.value.empty()) result.value = std::move(found.value.front());
  return result;
}

ReadResult<std::vector<UnitResult>> RecordStore::unit_results(const std::vector<std::string>& ids) {
  ReadResult<std::vector<UnitResult>> result;
  if (impl_->not_open(result)) return result;
  QSqlQuery query(impl_->database());
  query.setForwardOnly(true);
  if (!query.prepare(sql::select_unit_results() + QStringLiteral(" WHERE id = ?"))) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  for (const std::string& id : ids) {
    query.bindValue(0, text(id));
    if (!query.exec()) {
      result.error = query.lastError().text().toStdString();
      result.value.clear();
      return result;
    }
    UnitResult unit_result;
    if (query.next() && sql::read_unit_result(query, unit_result)) {
      result.value.push_back(std::move(unit_result));
    }
    query.finish();
  }
  std::sort(result.value.begin(), result.value.end(), [](const UnitResult& a, const UnitResult& b) {
    return std::tie(a.started, a.id) < std::tie(b.started, b.id);
  });
  result.value.erase(
      std::unique(result.value.begin(), result.value.end(),
                  [](const UnitResult& a, const UnitResult& b) { return a.id == b.id; }),
      result.value.end());
  return result;
}

ReadResult<std::vector<std::pair<Procedure, std::chrono::milliseconds>>>
RecordStore::typical_durations(const std::string& station_id, bool simulated, std::size_t latest) {
  ReadResult<std::vector<std::pair<Procedure, std::chrono::milliseconds>>> result;
  if (impl_->not_open(result)) return result;
  QSqlQuery query(impl_->database());
  query.setForwardOnly(true);
  query.prepare(QStringLiteral(
      "SELECT procedure_id, AVG(ended_ms - started_ms) FROM (SELECT procedure_id, started_ms,"
      " ended_ms, ROW_NUMBER() OVER (PARTITION BY procedure_id ORDER BY"
      " COALESCE(made_ms, started_ms) DESC, id DESC) AS run_number FROM runs"
      " WHERE station_id = ? AND simulated = ? AND outcome = ? AND ended_ms >= started_ms)"
      " latest_runs WHERE run_number <= ? GROUP BY procedure_id"));
  query.addBindValue(text(station_id));
  query.addBindValue(simulated ? 1 : 0);
  query.addBindValue(text(text_id(Outcome::passed)));
  query.addBindValue(qint64(latest));
  if (!query.exec()) {
    result.error = query.lastError().text().toStdString();
    return result;
  }
  while (query.next()) {
    const auto procedure = procedure_from_text_id(string_at(query, 0));
    if (!procedure) continue;
    result.value.emplace_back(*procedure,
                              std::chrono::milliseconds{qint64(query.value(1).toDouble() + 0.5)});
  }
  std::sort(result.value.begin(), result.value.end());
  return result;
}

std::string StoreAccess::not_open(const RecordStore& store) {
  return store.impl_->is_open ? std::string()
                              : store.impl_->dialect.reason_text(store.impl_->failure.failure);
}

QSqlDatabase StoreAccess::database(const RecordStore& store) { return store.impl_->database(); }

const sql::Dialect& StoreAccess::dialect(const RecordStore& store) { return store.impl_->dialect; }

}  // namespace records
