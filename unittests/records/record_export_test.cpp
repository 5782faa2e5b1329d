#include "records/record_export.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <functional>
#include <map>
#include <sstream>

#include "export_readers.h"
#include "record_samples.h"
#include "records/record_store.h"

namespace records {
namespace {

using namespace export_readers;

using samples::bare_record;
using samples::full_record;
using samples::kMorning;

// Runs whose texts try every escape of the three formats.
std::vector<RunRecord> export_runs() {
  std::vector<RunRecord> runs;
  runs.push_back(full_record());
  RunRecord passed = bare_record("r-passed", Procedure::self_loop, Outcome::passed, kMorning + 5,
                                 "QB7", "Dee, \"D\"");
  passed.report = "SELFLOOP\r\n\r\nUnit Passes\r\n";
  passed.last_errors = {"a,b", "line\r\nend", "<tag> & 'quote'"};
  runs.push_back(passed);
  RunRecord stopped =
      bare_record("r-stopped", Procedure::rec, Outcome::stopped, kMorning + 6, "QB7");
  stopped.report = "\"\r\n,\r\n\"\"\r\n";
  runs.push_back(stopped);
  runs.push_back(bare_record("r-aborted", Procedure::output_calibration, Outcome::aborted,
                             kMorning + 7, "QB8", "", true));
  runs.push_back(bare_record("r-running", Procedure::rec, Outcome::running, kMorning + 8, "QB9"));
  RunRecord limit = bare_record("r-limit", Procedure::rec, Outcome::failure_limit, kMorning + 9);
  limit.report = "tab\there\r\nUnit Fails\r\n";
  runs.push_back(limit);
  // Every byte a module can send, as the recorder keeps it, and typed text with a control.
  std::string every;
  for (int value = 0; value < 256; ++value) every += static_cast<char>(value);
  RunRecord bytes =
      bare_record("r-bytes", Procedure::stamp, Outcome::failed, kMorning + 10, "", "", true);
  bytes.uut = identify(module_text("Q\xB5," + every + "," + every));
  bytes.report = module_text(every + "\r\n" + every);
  bytes.last_errors = {module_text(every), module_text(std::string(3, '\0'))};
  bytes.technician = station_text(std::string("A\0\x1b\xC3\x89", 5));
  runs.push_back(bytes);
  return runs;
}

class Export : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordStore store(records_path());
    ASSERT_TRUE(store.open());
    for (const RunRecord& run : export_runs()) {
      ASSERT_TRUE(run.outcome == Outcome::running ? store.begin_run(run) : store.complete_run(run));
    }
    RecordFilter everything;
    everything.include_simulated = true;
    stored_ = store.query(everything).value;
    ASSERT_EQ(stored_.size(), export_runs().size());
  }
  std::string records_path() const { return folder_.file("records.sqlite"); }
  std::string out(const std::string& name) const { return folder_.file(name); }

  samples::Folder folder_;
  std::vector<RunRecord> stored_;
};

TEST_F(Export, CsvReadsBackAsTheStoredRecords) {
  ASSERT_EQ(export_records(stored_, out("runs.csv")), "");
  EXPECT_EQ(parse_csv(out("runs.csv")), stored_);
}

TEST_F(Export, JsonReadsBackAsTheStoredRecords) {
  ASSERT_EQ(export_records(stored_, out("runs.json")), "");
  EXPECT_EQ(parse_json(out("runs.json")), stored_);
}

TEST_F(Export, JunitXmlReadsBackAsTheStoredRecordsOneSuitePerProcedure) {
  ASSERT_EQ(export_records(stored_, out("runs.XML")), "");
  std::vector<JunitSuite> suites;
  std::vector<RunRecord> parsed = parse_junit(out("runs.XML"), suites);
  // Suites group the runs by procedure; within a suite they keep the stored order.
  std::vector<RunRecord> expected;
  for (Procedure procedure : all_procedures()) {
    for (const RunRecord& r : stored_) {
      if (r.procedure == procedure) expected.push_back(r);
    }
  }
  EXPECT_EQ(parsed, expected);
  ASSERT_EQ(suites.size(), 4u);
  const JunitSuite rec = suites[0];
  EXPECT_EQ(rec.name, "REC");
  EXPECT_EQ(rec.tests, 4);
  EXPECT_EQ(rec.cases, 4);
  EXPECT_EQ(rec.failures, 2);  // failed, failure limit
  EXPECT_EQ(rec.errors, 0);
  EXPECT_EQ(rec.skipped, 2);  // stopped, running
  EXPECT_EQ(suites[1].name, "SELFLOOP");
  EXPECT_EQ(suites[2].name, "STAMP");
  EXPECT_EQ(suites[3].name, "Calibrate Outputs");
  EXPECT_EQ(suites[3].errors, 1);
}

TEST_F(Export, AnEmptySelectionGivesAFileWithoutRuns) {
  for (const char* name : {"none.csv", "none.json", "none.xml"}) {
    ASSERT_EQ(export_records({}, out(name)), "") << name;
  }
  std::string problem;
  EXPECT_EQ(read_csv(read_file(out("none.csv")), problem).size(), 1u);  // the header
  EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(read_file(out("none.json"))))
                  .array()
                  .isEmpty());
  std::vector<JunitSuite> suites;
  EXPECT_TRUE(parse_junit(out("none.xml"), suites).empty());
}

TEST_F(Export, AFailureLeavesNothingUnderTheFileAndKeepsWhatWasThere) {
  const std::string missing_folder = out("no/such/folder/runs.csv");
  const std::string error = export_records(stored_, missing_folder);
  EXPECT_NE(error.find(missing_folder), std::string::npos) << error;
  EXPECT_FALSE(QFile::exists(QString::fromStdString(missing_folder)));

  const std::string wrong_kind = out("runs.txt");
  EXPECT_NE(export_records(stored_, wrong_kind).find(".csv, .json or .xml"), std::string::npos);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(wrong_kind)));

  // A folder where the file would go: the folder stays as it was, no temporary file is left.
  ASSERT_TRUE(QDir(folder_.dir.path()).mkdir("taken.json"));
  EXPECT_NE(export_records(stored_, out("taken.json")), "");
  EXPECT_TRUE(QFileInfo(QString::fromStdString(out("taken.json"))).isDir());
  EXPECT_EQ(QDir(folder_.dir.path()).entryList(QDir::Files),
            QStringList{"records.sqlite"} +
                QDir(folder_.dir.path()).entryList({"records.sqlite-*"}, QDir::Files));
}

// A unit's final test: the JUnit file has a suite for it with its steps in the order they ran and
// its fields as properties; CSV and JSON carry the link, JSON the unit result too. The export
// read from the store in chunks is the export of the runs and unit results read first.
TEST_F(Export, AUnitResultIsASuiteOfItsStepsAndEveryFormatCarriesTheLink) {
  const UnitResult unit = samples::full_unit_result();
  const RunRecord first = samples::step_of(unit, 0, Procedure::self_test, Outcome::passed);
  const RunRecord second = samples::step_of(unit, 1, Procedure::rec, Outcome::failed);
  RecordFilter everything;
  everything.include_simulated = true;
  std::vector<RunRecord> stored;
  {
    RecordStore store(records_path());
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.complete_run(second));
    ASSERT_TRUE(store.complete_run(first));
    ASSERT_TRUE(store.complete_unit_result(unit));
    stored = store.query(everything).value;
  }
  RecordStore store(records_path(), OpenMode::reader);
  ASSERT_TRUE(store.open());
  for (const char* extension : {"csv", "json", "xml"}) {
    const std::string read_first = out(std::string("read-first.") + extension);
    const std::string streamed = out(std::string("streamed.") + extension);
    ASSERT_EQ(export_records(stored, read_first, {unit}), "");
    std::size_t count = 0;
    ASSERT_EQ(export_records(store, everything, streamed, &count), "");
    EXPECT_EQ(count, stored.size());
    EXPECT_EQ(read_file(streamed), read_file(read_first)) << extension;
  }
  EXPECT_EQ(parse_csv(out("read-first.csv")), stored);
  EXPECT_EQ(parse_json(out("read-first.json")), stored);
  const QJsonArray json =
      QJsonDocument::fromJson(QByteArray::fromStdString(read_file(out("read-first.json")))).array();
  int linked = 0;
  for (const QJsonValue& run : json) {
    const QJsonValue unit_result = run.toObject().value("unit_result");
    if (run.toObject().value("unit_result_id").isNull()) {
      EXPECT_TRUE(unit_result.isNull());
      continue;
    }
    ++linked;
    EXPECT_EQ(unit_result.toObject().value("id").toString().toStdString(), unit.id);
    EXPECT_EQ(unit_result.toObject().value("verdict").toString(), "fail");
    EXPECT_EQ(unit_result.toObject().value("deciding_procedure").toString(), "rec");
    EXPECT_EQ(unit_result.toObject().value("finding").toString().toStdString(), unit.finding);
  }
  EXPECT_EQ(linked, 2);

  std::vector<JunitSuite> suites;
  std::vector<RunRecord> cases = parse_junit(out("read-first.xml"), suites);
  ASSERT_EQ(suites.size(), 5u) << "the four procedures' suites of the runs on their own, and one";
  EXPECT_EQ(suites[4].name, "Final test TOP-0091 2024-05-01T08:00:00.000Z");
  EXPECT_EQ(suites[4].cases, 2);
  EXPECT_EQ(suites[4].failures, 1);
  ASSERT_EQ(cases.size(), stored.size());
  EXPECT_EQ(std::vector<RunRecord>(cases.end() - 2, cases.end()),
            (std::vector<RunRecord>{first, second}))
      << "the steps in the order they ran";
  const std::string xml = read_file(out("read-first.xml"));
  EXPECT_NE(xml.find("<property name=\"verdict\" value=\"fail\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<property name=\"unit_result_id\" value=\"" + unit.id + "\"/>"),
            std::string::npos);

  // One unit result's file, as the headless final test writes it.
  ASSERT_EQ(export_unit_result_junit(store, unit.id, out("unit.xml")), "");
  EXPECT_EQ(read_file(out("unit.xml")), unit_result_junit(unit, {first, second}));
  suites.clear();
  EXPECT_EQ(parse_junit(out("unit.xml"), suites), (std::vector<RunRecord>{first, second}));
  ASSERT_EQ(suites.size(), 1u);
  EXPECT_EQ(suites[0].tests, 3) << "the two steps and the unit's verdict";
  EXPECT_EQ(suites[0].unit_verdict, "failure");
  EXPECT_NE(export_unit_result_junit(store, "none", out("none.xml")), "");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(out("none.xml"))));
}

// A CSV text of one line ends where its line does: an identity reply keeps no line end of the
// module's; the report keeps its line ends.
struct LineEndCase {
  const char* column;
  void (*set)(RunRecord& run, const std::string& text);
  const char* text;
  const char* expected;
};

class CsvLineEnd : public Export, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(CsvLineEnd, IsLeftOutOfATextOfOneLine) {
  RunRecord run = full_record();
  GetParam().set(run, GetParam().text);
  ASSERT_EQ(export_records({run}, out("one.csv")), "");
  std::string problem;
  const auto rows = read_csv(read_file(out("one.csv")), problem);
  ASSERT_EQ(problem, "");
  ASSERT_EQ(rows.size(), 2u);
  const auto column = std::find(rows[0].begin(), rows[0].end(), GetParam().column);
  ASSERT_NE(column, rows[0].end());
  EXPECT_EQ(rows[1][std::size_t(column - rows[0].begin())], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CsvLineEnd,
    ::testing::Values(
        LineEndCase{
            "uut_identity", [](RunRecord& r, const std::string& text) { r.uut = identify(text); },
            "QUOR INSTRUMENTS,QB-1972,QB10442,2.07\n", "QUOR INSTRUMENTS,QB-1972,QB10442,2.07"},
        LineEndCase{
            "qcu_identity", [](RunRecord& r, const std::string& text) { r.qcu = identify(text); },
            "QUOR INSTRUMENTS,QB-1972,QB00017,2.05\r\n", "QUOR INSTRUMENTS,QB-1972,QB00017,2.05"},
        LineEndCase{"technician",
                    [](RunRecord& r, const std::string& text) { r.technician = text; },
                    "A. Marsh\r\n", "A. Marsh"},
        LineEndCase{"report", [](RunRecord& r, const std::string& text) { r.report = text; },
                    "REC\r\nUnit Passes\r\n", "REC\r\nUnit Passes\r\n"}),
    [](const auto& row) { return std::string(row.param.column); });

struct FormatCase {
  const char* file;
  std::optional<ExportFormat> format;
};

class FormatByExtension : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatByExtension, IsChosenInAnyCase) {
  EXPECT_EQ(export_format_for(GetParam().file), GetParam().format);
}

INSTANTIATE_TEST_SUITE_P(Files, FormatByExtension,
                         ::testing::Values(FormatCase{"runs.csv", ExportFormat::csv},
                                           FormatCase{"/a/b/RUNS.CSV", ExportFormat::csv},
                                           FormatCase{"runs.Json", ExportFormat::json},
                                           FormatCase{"ci/junit.xml", ExportFormat::junit_xml},
                                           FormatCase{"runs.csv.txt", std::nullopt},
                                           FormatCase{"csv", std::nullopt},
                                           FormatCase{"out.d/runs", std::nullopt},
                                           FormatCase{"runs.", std::nullopt}));

struct MainCase {
  const char* label;
  std::string file;     // in the test's folder
  std::string records;  // in the test's folder
  std::optional<std::string> since;
  std::optional<std::string> serial;
  int status;
  std::string message_part;
  std::size_t runs;  // in the file written
  std::optional<std::string> station = {};
};

class ExportMain : public Export, public ::testing::WithParamInterface<MainCase> {};

TEST_P(ExportMain, WritesTheSelectedRunsOrSaysWhyNot) {
  const MainCase& c = GetParam();
  const std::optional<TimePoint> since = c.since ? parse_utc_date(*c.since) : std::nullopt;
  const ExportRequest request{out(c.file), folder_.file(c.records), since, c.serial, false,
                              c.station};
  std::ostringstream message;
  EXPECT_EQ(export_records_main(request, message), c.status);
  EXPECT_NE(message.str().find(c.message_part), std::string::npos) << message.str();
  if (c.status == kExportDone) {
    EXPECT_EQ(parse_csv(out(c.file)).size(), c.runs);
  } else {
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out(c.file))));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ExportMain,
    ::testing::Values(
        // Five runs are not simulated; four of them started on 2024-05-01 or later ...
        MainCase{
            "everything", "all.csv", "records.sqlite", {}, {}, kExportDone, "Exported 5 runs", 5},
        MainCase{"since_and_serial", "some.csv", "records.sqlite", "2024-05-01", "qb7", kExportDone,
                 "Exported 2 runs", 2},
        MainCase{"since_later",
                 "none.csv",
                 "records.sqlite",
                 "2024-05-02",
                 {},
                 kExportDone,
                 "Exported 0 runs",
                 0},
        // ... one of them on bench-3, the others on bench-1.
        MainCase{"one_station",
                 "b3.csv",
                 "records.sqlite",
                 {},
                 {},
                 kExportDone,
                 "Exported 1 run",
                 1,
                 "bench-3"},
        MainCase{"station_and_serial",
                 "b1.csv",
                 "records.sqlite",
                 {},
                 "qb7",
                 kExportDone,
                 "Exported 2 runs",
                 2,
                 "bench-1"},
        MainCase{"station_exactly",
                 "b.csv",
                 "records.sqlite",
                 {},
                 {},
                 kExportDone,
                 "Exported 0 runs",
                 0,
                 "bench"},
        MainCase{"no_record_file",
                 "x.csv",
                 "missing.sqlite",
                 {},
                 {},
                 kExportFailed,
                 "There is no record file",
                 0},
        MainCase{"bad_extension",
                 "x.pdf",
                 "records.sqlite",
                 {},
                 {},
                 kExportUsage,
                 ".csv, .json or .xml",
                 0},
        MainCase{"unwritable_place",
                 "no/folder/x.csv",
                 "records.sqlite",
                 {},
                 {},
                 kExportFailed,
                 "Nothing was exported",
                 0}),
    [](const auto& row) { return std::string(row.param.label); });

// The JUnit XML export reads the store a suite at a time; its file is the one the runs read
// first give, byte for byte.
TEST_F(Export, JunitXmlReadSuiteBySuiteIsTheFileOfTheRunsReadFirst) {
  RecordStore store(records_path(), OpenMode::reader);
  ASSERT_TRUE(store.open());
  for (const std::string station : {"", "bench-1", "bench-3"}) {
    RecordFilter filter;
    filter.include_simulated = true;
    filter.station = station;
    std::vector<RunRecord> selected;
    for (const RunRecord& run : stored_) {
      if (station.empty() || run.station_id == station) selected.push_back(run);
    }
    ASSERT_EQ(export_records(selected, out("read-first.xml")), "");
    std::size_t count = 0;
    ASSERT_EQ(export_records(store, filter, out("by-suite.xml"), &count), "");
    EXPECT_EQ(count, selected.size());
    QFile read_first(QString::fromStdString(out("read-first.xml")));
    QFile by_suite(QString::fromStdString(out("by-suite.xml")));
    ASSERT_TRUE(read_first.open(QIODevice::ReadOnly) && by_suite.open(QIODevice::ReadOnly));
    EXPECT_EQ(by_suite.readAll(), read_first.readAll()) << "station " << station;
  }
}

TEST_F(Export, MainLeavesADamagedRecordFileWhereItIs) {
  QFile garbage(QString::fromStdString(out("bad.sqlite")));
  ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
  garbage.write(QByteArray(8192, 'x'));
  garbage.close();
  std::ostringstream message;
  EXPECT_EQ(export_records_main({out("x.json"), out("bad.sqlite"), {}, {}, false}, message),
            kExportFailed);
  EXPECT_NE(message.str().find("damaged"), std::string::npos) << message.str();
  EXPECT_TRUE(QFile::exists(QString::fromStdString(out("bad.sqlite"))));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(out("x.json"))));
}

}  // namespace
}  // namespace records
