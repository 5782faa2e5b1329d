// What a module sends, byte for byte, through the recorder into the record file and out through
// every export, and (built with QUOR_TEST_ON_SERVER) into a server database as the forwarder
// writes it: every byte comes back, the same from both stores, and nothing is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "export_readers.h"
#include "record_samples.h"
#include "records/record_export.h"
#include "records/record_store.h"
#include "station/run_recorder.h"
#include "testing/sim_station.h"
#ifdef QUOR_TEST_ON_SERVER
#include "test_server.h"
#endif

namespace records {
namespace {

using namespace export_readers;

// What the recorder hands to the writer.
class Captured final : public RunWrites {
 public:
  void begin_run(const RunRecord& record) override { begun.push_back(record); }
  void save_progress(const std::string& /*id*/, const std::string& report) override {
    saved.push_back(report);
  }
  void complete_run(const RunRecord& record) override { completed.push_back(record); }
  void begin_unit_result(const UnitResult& result) override { units_begun.push_back(result); }
  void complete_unit_result(const UnitResult& result) override {
    units_completed.push_back(result);
  }

  std::vector<RunRecord> begun;
  std::vector<std::string> saved;
  std::vector<RunRecord> completed;
  std::vector<UnitResult> units_begun;
  std::vector<UnitResult> units_completed;
};

std::string byte_range(int from, int to) {
  std::string bytes;
  for (int value = from; value <= to; ++value) bytes += static_cast<char>(value);
  return bytes;
}

std::string mixed_bytes(std::size_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>((i * 7 + 3) % 256);
  return bytes;
}

// A serial number the server cannot compress: printable, no comma, no repeats to speak of.
std::string long_serial(std::size_t size) {
  std::string serial;
  std::uint32_t state = 12345;
  while (serial.size() < size) {
    state = state * 1103515245U + 12345U;
    const char c = static_cast<char>(0x21 + (state >> 16) % 94);
    if (c != ',') serial += c;
  }
  return serial;
}

std::size_t characters(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

struct HostileBytes {
  const char* name;
  std::string bytes;  // a reply, a report and an error text of one run
};

void PrintTo(const HostileBytes& row, std::ostream* out) { *out << row.name; }

class HostileBytesTest : public ::testing::TestWithParam<HostileBytes>,
                         protected testing_support::SimStation {
 protected:
  HostileBytesTest() : SimStation({.in_use = {"the suite's chassis", true}}) {}

#ifdef QUOR_TEST_ON_SERVER
  void SetUp() override { QUOR_NEED_TEST_SERVER(database_); }
  test_server::Database database_;
#endif

  // The run of a REC test whose module replies, report and error text are `bytes`, and whose
  // technician typed them as far as text goes.
  RunRecord recorded(const std::string& bytes) {
    station::RecorderSources sources;
    sources.operator_fields = [&bytes] {
      const std::string typed =
          QString::fromLatin1(bytes.data(), qsizetype(bytes.size())).toStdString();
      return station::OperatorFields{typed, typed, "SUB-1"};
    };
    station::RunRecorder recorder(station, writes, {"bench-9", "1.0"}, sources);
    station.units.uut.resource = "VXI0::8::INSTR";
    station.units.qcu.resource = "VXI0::24::INSTR";
    station.units.uut_identity = uut_reply(bytes);
    station.units.qcu_identity = bytes;
    const core::Procedure procedure{"the REC test", "", core::ProcedureKind::rec};
    station.procedure.running = procedure;
    station.run = {};
    station.run.report_begun = true;
    station.run.report = "REC Test\r\n";
    recorder.started(procedure);
    // Saved while the run goes on: half of it, then all (only the new half converted).
    station.run.report = bytes.substr(0, bytes.size() / 2);
    recorder.save_progress();
    station.run.report = bytes;
    recorder.save_progress();
    station.driver_state.reported_errors = {error_text(bytes)};
    station.run.outcome = core::Outcome::failed;
    recorder.ended(procedure);
    station.procedure.running.reset();
    EXPECT_EQ(writes.begun.size(), 1U);
    EXPECT_EQ(writes.completed.size(), 1U);
    return writes.completed.empty() ? RunRecord{} : writes.completed.back();
  }

  static std::string uut_reply(const std::string& bytes) {
    return "QUOR INSTRUMENTS,QB-1972," + bytes + ",2.07";
  }
  static std::string error_text(const std::string& bytes) {
    return "Reading the status byte\n" + bytes + "\x01";
  }

  // Every byte of the run's module texts, from `run` as read back from `where`.
  static void expect_bytes_back(const RunRecord& run, const std::string& bytes,
                                const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(module_bytes(run.qcu.reply), bytes);
    EXPECT_EQ(module_bytes(run.uut.reply), uut_reply(bytes));
    EXPECT_EQ(module_bytes(run.report), bytes);
    ASSERT_EQ(run.last_errors.size(), 1U);
    EXPECT_EQ(module_bytes(run.last_errors[0]), error_text(bytes));
    for (const UnitIdentity* unit : {&run.uut, &run.qcu}) {
      for (const std::string* field :
           {&unit->maker, &unit->model, &unit->serial, &unit->firmware}) {
        EXPECT_LE(characters(*field), kIdentityFieldLength);
        EXPECT_TRUE(module_bytes(*field).has_value()) << *field;
      }
    }
    EXPECT_EQ(run.technician.find('\0'), std::string::npos);
    EXPECT_EQ(QString::fromStdString(run.technician).toStdString(), run.technician)
        << "well-formed UTF-8";
  }

  samples::Folder folder;
  Captured writes;
};

TEST_P(HostileBytesTest, ComeBackFromTheStoresAndEveryExport) {
  const std::string& bytes = GetParam().bytes;
  const RunRecord run = recorded(bytes);
  ASSERT_EQ(writes.saved.size(), 2U);
  EXPECT_EQ(module_bytes(writes.saved[0]), bytes.substr(0, bytes.size() / 2));
  EXPECT_EQ(writes.saved[1], module_text(bytes)) << "the report saved while the run goes on";
  expect_bytes_back(run, bytes, "as recorded");

  RecordStore file(folder.file("records.sqlite"));
  ASSERT_TRUE(file.open()) << file.status_text();
  ASSERT_TRUE(file.begin_run(writes.begun[0]));
  ASSERT_TRUE(file.save_progress(run.id, writes.saved[1]));
  ASSERT_TRUE(file.complete_run(run)) << file.status_text();
  const std::optional<RunRecord> from_file = file.find(run.id).value;
  ASSERT_TRUE(from_file.has_value());
  EXPECT_EQ(*from_file, run);
  RecordStore* exported = &file;

#ifdef QUOR_TEST_ON_SERVER
  // As the forwarder writes it, and as a station writing to the server itself does.
  RecordStore server(database_.line(), OpenMode::shared);
  ASSERT_TRUE(server.open()) << server.status_text();
  ASSERT_TRUE(server.import_runs({*from_file})) << server.status_text();
  const std::optional<RunRecord> from_server = server.find(run.id).value;
  ASSERT_TRUE(from_server.has_value()) << server.status_text();
  EXPECT_EQ(*from_server, *from_file) << "the same run in both stores";
  RunRecord direct = writes.begun[0];
  direct.id = new_run_id();
  ASSERT_TRUE(server.begin_run(direct)) << server.status_text();
  ASSERT_TRUE(server.save_progress(direct.id, writes.saved[1])) << server.status_text();
  EXPECT_EQ(server.find(direct.id).value.value_or(RunRecord{}).report, writes.saved[1]);
  exported = &server;
#endif
  RecordFilter only_run;  // not the one left running
  only_run.include_simulated = true;
  only_run.outcome = Outcome::failed;

  for (const char* name : {"runs.csv", "runs.json", "runs.xml"}) {
    const std::string path = folder.file(name);
    std::size_t count = 0;
    ASSERT_EQ(export_records(*exported, only_run, path, &count), "") << name;
    ASSERT_EQ(count, 1U) << name;
    std::vector<JunitSuite> suites;
    const std::vector<RunRecord> parsed = name == std::string("runs.csv") ? parse_csv(path)
                                          : name == std::string("runs.json")
                                              ? parse_json(path)
                                              : parse_junit(path, suites);
    ASSERT_EQ(parsed.size(), 1U) << name;
    RunRecord expected = *from_file;
    expected.made.reset();  // the exports leave the station's order key out
    EXPECT_EQ(parsed[0], expected) << name;
    expect_bytes_back(parsed[0], bytes, name);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, HostileBytesTest,
    ::testing::Values(HostileBytes{"nul", std::string("QB\0\0 7\0", 7)},
                      HostileBytes{"c0_controls", byte_range(0x01, 0x1F)},
                      HostileBytes{"delete",
                                   "\x7F"
                                   "A\x7F"},
                      HostileBytes{"high_bytes", byte_range(0x80, 0xFF)},
                      HostileBytes{
                          "ill_formed_utf8",
                          "\xC3\x28 \xE2\x82 \xF0\x28\x8C\xBC \xED\xA0\x80 \xC0\xAF \xFF\xFE \x80"},
                      HostileBytes{"utf8_is_shown_as_latin1", "\xC3\xA9 \xE2\x82\xAC \xEF\xBF\xBD"},
                      HostileBytes{"every_byte", byte_range(0x00, 0xFF)},
                      HostileBytes{"reply_of_1000", mixed_bytes(1000)},
                      HostileBytes{"serial_of_3000", long_serial(3000)}),
    [](const ::testing::TestParamInfo<HostileBytes>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace records
