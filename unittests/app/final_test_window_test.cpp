// The Final Test window on the simulated chassis, on virtual time: a unit scanned in (serial
// numbers typed as a scanner types them, each ended by Enter) runs to PASS, or with a training
// fault to FAIL naming the first failing step and its first finding; the verdict shows, the
// report is filed, the serial boxes are cleared and focused for the next unit, and the technician
// and the modules chosen are kept. Every control is named for a screen reader.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <string>

#include "app/final_test_window.h"
#include "app_fixture.h"
#include "modal_script.h"
#include "pdf_text.h"
#include "procedures/production_tests.h"
#include "sim/fault_catalogue.h"

namespace {

// Types `text` into the box and ends it with Enter, as a barcode scanner does.
void scan(QLineEdit* box, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(box, &press);
  }
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(box, &enter);
}

QString accessible_name(QObject* object) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
  return face == nullptr ? QString("<no interface>") : face->text(QAccessible::Name);
}

class FinalTestWindowTest : public app_tests::StationTest {
 protected:
  FinalTestWindowTest() : production(station, *form) {}

  std::unique_ptr<app::FinalTestWindow> make_window() {
    app::FinalTestWindow::Options options;
    options.reports_folder = folder.filePath("reports").toStdString();
    options.station = {"LINE1-ST2", "1.0", "simulated chassis", true};
    options.settings_file = folder.filePath("station.ini");
    auto window = std::make_unique<app::FinalTestWindow>(station, production, options);
    window->show();
    return window;
  }

  QTemporaryDir folder;
  procedures::ProductionTests production;
};

struct UnitRow {
  const char* name;
  const char* fault;  // on the UUT; nullptr for none
  const char* top_serial;
  bool serial_mismatch;  // the UUT gives another serial: the technician tests it all the same
  const char* verdict;
  const char* colour;
  const char* finding_start;
  const char* failed_step;  // the step table's first "Failed" row; nullptr for none
};

class FinalTestRunTest : public FinalTestWindowTest,
                         public ::testing::WithParamInterface<UnitRow> {};

TEST_P(FinalTestRunTest, ScannedInRunsToTheVerdictFilesTheReportAndWaitsForTheNextUnit) {
  const UnitRow& row = GetParam();
  if (row.fault != nullptr) {
    ASSERT_EQ(sim::apply_fault(chassis, {sim::find_fault(row.fault), 8}), "");
  }
  auto window = make_window();
  ASSERT_EQ(window->cboUut->count(), 2);  // the two Quor Bus modules, not the other maker's
  EXPECT_EQ(window->cboUut->currentData().toString(), "VXI0::8::INSTR");
  EXPECT_EQ(window->cboQcu->currentData().toString(), "VXI0::24::INSTR");
  window->txtTechnician->setText("A. Marsh");

  app_tests::ModalScript script;
  if (row.serial_mismatch) script.click("Test It");
  for (int cabling = 0; cabling < 4; ++cabling) script.click("OK");
  scan(window->txtTopSerial, row.top_serial);
  EXPECT_EQ(window->focusWidget(), window->txtSubSerial);
  scan(window->txtSubSerial, "SUB-7781");
  EXPECT_EQ(window->focusWidget(), window->txtTechnician);
  // Enter in the last box starts; it returns with the verdict.
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(window->txtTechnician, &enter);

  EXPECT_TRUE(script.done()) << "boxes answered: " << script.shown.size();
  EXPECT_TRUE(script.surprises.empty()) << script.surprises.front();
  if (row.serial_mismatch) {
    ASSERT_FALSE(script.shown.empty());
    EXPECT_NE(script.shown[0].find("(SIM-LA008)"), std::string::npos) << script.shown[0];
  }
  ASSERT_TRUE(window->last_result().has_value());
  const procedures::FinalTestResult& result = *window->last_result();
  EXPECT_EQ(result.unit.top_serial, row.top_serial);
  EXPECT_EQ(result.unit.sub_serial, "SUB-7781");

  // The verdict, unmistakable.
  EXPECT_EQ(window->lblVerdict->text().toStdString(), row.verdict);
  EXPECT_NE(window->lblVerdict->styleSheet().indexOf(row.colour), -1)
      << window->lblVerdict->styleSheet().toStdString();
  EXPECT_TRUE(window->lblFinding->text().startsWith(row.finding_start))
      << window->lblFinding->text().toStdString();
  EXPECT_EQ(accessible_name(window->lblVerdict).toStdString(),
            std::string("Verdict: ") + row.verdict);

  // The step table: every step ended; the first failed one is the one the verdict names.
  ASSERT_EQ(window->tblSteps->rowCount(), static_cast<int>(result.steps.size()));
  QString first_failed;
  for (int i = 0; i < window->tblSteps->rowCount(); ++i) {
    const QString state = window->tblSteps->item(i, 1)->text();
    EXPECT_TRUE(state == "Passed" || state == "Failed") << i << " " << state.toStdString();
    EXPECT_FALSE(window->tblSteps->item(i, 2)->text().isEmpty()) << i;
    if (state == "Failed" && first_failed.isEmpty())
      first_failed = window->tblSteps->item(i, 0)->text();
  }
  EXPECT_EQ(first_failed.toStdString(), row.failed_step ? row.failed_step : "");

  // The next unit: serial boxes empty and focused, the technician kept.
  EXPECT_TRUE(window->txtTopSerial->text().isEmpty());
  EXPECT_TRUE(window->txtSubSerial->text().isEmpty());
  EXPECT_EQ(window->focusWidget(), window->txtTopSerial);
  EXPECT_EQ(window->txtTechnician->text(), "A. Marsh");
  EXPECT_TRUE(window->cmdStart->isEnabled());
  EXPECT_FALSE(window->cmdStop->isEnabled());
  EXPECT_TRUE(window->cmdPrint->isEnabled());

  // The report, filed off the window thread under the unit's serial number.
  const QDeadlineTimer deadline(20000);
  while (window->report_pending() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  ASSERT_EQ(window->report_error().toStdString(), "");
  EXPECT_TRUE(window->report_path().startsWith(folder.filePath("reports/") + row.top_serial + "/"))
      << window->report_path().toStdString();
  const QString pdf = app_tests::pdf_text(window->report_path());
  EXPECT_TRUE(pdf.contains(row.verdict)) << pdf.toStdString();
  EXPECT_TRUE(pdf.contains(row.top_serial)) << pdf.toStdString();
  EXPECT_TRUE(window->lblReport->text().contains(window->report_path()));

  // Across a restart: the technician and the modules chosen.
  window.reset();
  auto again = make_window();
  EXPECT_EQ(again->txtTechnician->text(), "A. Marsh");
  EXPECT_EQ(again->cboUut->currentData().toString(), "VXI0::8::INSTR");
  EXPECT_EQ(again->focusWidget(), again->txtTopSerial);
}

INSTANTIATE_TEST_SUITE_P(Units, FinalTestRunTest,
                         ::testing::Values(UnitRow{"Pass", nullptr, "SIM-LA008", false, "PASS",
                                                   "#1b8a2e", "All ", nullptr},
                                           UnitRow{"FailWithTheSerialMismatchAccepted",
                                                   "dead-input-1", "TOP-5012", true, "FAIL",
                                                   "#c61717", "REC: ", "REC"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(FinalTestWindowTest, ASerialMismatchDeclinedTestsNothingAndSaysWhy) {
  auto window = make_window();
  window->txtTechnician->setText("A. Marsh");
  window->txtTopSerial->setText("TOP-5012");
  app_tests::ModalScript script;
  script.click("Do Not Test");
  window->cmdStart->click();
  EXPECT_TRUE(script.done());
  EXPECT_TRUE(script.surprises.empty()) << script.surprises.front();
  EXPECT_EQ(window->lblVerdict->text(), "ERROR");
  EXPECT_TRUE(window->lblFinding->text().contains("SIM-LA008"))
      << window->lblFinding->text().toStdString();
  for (int i = 0; i < window->tblSteps->rowCount(); ++i) {
    EXPECT_EQ(window->tblSteps->item(i, 1)->text(), "Waiting") << i;
  }
}

// STOP while the first bus test runs: that step ends, no later one starts, and the unit is not
// passed.
TEST_F(FinalTestWindowTest, StopEndsTheSequenceWithAnErrorNotAPass) {
  auto window = make_window();
  window->txtTechnician->setText("A. Marsh");
  window->txtTopSerial->setText("SIM-LA008");
  app_tests::ModalScript script;
  script.then([&window](QWidget* modal) {
    static_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->click();
    // Heard at the running test's next yield, as a click on STOP is.
    QTimer::singleShot(0, window.get(), [&window] { window->cmdStop->click(); });
  });
  window->cmdStart->click();
  EXPECT_TRUE(script.done());
  EXPECT_TRUE(script.surprises.empty()) << script.surprises.front();
  EXPECT_EQ(window->lblVerdict->text(), "ERROR");
  EXPECT_NE(window->lblVerdict->styleSheet().indexOf("#e06c00"), -1);
  ASSERT_TRUE(window->last_result().has_value());
  const auto& steps = window->last_result()->steps;
  ASSERT_GE(steps.size(), 4U);
  EXPECT_EQ(steps[2].kind, core::ProcedureKind::rec);
  EXPECT_EQ(window->tblSteps->item(2, 1)->text(), "Stopped");
  for (std::size_t i = 3; i < steps.size(); ++i) {
    EXPECT_EQ(window->tblSteps->item(static_cast<int>(i), 1)->text(), "Waiting") << i;
  }
  EXPECT_EQ(window->focusWidget(), window->txtTopSerial);
}

TEST_F(FinalTestWindowTest, StartWithoutASerialNumberAsksForItAndStartsNothing) {
  auto window = make_window();
  window->txtTechnician->setText("A. Marsh");
  window->cmdStart->click();
  EXPECT_FALSE(window->last_result().has_value());
  EXPECT_EQ(window->lblMessage->text(), "Enter or scan the Top Assy S/N.");
  EXPECT_EQ(window->focusWidget(), window->txtTopSerial);
  EXPECT_TRUE(station.run.report.empty());
}

// Every control a technician reaches, by its control name, with what a screen reader says.
struct NameRow {
  const char* control;
  const char* accessible_name;
};

class FinalTestAccessibilityTest : public FinalTestWindowTest,
                                   public ::testing::WithParamInterface<NameRow> {};

TEST_P(FinalTestAccessibilityTest, TheControlIsNamed) {
  auto window = make_window();
  auto* control = window->findChild<QWidget*>(GetParam().control);
  ASSERT_NE(control, nullptr) << GetParam().control;
  // On Linux a box's interface reads its current text as its name and takes the caption from its
  // label's relation: the name it is given is what a screen reader announces it by.
  const QString name = qobject_cast<QComboBox*>(control) != nullptr ? control->accessibleName()
                                                                    : accessible_name(control);
  EXPECT_EQ(name.toStdString(), GetParam().accessible_name);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, FinalTestAccessibilityTest,
    ::testing::Values(NameRow{"txtTopSerial", "Top Assy S/N"},
                      NameRow{"txtSubSerial", "Sub Assy S/N"},
                      NameRow{"txtTechnician", "Technician Name"}, NameRow{"cboUut", "UUT"},
                      NameRow{"cboQcu", "QCU"}, NameRow{"cmdSearch", "Search Modules"},
                      NameRow{"cmdStart", "START"}, NameRow{"cmdStop", "STOP"},
                      NameRow{"cmdPrint", "Print Report"}, NameRow{"tblSteps", "Steps"},
                      NameRow{"prgStep", "Step progress"}, NameRow{"lblTimeLeft", "Time left"},
                      NameRow{"lblVerdict", "Verdict"}, NameRow{"lblFinding", "Finding"},
                      NameRow{"lblReport", "Report file"}, NameRow{"lblRunning", "Running step"},
                      NameRow{"lblMessage", "Message"}),
    [](const auto& row) { return std::string(row.param.control); });

// No control of the window is left out of the table above, nor without a name.
TEST_F(FinalTestWindowTest, EveryControlHasAnAccessibleName) {
  auto window = make_window();
  EXPECT_EQ(QAccessible::queryAccessibleInterface(window.get())->role(), QAccessible::Window);
  int named = 0;
  for (QWidget* control : window->findChildren<QWidget*>()) {
    const QString name = control->objectName();
    if (name.isEmpty() || name.startsWith("qt_") || control->parentWidget() != window.get()) {
      continue;
    }
    EXPECT_FALSE(accessible_name(control).isEmpty()) << name.toStdString();
    ++named;
  }
  EXPECT_EQ(named, 22);  // 17 in the table, 5 captions reading their text
}

}  // namespace
