// Reads the record exports back into records: CSV (RFC 4180), JSON and JUnit XML, each checked
// for well-formedness as it is read.
#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "records/record_export.h"
#include "records/run_record.h"

namespace records::export_readers {

// Builds a record back from an export's named values; `value` answers none for an absent one.
using Lookup = std::function<std::optional<std::string>(const std::string&)>;

inline RunRecord record_from(const Lookup& value, std::vector<std::string> last_errors) {
  auto text = [&](const char* name) { return value(name).value_or("<missing>"); };
  auto number = [&](const char* name) -> std::optional<double> {
    const auto v = value(name);
    if (!v || v->empty()) return std::nullopt;
    return std::stod(*v);
  };
  auto whole = [&](const char* name) -> std::optional<long long> {
    const auto v = value(name);
    if (!v || v->empty()) return std::nullopt;
    return std::stoll(*v);
  };
  RunRecord r;
  r.id = text("id");
  r.station_id = text("station_id");
  r.started = parse_utc_text(text("started_utc")).value_or(TimePoint{});
  const auto ended = value("ended_utc");
  if (ended && !ended->empty()) r.ended = parse_utc_text(*ended);
  r.procedure = procedure_from_text_id(text("procedure")).value_or(Procedure::stamp);
  r.outcome = outcome_from_text_id(text("outcome")).value_or(Outcome::refused);
  r.passes_run = int(whole("passes_run").value_or(-99));
  r.failures = int(whole("failures").value_or(-99));
  for (auto [unit, prefix] :
       {std::pair{&r.uut, std::string("uut_")}, std::pair{&r.qcu, std::string("qcu_")}}) {
    unit->reply = text((prefix + "identity").c_str());
    unit->maker = text((prefix + "maker").c_str());
    unit->model = text((prefix + "model").c_str());
    unit->serial = text((prefix + "serial").c_str());
    unit->firmware = text((prefix + "firmware").c_str());
  }
  r.uut_resource = text("uut_resource");
  r.qcu_resource = text("qcu_resource");
  r.technician = text("technician");
  r.top_serial = text("top_serial");
  r.sub_serial = text("sub_serial");
  r.visa_library = text("visa_library");
  r.simulated = text("simulated") == "true";
  r.report = text("report");
  r.last_errors = std::move(last_errors);
  if (const auto v = whole("self_test_result")) r.self_test_result = int(*v);
  r.memory_miscompares = whole("memory_miscompares");
  r.cal_constant_read = number("cal_constant_read");
  r.cal_constant_sent = number("cal_constant_sent");
  if (const auto v = whole("non_vol_address")) r.non_vol_address = int(*v);
  r.program_version = text("program_version");
  r.unit_result_id = value("unit_result_id").value_or("");
  return r;
}

inline std::string read_file(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

// RFC 4180: fields separated by commas, rows by CR LF; a quoted field holds commas, CR LF and
// doubled quotes.
inline std::vector<std::vector<std::string>> read_csv(const std::string& text,
                                                      std::string& problem) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '"') {
      ++i;
      for (;;) {
        if (i >= text.size()) {
          problem = "unterminated quoted field";
          return rows;
        }
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += text[i++];
      }
    } else {
      while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
        if (text[i] == '"') problem = "quote inside an unquoted field";
        field += text[i++];
      }
    }
    row.push_back(std::move(field));
    field.clear();
    if (i < text.size() && text[i] == ',') {
      ++i;
    } else if (text.compare(i, 2, "\r\n") == 0) {
      i += 2;
      rows.push_back(std::move(row));
      row.clear();
    } else if (i < text.size()) {
      problem = "a row ends without CR LF";
      return rows;
    }
  }
  if (!row.empty()) problem = "the last row ends without CR LF";
  return rows;
}

inline std::vector<std::string> strings_of(const QJsonArray& array) {
  std::vector<std::string> texts;
  for (const QJsonValue& v : array) texts.push_back(v.toString().toStdString());
  return texts;
}

inline std::vector<RunRecord> parse_csv(const std::string& path) {
  std::string problem;
  const auto rows = read_csv(read_file(path), problem);
  EXPECT_EQ(problem, "");
  std::vector<RunRecord> records;
  if (rows.empty()) return records;
  const std::vector<std::string> header = rows[0];
  const auto columns = csv_columns();
  EXPECT_EQ(header, std::vector<std::string>(columns.begin(), columns.end()));
  for (std::size_t r = 1; r < rows.size(); ++r) {
    EXPECT_EQ(rows[r].size(), header.size());
    std::map<std::string, std::string> named;
    for (std::size_t c = 0; c < header.size() && c < rows[r].size(); ++c) {
      named[header[c]] = rows[r][c];
    }
    const auto errors = QJsonDocument::fromJson(QByteArray::fromStdString(named["last_errors"]));
    EXPECT_TRUE(errors.isArray()) << named["last_errors"];
    records.push_back(record_from(
        [&](const std::string& name) -> std::optional<std::string> {
          const auto found = named.find(name);
          if (found == named.end()) return std::nullopt;
          return found->second;
        },
        strings_of(errors.array())));
  }
  return records;
}

inline std::vector<RunRecord> parse_json(const std::string& path) {
  QJsonParseError error;
  const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(read_file(path)), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
  std::vector<RunRecord> records;
  for (const QJsonValue& entry : document.array()) {
    const QJsonObject object = entry.toObject();
    // Every field, and the unit result the run is a step of.
    EXPECT_EQ(std::size_t(object.size()), csv_columns().size() + 1) << "every field";
    EXPECT_TRUE(object.value("unit_result").isObject() || object.value("unit_result").isNull());
    records.push_back(record_from(
        [&](const std::string& name) -> std::optional<std::string> {
          const QJsonValue v = object.value(QString::fromStdString(name));
          if (v.isString()) return v.toString().toStdString();
          if (v.isBool()) return v.toBool() ? "true" : "false";
          if (v.isDouble()) return number_text(v.toDouble());
          return std::nullopt;
        },
        strings_of(object.value("last_errors").toArray())));
  }
  return records;
}

struct JunitSuite {
  std::string name;
  int tests = 0;
  int failures = 0;
  int errors = 0;
  int skipped = 0;
  int cases = 0;
  // A unit result's own case (classname quor.unit): "passed", "failure" or "error"; empty
  // without one.
  std::string unit_verdict;
};

inline std::vector<RunRecord> parse_junit(const std::string& path,
                                          std::vector<JunitSuite>& suites) {
  QFile file(QString::fromStdString(path));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&file);
  std::vector<RunRecord> records;
  std::map<std::string, std::string> properties;
  std::vector<std::string> last_errors;
  std::string report;
  std::string verdict;
  bool unit_case = false;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement()) {
      const auto attribute = [&](const char* name) {
        return xml.attributes().value(QLatin1String(name)).toString().toStdString();
      };
      const QStringView element = xml.name();
      if (element == u"testsuite") {
        suites.push_back({attribute("name"),
                          std::stoi(attribute("tests")),
                          std::stoi(attribute("failures")),
                          std::stoi(attribute("errors")),
                          std::stoi(attribute("skipped")),
                          0,
                          {}});
      } else if (element == u"testcase") {
        properties.clear();
        last_errors.clear();
        report.clear();
        verdict = "passed";
        ++suites.back().cases;
        EXPECT_EQ(attribute("classname").rfind("quor.", 0), 0u);
        unit_case = attribute("classname") == "quor.unit";
      } else if (element == u"property") {
        if (attribute("name") == "last_error") {
          last_errors.push_back(attribute("value"));
        } else {
          properties[attribute("name")] = attribute("value");
        }
      } else if (element == u"failure" || element == u"error") {
        verdict = element.toString().toStdString();
        if (!unit_case) {
          EXPECT_EQ(attribute("type"), properties["outcome"]);
        }
        report = xml.readElementText().toStdString();
      } else if (element == u"skipped") {
        verdict = "skipped";
      } else if (element == u"system-out") {
        report = xml.readElementText().toStdString();
      }
    } else if (xml.isEndElement() && xml.name() == u"testcase") {
      if (unit_case) {
        suites.back().unit_verdict = verdict;
        continue;
      }
      properties["report"] = report;
      RunRecord record = record_from(
          [&](const std::string& name) -> std::optional<std::string> {
            const auto found = properties.find(name);
            if (found == properties.end()) return std::nullopt;
            return found->second;
          },
          last_errors);
      const std::map<Outcome, std::string> expected_verdict = {{Outcome::passed, "passed"},
                                                               {Outcome::failed, "failure"},
                                                               {Outcome::failure_limit, "failure"},
                                                               {Outcome::aborted, "error"},
                                                               {Outcome::refused, "error"},
                                                               {Outcome::interrupted, "error"},
                                                               {Outcome::stopped, "skipped"},
                                                               {Outcome::running, "skipped"},
                                                               {Outcome::error, "error"}};
      EXPECT_EQ(verdict, expected_verdict.at(record.outcome)) << record.id;
      records.push_back(std::move(record));
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  return records;
}

}  // namespace records::export_readers
