// The record exports with arbitrary texts: every format must come out well formed and give the
// texts back. The input, split at 0x1F bytes, fills the report, the technician, a last error
// and the UUT's identity reply of two records: one with the bytes as they are (a record file
// written before module texts were kept as module_text()), one as the recorder keeps a module's
// bytes, whose every byte must come back from every format. The three files are written and read
// back.
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

// The fields of the data rows (RFC 4180, every field quoted).
std::vector<std::vector<std::string>> csv_rows(const QByteArray& text, std::size_t expected) {
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
  if (quoted || rows.size() != expected + 2 || !rows.back().empty()) std::abort();
  rows.pop_back();
  rows.erase(rows.begin());
  return rows;
}

// Aborts unless `text` is record text that gives `bytes` back.
void expect_bytes(const std::string& text, const std::string& bytes) {
  if (records::module_bytes(text) != bytes) std::abort();
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
  records::RunRecord raw;
  raw.id = "00000000-0000-4000-8000-000000000000";
  raw.procedure = records::Procedure::stamp;
  raw.outcome = records::Outcome::failed;
  raw.report = parts[0];
  raw.technician = parts[1];
  raw.last_errors = {parts[2]};
  raw.uut = records::identify(parts[3]);
  records::RunRecord kept = raw;
  kept.id = "00000000-0000-4000-8000-000000000001";
  kept.report = records::module_text(parts[0]);
  kept.technician = records::station_text(parts[1]);
  kept.last_errors = {records::module_text(parts[2])};
  kept.uut = records::identify(records::module_text(parts[3]));
  const std::vector<records::RunRecord> list{raw, kept};

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
  const std::vector<std::vector<std::string>> rows = csv_rows(read_all(csv), 2);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    bool report_found = false;
    for (const std::string& field : rows[r]) report_found = report_found || field == list[r].report;
    if (!report_found) std::abort();
  }

  // JSON parses, a text that was UTF-8 comes back as it was, and a module's bytes come back.
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(read_all(json), &error);
  if (error.error != QJsonParseError::NoError || !document.isArray()) std::abort();
  const QString report = document.array().at(0).toObject().value("report").toString();
  const QString original = QString::fromUtf8(parts[0]);
  if (original.toUtf8() == QByteArray::fromStdString(parts[0]) && report != original) {
    std::abort();
  }
  const QJsonObject module = document.array().at(1).toObject();
  expect_bytes(module.value("report").toString().toStdString(), parts[0]);
  expect_bytes(module.value("last_errors").toArray().at(0).toString().toStdString(), parts[2]);
  expect_bytes(module.value("uut_identity").toString().toStdString(), parts[3]);

  // JUnit XML is well formed, and a module's bytes come back from the second run.
  QXmlStreamReader reader(read_all(xml));
  int failures = 0;
  while (!reader.atEnd()) {
    reader.readNext();
    if (!reader.isStartElement()) continue;
    if (reader.name() == u"failure" && ++failures == 2) {
      expect_bytes(reader.readElementText().toStdString(), parts[0]);
    } else if (reader.name() == u"property" && failures == 1 &&
               reader.attributes().value("name") == u"uut_identity") {
      expect_bytes(reader.attributes().value("value").toString().toStdString(), parts[3]);
    }
  }
  if (reader.hasError() || failures != 2) std::abort();
  return 0;
}
