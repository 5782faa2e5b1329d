// The record exports with arbitrary texts: every format must come out well formed and give the
// texts back. The input, split at 0x1F bytes, fills the report, the technician, a last error
// and the UUT's identity reply of one record; the three files are written and read back.
#include <unistd.h>
#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QXmlStreamReader>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "records/record_export.h"
#include "records/run_record.h"

namespace {

QByteArray read_all(const std::string& file) {
  QFile in(QString::fromStdString(file));
  if (!in.open(QIODevice::ReadOnly)) std::abort();
  return in.readAll();
}

// The fields of the second CSV row (RFC 4180, every field quoted).
std::vector<std::string> second_csv_row(const QByteArray& text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      std::abort();  // a character outside quotes
    }
  }
  if (quoted || rows.size() != 3 || !rows[2].empty()) std::abort();
  return rows[1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string parts[4];
  for (std::string& part : parts) {
    const std::size_t split = input.find('\x1f');
    part = std::string(input.substr(0, split));
    input = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  }
  records::RunRecord record;
  record.id = "00000000-0000-4000-8000-000000000000";
  record.procedure = records::Procedure::stamp;
  record.outcome = records::Outcome::failed;
  record.report = parts[0];
  record.technician = parts[1];
  record.last_errors = {parts[2]};
  record.uut = records::identify(parts[3]);
  const std::vector<records::RunRecord> list{record};

  static const std::string folder = "/tmp/quor_fuzz_export_" + std::to_string(getpid());
  static const bool made = std::filesystem::create_directories(folder);
  (void)made;
  const std::string csv = folder + "/r.csv";
  const std::string json = folder + "/r.json";
  const std::string xml = folder + "/r.xml";
  if (!records::export_records(list, csv).empty() || !records::export_records(list, json).empty() ||
      !records::export_records(list, xml).empty()) {
    std::abort();
  }

  // CSV keeps every byte as it was.
  const std::vector<std::string> row = second_csv_row(read_all(csv));
  bool report_found = false;
  for (const std::string& field : row) report_found = report_found || field == parts[0];
  if (!report_found) std::abort();

  // JSON parses, and a text that was UTF-8 comes back as it was.
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(read_all(json), &error);
  if (error.error != QJsonParseError::NoError || !document.isArray()) std::abort();
  const QString report = document.array().at(0).toObject().value("report").toString();
  const QString original = QString::fromUtf8(parts[0]);
  if (original.toUtf8() == QByteArray::fromStdString(parts[0]) && report != original) {
    std::abort();
  }

  // JUnit XML is well formed.
  QXmlStreamReader reader(read_all(xml));
  while (!reader.atEnd()) reader.readNext();
  if (reader.hasError()) std::abort();
  return 0;
}
