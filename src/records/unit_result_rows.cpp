#include "records/unit_result_rows.h"

#include <QStringList>
#include <QVariant>
#include <array>
#include <string_view>

namespace records::sql {

namespace {

enum Column : int {
  kId,
  kStationId,
  kStarted,
  kEnded,
  kMade,
  kTechnician,
  kTopSerial,
  kSubSerial,
  kUutReply,
  kQcuReply = kUutReply + 5,
  kUutResource = kQcuReply + 5,
  kQcuResource,
  kVisaLibrary,
  kSimulated,
  kProgramVersion,
  kSequence,
  kVerdict,
  kDecidingStep,
  kDecidingProcedure,
  kFinding,
  kColumnCount,
};

constexpr std::array<std::string_view, kColumnCount> kNames{
    "id",           "station_id",    "started_ms",         "ended_ms",
    "made_ms",      "technician",    "top_serial",         "sub_serial",
    "uut_reply",    "uut_maker",     "uut_model",          "uut_serial",
    "uut_firmware", "qcu_reply",     "qcu_maker",          "qcu_model",
    "qcu_serial",   "qcu_firmware",  "uut_resource",       "qcu_resource",
    "visa_library", "simulated",     "program_version",    "sequence_name",
    "verdict",      "deciding_step", "deciding_procedure", "finding"};

QString name_of(int column) { return QString::fromLatin1(kNames[column]); }

QStringList names() {
  QStringList all;
  for (int column = 0; column < kColumnCount; ++column) all << name_of(column);
  return all;
}

QString marks() {
  QStringList all;
  for (int column = 0; column < kColumnCount; ++column) all << QStringLiteral("?");
  return all.join(QStringLiteral(", "));
}

// Never a null text: the columns are NOT NULL and an empty text is a value.
QVariant text(std::string_view value) {
  if (value.empty()) return QVariant(QStringLiteral(""));
  return QVariant(QString::fromUtf8(value.data(), qsizetype(value.size())));
}

QVariant millis(TimePoint time) { return QVariant(qint64(time.time_since_epoch().count())); }

std::string string_at(const QSqlQuery& query, int column) {
  return query.value(column).toString().toStdString();
}

std::optional<TimePoint> time_at(const QSqlQuery& query, int column) {
  if (query.isNull(column)) return std::nullopt;
  return TimePoint{std::chrono::milliseconds{query.value(column).toLongLong()}};
}

}  // namespace

QString select_unit_results() {
  QStringList columns;
  for (const QString& name : names()) columns << QStringLiteral("unit_results.") + name;
  return QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) +
         QStringLiteral(" FROM unit_results");
}

QString upsert_unit_result_statement() {
  QStringList updates;
  for (int column = kStationId; column < kColumnCount; ++column) {
    updates << name_of(column) + QStringLiteral(" = excluded.") + name_of(column);
  }
  return QStringLiteral(
             "INSERT INTO unit_results (%1) VALUES (%2) ON CONFLICT (id) DO UPDATE SET %3"
             " WHERE excluded.verdict <> 'running'"
             " OR unit_results.verdict IN ('running', 'interrupted')")
      .arg(names().join(QStringLiteral(", ")), marks(), updates.join(QStringLiteral(", ")));
}

QString insert_new_unit_result_statement() {
  return QStringLiteral("INSERT INTO unit_results (%1) VALUES (%2) ON CONFLICT (id) DO NOTHING")
      .arg(names().join(QStringLiteral(", ")), marks());
}

void bind_unit_result(QSqlQuery& query, const UnitResult& r) {
  std::array<QVariant, kColumnCount> values;
  values[kId] = text(r.id);
  values[kStationId] = text(r.station_id);
  values[kStarted] = millis(r.started);
  values[kEnded] = r.ended ? millis(*r.ended) : QVariant();
  values[kMade] = r.made ? millis(*r.made) : QVariant();
  values[kTechnician] = text(r.technician);
  values[kTopSerial] = text(r.top_serial);
  values[kSubSerial] = text(r.sub_serial);
  const UnitIdentity* units[] = {&r.uut, &r.qcu};
  for (int unit = 0; unit < 2; ++unit) {
    const int base = unit == 0 ? kUutReply : kQcuReply;
    values[base] = text(units[unit]->reply);
    values[base + 1] = text(units[unit]->maker);
    values[base + 2] = text(units[unit]->model);
    values[base + 3] = text(units[unit]->serial);
    values[base + 4] = text(units[unit]->firmware);
  }
  values[kUutResource] = text(r.uut_resource);
  values[kQcuResource] = text(r.qcu_resource);
  values[kVisaLibrary] = text(r.visa_library);
  values[kSimulated] = r.simulated ? 1 : 0;
  values[kProgramVersion] = text(r.program_version);
  values[kSequence] = text(r.sequence);
  values[kVerdict] = text(text_id(r.verdict));
  values[kDecidingStep] = r.deciding_step ? QVariant(*r.deciding_step) : QVariant();
  values[kDecidingProcedure] =
      r.deciding_procedure ? text(text_id(*r.deciding_procedure)) : QVariant();
  values[kFinding] = text(r.finding);
  for (int column = 0; column < kColumnCount; ++column) query.bindValue(column, values[column]);
}

bool read_unit_result(const QSqlQuery& query, UnitResult& r) {
  const auto verdict = unit_verdict_from_text_id(string_at(query, kVerdict));
  if (!verdict) return false;
  std::optional<Procedure> deciding;
  if (!query.isNull(kDecidingProcedure)) {
    deciding = procedure_from_text_id(string_at(query, kDecidingProcedure));
    if (!deciding) return false;
  }
  r.id = string_at(query, kId);
  r.station_id = string_at(query, kStationId);
  r.started = time_at(query, kStarted).value_or(TimePoint{});
  r.ended = time_at(query, kEnded);
  r.made = time_at(query, kMade);
  r.technician = string_at(query, kTechnician);
  r.top_serial = string_at(query, kTopSerial);
  r.sub_serial = string_at(query, kSubSerial);
  UnitIdentity* units[] = {&r.uut, &r.qcu};
  for (int unit = 0; unit < 2; ++unit) {
    const int base = unit == 0 ? kUutReply : kQcuReply;
    units[unit]->reply = string_at(query, base);
    units[unit]->maker = string_at(query, base + 1);
    units[unit]->model = string_at(query, base + 2);
    units[unit]->serial = string_at(query, base + 3);
    units[unit]->firmware = string_at(query, base + 4);
  }
  r.uut_resource = string_at(query, kUutResource);
  r.qcu_resource = string_at(query, kQcuResource);
  r.visa_library = string_at(query, kVisaLibrary);
  r.simulated = query.value(kSimulated).toInt() != 0;
  r.program_version = string_at(query, kProgramVersion);
  r.sequence = string_at(query, kSequence);
  r.verdict = *verdict;
  r.deciding_step = query.isNull(kDecidingStep) ? std::nullopt
                                                : std::optional(query.value(kDecidingStep).toInt());
  r.deciding_procedure = deciding;
  r.finding = string_at(query, kFinding);
  return true;
}

}  // namespace records::sql
