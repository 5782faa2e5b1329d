// --final-test run as the program, on the simulated chassis with virtual time: the exit status
// says the verdict, the lines say the steps, and a sequence the command cannot run is refused
// before any unit is touched.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "station/command_line.h"
#include "station/final_test_command.h"

namespace {

struct StationRun {
  int status = -1;
  std::string out;
  std::string err;
};

StationRun run_station(const QStringList& arguments, const QByteArray& input = {}) {
  QProcess station;
  station.start(QStringLiteral(QUOR_STATION_PATH), arguments);
  EXPECT_TRUE(station.waitForStarted());
  if (!input.isEmpty()) station.write(input);
  station.closeWriteChannel();
  EXPECT_TRUE(station.waitForFinished(120'000));
  return {station.exitCode(), station.readAllStandardOutput().toStdString(),
          station.readAllStandardError().toStdString()};
}

struct VerdictRow {
  const char* name;
  QStringList extra;  // faults, a sequence, another resource
  int status;
  const char* verdict_line;  // the start of the verdict's line
};

class FinalTestStation : public ::testing::Test {
 protected:
  QStringList arguments(const QStringList& extra) const {
    return QStringList{"--simulate",
                       "--virtual-time",
                       "--final-test",
                       "--top-serial",
                       "SIM-LA008",
                       "--technician",
                       "Ada",
                       "--uut",
                       "VXI0::8::INSTR",
                       "--qcu",
                       "VXI0::24::INSTR",
                       "--records",
                       dir.filePath("records.sqlite")} +
           extra;
  }
  QTemporaryDir dir;
};

class FinalTestCommandTest : public FinalTestStation,
                             public ::testing::WithParamInterface<VerdictRow> {};

TEST_P(FinalTestCommandTest, ExitsWithTheVerdictsStatusAndPrintsEachStep) {
  const VerdictRow& row = GetParam();
  QStringList extra{"--yes"};
  extra += row.extra;
  const StationRun run = run_station(arguments(extra));
  EXPECT_EQ(run.status, row.status) << run.out << run.err;
  const std::size_t verdict = run.out.find(std::string("\n") + row.verdict_line);
  ASSERT_NE(verdict, std::string::npos) << run.out;
  // Each step has its line before the verdict.
  const std::size_t first_step = run.out.find(" 1/");
  ASSERT_NE(first_step, std::string::npos) << run.out;
  EXPECT_LT(first_step, verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, FinalTestCommandTest,
    ::testing::Values(VerdictRow{"Pass", {}, station::kFinalTestPass, "PASS\n"},
                      VerdictRow{"SelfTestFails",
                                 {"--fault", "self-test-fail"},
                                 station::kFinalTestFail,
                                 "FAIL: Self Test: Self Test Failure:1"},
                      VerdictRow{"ReceiveBitFailsRec",
                                 {"--fault", "stuck-receive-bit"},
                                 station::kFinalTestFail,
                                 "FAIL: REC: Miscompare at"},
                      VerdictRow{"VisaTimeOut",
                                 {"--fault", "visa-read-timeout"},
                                 station::kFinalTestError,
                                 "ERROR: "}),
    [](const ::testing::TestParamInfo<VerdictRow>& row) { return std::string(row.param.name); });

TEST_F(FinalTestStation, ACablingDeclinedOnTheTerminalEndsTheTestAsAnError) {
  QFile sequence(dir.filePath("short.seq"));
  ASSERT_TRUE(sequence.open(QIODevice::WriteOnly));
  sequence.write("Self Test\nSELFLOOP  # UUT output to input 1\n");
  sequence.close();
  const QString junit = dir.filePath("unit.xml");
  const StationRun run =
      run_station(arguments({"--sequence", sequence.fileName(), "--junit", junit}), "n\n");
  EXPECT_EQ(run.status, station::kFinalTestError) << run.out << run.err;
  // The steps that ran passed; the unit's own case says it was not tested through.
  QFile xml(junit);
  ASSERT_TRUE(xml.open(QIODevice::ReadOnly)) << run.err;
  const std::string text = xml.readAll().toStdString();
  EXPECT_NE(text.find("<error type=\"error\""), std::string::npos) << text;
  EXPECT_NE(run.out.find("Connect the UUT's Output 1(or 2,3,4,5) to UUT's Input 1\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("ERROR: SELFLOOP: not run"), std::string::npos) << run.out;
}

// The files a fixture keeps: the unit report and the unit result as JUnit, read back from the
// records, with a test case for the initialization, for every step the sequence ran and for the
// unit's verdict.
TEST_F(FinalTestStation, WritesTheUnitReportAndTheUnitResultsJunit) {
  const QString report = dir.filePath("unit.pdf");
  const QString junit = dir.filePath("unit.xml");
  const StationRun run = run_station(
      arguments({"--yes", "--fault", "stuck-receive-bit", "--report", report, "--junit", junit}));
  EXPECT_EQ(run.status, station::kFinalTestFail) << run.out << run.err;
  QFile pdf(report);
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly)) << run.err;
  EXPECT_TRUE(pdf.read(5).startsWith("%PDF-"));
  QFile xml(junit);
  ASSERT_TRUE(xml.open(QIODevice::ReadOnly)) << run.err;
  const std::string text = xml.readAll().toStdString();
  std::size_t cases = 0;
  for (std::size_t at = text.find("<testcase"); at != std::string::npos;
       at = text.find("<testcase", at + 1)) {
    ++cases;
  }
  EXPECT_EQ(cases, 1 + procedures::default_sequence().steps.size() + 1) << text;
  EXPECT_NE(text.find("<failure type=\"fail\""), std::string::npos) << "the verdict's case";
  EXPECT_NE(text.find("SIM-LA008"), std::string::npos) << text;
  EXPECT_NE(text.find("<failure"), std::string::npos) << text;
}

struct RefusalRow {
  const char* name;
  const char* sequence;  // the file's text; null: no --sequence
  QStringList drop;      // options left out
  const char* message;
};

class FinalTestRefusalTest : public FinalTestStation,
                             public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(FinalTestRefusalTest, RefusesBeforeTouchingAUnit) {
  const RefusalRow& row = GetParam();
  QStringList extra{"--yes"};
  if (row.sequence != nullptr) {
    QFile sequence(dir.filePath("wrong.seq"));
    ASSERT_TRUE(sequence.open(QIODevice::WriteOnly));
    sequence.write(row.sequence);
    sequence.close();
    extra << "--sequence" << sequence.fileName();
  }
  QStringList all = arguments(extra);
  for (const QString& option : row.drop) {
    const qsizetype at = all.indexOf(option);
    all.remove(at, 2);
  }
  const StationRun run = run_station(all);
  EXPECT_EQ(run.status, station::kUsageStatus) << run.out << run.err;
  EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("VISA:"), std::string::npos) << "no library chosen: " << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, FinalTestRefusalTest,
    ::testing::Values(
        RefusalRow{"Calibration",
                   "Self Test\n# then the scope\nCalibrate Outputs\n",
                   {},
                   "wrong.seq: step 2 is Calibrate Outputs"},
        RefusalRow{"WrongLine", "REC\nRECX\n", {}, "wrong.seq: line 2: \"RECX\" is no procedure"},
        RefusalRow{"NoSerialNorQcu",
                   nullptr,
                   {"--top-serial", "--qcu"},
                   "--final-test needs --top-serial S --qcu RESOURCE"}),
    [](const ::testing::TestParamInfo<RefusalRow>& row) { return std::string(row.param.name); });

}  // namespace
