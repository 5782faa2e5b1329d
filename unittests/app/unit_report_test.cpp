// The unit report as a PDF file read back with pdftotext: its header, verdict and step table, and
// the steps' reports; where it is filed. And printing on a station without a printer (the
// offscreen platform has none): every report that can be printed says so and offers the PDF file.
#include <gtest/gtest.h>

#include <QFile>
#include <QMenuBar>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <string>

#include "app/frm_results.h"
#include "app/qt_operator.h"
#include "app/records_window.h"
#include "app/report_printing.h"
#include "app/unit_report.h"
#include "modal_script.h"
#include "pdf_text.h"
#include "records/record_store.h"

namespace {

using namespace std::chrono_literals;
using core::ProcedureKind;
using procedures::StepResult;
using procedures::StepState;

StepResult step(ProcedureKind kind, StepState state, std::chrono::milliseconds duration,
                std::string report = {}, std::string finding = {}) {
  StepResult s;
  s.kind = kind;
  s.state = state;
  s.duration = duration;
  s.facts.report = std::move(report);
  s.finding = std::move(finding);
  return s;
}

// A unit that failed REC with its miscompares, the steps after it not run.
app::UnitReportFacts failed_unit() {
  app::UnitReportFacts facts;
  facts.station = {"LINE1-ST2", "1.0", "simulated chassis", true};
  procedures::FinalTestResult& r = facts.result;
  r.unit = {"TOP-5012", "SUB-7781", "A. Marsh", "VXI0::8::INSTR", "VXI0::24::INSTR"};
  r.uut_identity = "ARDENVALE,QUOR BUS,QB10412,2.07";
  r.qcu_identity = "ARDENVALE,QUOR BUS,QB10001,2.07";
  r.sequence.name = "default";
  r.started = std::chrono::system_clock::time_point{} + 1796560496s;  // 2026-12-06 12:34:56 UTC
  r.ended = r.started + 95s;
  r.finished = true;
  StepResult self_test = step(ProcedureKind::self_test, StepState::passed, 2100ms);
  self_test.facts.verdict = "Self Test Passed";
  r.steps = {self_test, step(ProcedureKind::memory_test, StepState::passed, 11400ms),
             step(ProcedureKind::rec, StepState::failed, 64250ms,
                  "Quor Bus--Rec\r\nMiscompare at 2 Expected 4 Got 0\r\nMiscompare at 3 "
                  "Expected 8 Got 0\r\n",
                  "Miscompare at 2 Expected 4 Got 0"),
             step(ProcedureKind::stamp, StepState::waiting, 0ms)};
  r.verdict = {procedures::Verdict::fail, 2, "Miscompare at 2 Expected 4 Got 0"};
  return facts;
}

QString simplified_lines(const QString& text) {
  QStringList lines;
  for (const QString& line : text.split('\n')) lines << line.simplified();
  return lines.join('\n');
}

TEST(UnitReportPdf, ReadsBackTheHeaderTheVerdictAndTheStepTable) {
  QTemporaryDir folder;
  const app::UnitReportFacts facts = failed_unit();
  const std::string path = app::default_unit_report_path(folder.path().toStdString(), facts.result);
  ASSERT_EQ(app::write_unit_report_pdf(facts, path), "");
  const QString text = simplified_lines(app_tests::pdf_text(QString::fromStdString(path)));

  for (const char* expected :
       {"Station LINE1-ST2 (simulated chassis)", "VISA library simulated chassis",
        "Technician A. Marsh", "Top Assy S/N TOP-5012", "Sub Assy S/N SUB-7781",
        "UUT VXI0::8::INSTR — ARDENVALE,QUOR BUS,QB10412,2.07",
        "QCU VXI0::24::INSTR — ARDENVALE,QUOR BUS,QB10001,2.07", "Started 2026-12-06 12:34:56 UTC",
        "Ended 2026-12-06 12:36:31 UTC", "\nFAIL\n", "REC: Miscompare at 2 Expected 4 Got 0",
        // The step table, in order, with each state and duration.
        "1 Self Test Passed 2.1 s\n", "2 Memory Test Passed 11.4 s\n",
        "3 REC Failed 64.3 s Miscompare at 2 Expected 4 Got 0\n", "4 STAMP Waiting\n",
        // Each step's report as the console shows it.
        "1. Self Test — Passed\nSelf Test Passed",
        "3. REC — Failed\nQuor Bus--Rec\nMiscompare at 2 Expected 4 Got 0\nMiscompare at 3 "
        "Expected 8 Got 0"}) {
    EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << "\nin:\n"
                                                            << text.toStdString();
  }
  // A step that did not run has no report section.
  EXPECT_FALSE(text.contains(QString::fromUtf8("4. STAMP"))) << text.toStdString();
}

TEST(UnitReportPdf, AReportThatCannotBeWrittenSaysWhy) {
  QTemporaryDir folder;
  QFile blocker(folder.filePath("taken"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  // A file stands where the serial number's folder would be made.
  const std::string error = app::write_unit_report_pdf(
      failed_unit(), folder.filePath("taken/TOP-5012/TOP-5012.pdf").toStdString());
  EXPECT_NE(error.find("cannot be made"), std::string::npos) << error;
}

struct PathRow {
  const char* name;
  const char* serial;
  const char* expected;  // below the reports folder
};

class UnitReportPathTest : public ::testing::TestWithParam<PathRow> {};

TEST_P(UnitReportPathTest, FilesEachUnitUnderItsSerialNumberByItsUtcStart) {
  procedures::FinalTestResult result;
  result.unit.top_serial = GetParam().serial;
  result.started = std::chrono::system_clock::time_point{} + 1796560496789ms;
  EXPECT_EQ(app::default_unit_report_path("/srv/reports", result),
            std::string("/srv/reports/") + GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Serials, UnitReportPathTest,
    ::testing::Values(PathRow{"Plain", "TOP-5012", "TOP-5012/TOP-5012-20261206-123456.pdf"},
                      PathRow{"Trimmed", " QB 12/7 ", "QB_12_7/QB_12_7-20261206-123456.pdf"},
                      PathRow{"NoSerial", "", "no-serial/no-serial-20261206-123456.pdf"},
                      PathRow{"Dots", "..", "no-serial/no-serial-20261206-123456.pdf"}),
    [](const auto& row) { return std::string(row.param.name); });

// --- Printing without a printer ---

enum class Printed { ResultsWindow, RecordsWindow, UnitReport };

struct PrintRow {
  const char* name;
  Printed printed;
  const char* text_in_pdf;
};

class NoPrinterTest : public ::testing::TestWithParam<PrintRow> {
 protected:
  // Starts the printing the row names; returns when its first box has been answered.
  void print() {
    switch (GetParam().printed) {
      case Printed::ResultsWindow: {
        app::FrmResults window(person);
        window.set_report("Quor Bus--Rec\r\nUnit Passes");
        window.mnuPrint->trigger();
        break;
      }
      case Printed::RecordsWindow: {
        records::RecordStore store(folder.filePath("records.sqlite").toStdString());
        ASSERT_TRUE(store.open());
        records::RunRecord run;
        run.id = "r1";
        run.procedure = records::Procedure::recm;
        run.outcome = records::Outcome::passed;
        run.report = "Quor Bus--Recm\r\nUnit Passes";
        ASSERT_TRUE(store.import_runs({run}));
        app::RecordsWindow window(store, person);
        ASSERT_TRUE(window.wait_for_reads());
        window.select_row(0);
        window.cmdPrint->click();
        break;
      }
      case Printed::UnitReport: {
        const app::UnitReportFacts facts = failed_unit();
        app::print_report(
            nullptr, [facts] { return app::unit_report_document(facts); },
            QStringLiteral("TOP-5012.pdf"));
        break;
      }
    }
  }

  QTemporaryDir folder;
  app::QtOperator person;
};

TEST_P(NoPrinterTest, SaysSoAndSavesThePdfInstead) {
  ASSERT_FALSE(app::printer_installed()) << "this check needs a station without a printer";
  const QString pdf = folder.filePath("report.pdf");
  app_tests::ModalScript script;
  script.click("Save as PDF...");
  script.choose_file(pdf);
  script.click("OK");
  print();
  ASSERT_TRUE(script.finish()) << "boxes answered: " << script.shown.size();
  EXPECT_TRUE(script.surprises.empty()) << script.surprises.front();
  ASSERT_EQ(script.shown.size(), 2U);
  EXPECT_EQ(script.shown[0], app::kNoPrinterText);
  EXPECT_EQ(script.shown[1], "The report was saved as " + pdf.toStdString() + ".");
  EXPECT_TRUE(simplified_lines(app_tests::pdf_text(pdf)).contains(GetParam().text_in_pdf));
}

TEST_P(NoPrinterTest, CancelledWritesNothing) {
  app_tests::ModalScript script;
  script.click("Cancel");
  print();
  ASSERT_TRUE(script.finish());
  ASSERT_EQ(script.shown.size(), 1U);
  EXPECT_EQ(script.shown[0], app::kNoPrinterText);
  EXPECT_TRUE(QDir(folder.path()).entryList({"*.pdf"}, QDir::Files).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Reports, NoPrinterTest,
    ::testing::Values(PrintRow{"ResultsWindow", Printed::ResultsWindow, "Quor Bus--Rec"},
                      PrintRow{"RecordsWindow", Printed::RecordsWindow, "Quor Bus--Recm"},
                      PrintRow{"UnitReport", Printed::UnitReport, "Top Assy S/N TOP-5012"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
