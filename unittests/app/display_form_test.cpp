// The main window: its layout, start-up state, status line and shut-down.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QToolTip>
#include <algorithm>
#include <string>
#include <vector>

#include "app/qt_event_pump.h"
#include "app/twips.h"
#include "app_fixture.h"
#include "testing/sim_bench.h"

namespace app_tests {
namespace {

using sim::VisaFunction;

class DisplayFormTest : public StationTest {};

TEST_F(DisplayFormTest, CaptionMenuAndStartUpVisibility) {
  EXPECT_EQ(form->windowTitle(), "Quor-Bus Test Program Rev.1.00");
  EXPECT_EQ(form->objectName(), "DisplayForm");

  const QList<QAction*> top = form->menuBar()->actions();
  ASSERT_EQ(top.size(), 6);
  EXPECT_EQ(top[0]->text(), "Instrument");
  EXPECT_EQ(top[1]->text(), "Load Non-Vol");
  EXPECT_EQ(top[2]->text(), "Main Testing");
  // The engineer's items come after the technician's and stay disabled until attached.
  EXPECT_EQ(top[3]->text(), "Records");
  EXPECT_EQ(top[4]->text(), "Trace");
  EXPECT_EQ(top[5]->text(), "Final Test");
  EXPECT_FALSE(top[3]->isEnabled());
  EXPECT_FALSE(top[4]->isEnabled());
  EXPECT_FALSE(top[5]->isEnabled());
  const QList<QAction*> items = form->Instrument->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), "Initialize All");
  EXPECT_EQ(items[1]->text(), "Initialize UUT");
  EXPECT_EQ(items[2]->text(), "Initialize QA");
  EXPECT_EQ(items[0]->objectName(), "Init_ALL");

  form->show();
  EXPECT_TRUE(form->Label2->isVisible());
  EXPECT_TRUE(form->ErrorReportLabel->isVisible());
  EXPECT_EQ(form->ErrorReportLabel->text(), "Error Report Label");
  for (QWidget* hidden : std::initializer_list<QWidget*>{form->TechNameLabel,
                                                         form->TestTechnicianName,
                                                         form->TopSNLabel,
                                                         form->TopSerialNumber,
                                                         form->SubSNLabel,
                                                         form->SubSerialNumber,
                                                         form->InstructionLabel,
                                                         form->lblCalInstr,
                                                         form->StatusByte,
                                                         form->cmdStartCal,
                                                         form->TestButton[0],
                                                         form->TestButton[1],
                                                         form->TestButton[2],
                                                         form->TestButton[3],
                                                         form->Abort,
                                                         form->CalConstantLabel,
                                                         form->CalConstant,
                                                         form->CalUp,
                                                         form->CalGood,
                                                         form->CalDown}) {
    EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
  }
  EXPECT_FALSE(form->DelayTimer->isActive());
  // Start-up leaves the error box off and opens nothing.
  EXPECT_FALSE(station.driver_state.error_box);
  EXPECT_EQ(chassis.total_calls(), 0U);
}

TEST_F(DisplayFormTest, ControlsSitAtTheirTwipsPositionsWithTheirFonts) {
  EXPECT_EQ(form->centralWidget()->size(), app::twips_size(8655, 6795));
  EXPECT_EQ(form->TestButton[3]->geometry(), app::twips_rect(6600, 4560, 1935, 495));
  EXPECT_EQ(form->TestButton[3]->text(), "Self Test");
  EXPECT_EQ(form->TestButton[0]->text(), "Calibrate Outputs");
  EXPECT_EQ(form->TestButton[1]->text(), "Output Amplitude Test");
  EXPECT_EQ(form->TestButton[2]->text(), "Memory Test");
  EXPECT_EQ(form->TestButton[2]->property("index").toInt(), 2);
  EXPECT_EQ(form->ErrorReportLabel->geometry(), app::twips_rect(240, 4920, 6015, 1335));
  EXPECT_EQ(form->TestTechnicianName->geometry(), app::twips_rect(2520, 120, 2295, 480));
  EXPECT_DOUBLE_EQ(form->TestTechnicianName->font().pointSizeF(), 13.5);
  EXPECT_DOUBLE_EQ(form->TechNameLabel->font().pointSizeF(), 12);
  EXPECT_DOUBLE_EQ(form->InstructionLabel->font().pointSizeF(), 9.75);
  EXPECT_DOUBLE_EQ(form->CalUp->font().pointSizeF(), 8.25);
  EXPECT_TRUE(form->CalUp->font().bold());
  EXPECT_EQ(form->CalUp->font().family(), "Arial");
  EXPECT_EQ(form->lblCalInstr->text(),
            "Make sure that the Tech's name and Serial Numbers are filled in before startin "
            "'Calibrate Outputs'.");
  EXPECT_EQ(app::twips_to_pixels(1440), 96);
}

TEST_F(DisplayFormTest, StatusLineSaysPlainlyWhichVisaIsInUse) {
  EXPECT_TRUE(form->visaStatusLabel->text().startsWith("SIMULATED CHASSIS"));

  core::Station real(chassis, person, pump, core::VisaInUse{"/usr/lib/libvisa.so", false});
  app::DisplayForm real_form(real);
  EXPECT_EQ(real_form.visaStatusLabel->text(), "VISA library: /usr/lib/libvisa.so");
  // The status line changes no caption the window is known by.
  EXPECT_EQ(real_form.windowTitle(), "Quor-Bus Test Program Rev.1.00");
}

TEST_F(DisplayFormTest, ClosingRightAfterStartUpMakesNoCallForTheUnitSessions) {
  form->show();
  form->close();
  EXPECT_TRUE(person.shown.empty());
  // Only the default manager's close is attempted, and it was never opened.
  EXPECT_EQ(chassis.call_count(VisaFunction::Close), 1U);
  EXPECT_EQ(chassis.total_calls(), 1U);
  EXPECT_TRUE(station.driver_state.abort_flag);
}

TEST_F(DisplayFormTest, ShutDownClosesBothUnitSessions) {
  ASSERT_EQ(station.driver.quor_init("VXI0::8::INSTR", 1, 1, station.units.uut.session), 0);
  ASSERT_EQ(station.driver.quor_init("VXI0::24::INSTR", 1, 1, station.units.qcu.session), 0);
  EXPECT_EQ(chassis.open_session_count(), 2);
  form->close();
  EXPECT_EQ(chassis.open_session_count(), 0);
  EXPECT_EQ(chassis.open_object_count(), 0);
  EXPECT_TRUE(station.driver_state.abort_flag);
}

TEST_F(DisplayFormTest, ReportedDriverErrorChangesOnlyTheLastErrorText) {
  station.driver.report_status(station.units.uut, visa::VI_ERROR_TMO, "Resetting the UUT");
  EXPECT_EQ(station.driver_state.last_error_text.substr(0, 18), "Resetting the UUT\n");
  EXPECT_TRUE(person.shown.empty());
  EXPECT_EQ(form->ErrorReportLabel->text(), "Error Report Label");
}

TEST_F(DisplayFormTest, ShowStepWritesTheErrorReportLabel) {
  station.driver_state.last_error_text = "No Error";
  station.driver.show_step("Resetting the UUT");
  EXPECT_EQ(form->ErrorReportLabel->text(), "Resetting the UUT");
}

TEST_F(DisplayFormTest, DelayTimerTicksCountForTheTickWait) {
  station.driver_state.tick_counter = 0;
  QMetaObject::invokeMethod(form->DelayTimer, "timeout");
  QMetaObject::invokeMethod(form->DelayTimer, "timeout");
  EXPECT_EQ(station.driver_state.tick_counter, 2);
  form->Abort->click();
  EXPECT_TRUE(station.driver_state.abort_flag);
}

}  // namespace
}  // namespace app_tests

namespace app_tests {
namespace {

// The tick wait on the real event loop and the main window's DelayTimer.
class RealPumpTest : public ::testing::Test, protected testing_support::SimBench {
 protected:
  RealPumpTest() : station(chassis, person, pump) {
    form = std::make_unique<app::DisplayForm>(station);
    pump.set_delay_timer(form->DelayTimer);
  }

  testing_support::ScriptedOperator person;
  app::QtEventPump pump;
  core::Station station;
  std::unique_ptr<app::DisplayForm> form;
};

TEST_F(RealPumpTest, DelayTicksCountsDelayTimerTicksAndStopsTheTimer) {
  station.driver.delay_ticks(3, 1);
  EXPECT_EQ(station.driver_state.tick_counter, 3);
  EXPECT_EQ(form->DelayTimer->interval(), 1);
  EXPECT_FALSE(form->DelayTimer->isActive());
}

TEST_F(RealPumpTest, ClosingTheMainWindowDuringATickWaitEndsTheWaitAtOnce) {
  form->show();
  QTimer::singleShot(0, form.get(), [this] { form->close(); });
  station.driver.delay_ticks(1000, 1);
  EXPECT_LT(station.driver_state.tick_counter, 1000);
  EXPECT_FALSE(form->DelayTimer->isActive());
  EXPECT_TRUE(station.driver_state.abort_flag);
}

TEST_F(RealPumpTest, AWaitInsideAWaitHandsTheDelayTimerBackAtTheOuterInterval) {
  int interval_after_inner = 0;
  bool active_after_inner = false;
  QTimer::singleShot(0, form.get(), [&] {
    station.driver.delay_ticks(2, 1);
    interval_after_inner = form->DelayTimer->interval();
    active_after_inner = form->DelayTimer->isActive();
  });
  station.driver.delay_ticks(3, 20);
  EXPECT_EQ(interval_after_inner, 20);
  EXPECT_TRUE(active_after_inner);
  EXPECT_FALSE(form->DelayTimer->isActive());
}

TEST_F(RealPumpTest, AWaitWithoutATimerReturnsAtOnce) {
  pump.set_delay_timer(nullptr);
  station.driver.delay_ticks(50, 1000);
  EXPECT_EQ(station.driver_state.tick_counter, 0);
}

}  // namespace
}  // namespace app_tests

namespace app_tests {
namespace {

// Each step of the production work shows and hides its own controls and leaves the others.
struct StepControls {
  const char* name;
  app::DisplayForm::Step step;
  std::vector<std::string> shown;
  std::vector<std::string> hidden;
};

std::ostream& operator<<(std::ostream& out, const StepControls& row) { return out << row.name; }

const std::vector<std::string> kTechnicianFields = {"TechNameLabel", "TestTechnicianName",
                                                    "TopSNLabel",    "TopSerialNumber",
                                                    "SubSNLabel",    "SubSerialNumber"};
const std::vector<std::string> kAdjustment = {"CalConstantLabel", "CalConstant", "CalUp", "CalGood",
                                              "CalDown"};

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class StepControlsTest : public StationTest, public ::testing::WithParamInterface<StepControls> {
 protected:
  // The controls a step may change: every named control of the layout but the menu bar.
  std::vector<QWidget*> controls() {
    std::vector<QWidget*> all = {form->TechNameLabel,
                                 form->TestTechnicianName,
                                 form->TopSNLabel,
                                 form->TopSerialNumber,
                                 form->SubSNLabel,
                                 form->SubSerialNumber,
                                 form->InstructionLabel,
                                 form->lblCalInstr,
                                 form->StatusByte,
                                 form->cmdStartCal,
                                 form->Abort,
                                 form->CalConstantLabel,
                                 form->CalConstant,
                                 form->CalUp,
                                 form->CalGood,
                                 form->CalDown,
                                 form->Label2,
                                 form->ErrorReportLabel};
    all.insert(all.end(), form->TestButton.begin(), form->TestButton.end());
    return all;
  }

  static bool listed(const std::vector<std::string>& names, QWidget* control) {
    const std::string name = control->objectName().toStdString() +
                             (control->property("index").isValid()
                                  ? "(" + std::to_string(control->property("index").toInt()) + ")"
                                  : "");
    return std::find(names.begin(), names.end(), name) != names.end();
  }
};

TEST_P(StepControlsTest, ShowsAndHidesItsControlsAndLeavesTheOthers) {
  const StepControls& row = GetParam();
  for (const bool before : {false, true}) {
    for (QWidget* control : controls()) control->setHidden(!before);
    form->show_controls_for(row.step);
    for (QWidget* control : controls()) {
      const bool expected = listed(row.shown, control)    ? true
                            : listed(row.hidden, control) ? false
                                                          : before;
      EXPECT_EQ(!control->isHidden(), expected)
          << control->objectName().toStdString() << " index " << control->property("index").toInt()
          << ", all " << (before ? "shown" : "hidden") << " before";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StepControlsTest,
    ::testing::Values(
        StepControls{
            "StartUp",
            app::DisplayForm::Step::StartUp,
            {"Label2", "ErrorReportLabel"},
            joined(joined(kTechnicianFields, kAdjustment),
                   {"InstructionLabel", "lblCalInstr", "StatusByte", "cmdStartCal", "TestButton(0)",
                    "TestButton(1)", "TestButton(2)", "TestButton(3)", "Abort"})},
        StepControls{"UnitInitialized",
                     app::DisplayForm::Step::UnitInitialized,
                     {"InstructionLabel", "cmdStartCal", "TestButton(1)", "TestButton(2)",
                      "TestButton(3)", "Abort"},
                     joined(kTechnicianFields, {"TestButton(0)"})},
        StepControls{
            "ProductionTest", app::DisplayForm::Step::ProductionTest, {"InstructionLabel"}, {}},
        StepControls{"SettingUp",
                     app::DisplayForm::Step::SettingUp,
                     joined(kTechnicianFields, {"TestButton(0)", "lblCalInstr"}),
                     {"cmdStartCal"}},
        StepControls{"Adjusting", app::DisplayForm::Step::Adjusting,
                     joined(kAdjustment, {"InstructionLabel"}),
                     joined(kTechnicianFields, {"lblCalInstr"})},
        StepControls{"CalibrationFinished",
                     app::DisplayForm::Step::CalibrationFinished,
                     {"cmdStartCal"},
                     joined(kAdjustment, {"TestButton(0)", "InstructionLabel"})}),
    [](const ::testing::TestParamInfo<StepControls>& row) { return std::string(row.param.name); });

// What the technician types or pastes into the technician and serial number fields: at most
// kOperatorFieldLength characters and no control character; the field says so when it refuses.
struct FieldInput {
  const char* name;
  QString input;
  QString kept;  // the field's text afterwards, starting from "Q"
  bool refused;
};

std::ostream& operator<<(std::ostream& out, const FieldInput& row) { return out << row.name; }

class OperatorFieldTest : public StationTest, public ::testing::WithParamInterface<FieldInput> {};

TEST_P(OperatorFieldTest, TakesBoundedTextAndSaysWhyItRefusesMore) {
  const FieldInput& row = GetParam();
  form->show();
  form->show_controls_for(app::DisplayForm::Step::SettingUp);
  const std::pair<QLineEdit*, const char*> fields[] = {
      {form->TestTechnicianName, "Technician Name"},
      {form->TopSerialNumber, "Top Assy S/N"},
      {form->SubSerialNumber, "Sub Assy S/N"}};
  for (const auto& [field, caption] : fields) {
    const QString limit = app::operator_field_limit_text(caption);
    EXPECT_EQ(limit, QString(caption) + " takes at most 64 characters and no control characters.");
    EXPECT_EQ(field->toolTip(), limit);
    field->setText("Q");
    field->setFocus();
    QToolTip::showText(field->mapToGlobal(QPoint(0, 0)), "before", field);
    field->insert(row.input);  // as typed or pasted
    EXPECT_EQ(field->text(), row.kept) << caption;
    EXPECT_EQ(QToolTip::text(), row.refused ? limit : QString("before")) << caption;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, OperatorFieldTest,
    ::testing::Values(
        FieldInput{"fits", QString(63, 'x'), "Q" + QString(63, 'x'), false},
        FieldInput{"one_too_many", QString(64, 'x'), "Q" + QString(63, 'x'), true},
        FieldInput{"serial_of_3000", QString(3000, '7'), "Q" + QString(63, '7'), true},
        FieldInput{"nul", QString("AB") + QChar(0) + "C", "Q", true},
        FieldInput{"line_end", "QB\r\n1", "Q", true}, FieldInput{"escape", "\x1b[2J", "Q", true},
        FieldInput{"delete", QString("A") + QChar(0x7F), "Q", true},
        FieldInput{"c1_control", QString("A") + QChar(0x85), "Q", true},
        FieldInput{"letters_beyond_ascii",
                   QString::fromUtf8("\xC3\x89mile \xC5\x81ukasz \xE2\x90\x80"),
                   QString::fromUtf8("Q\xC3\x89mile \xC5\x81ukasz \xE2\x90\x80"), false}),
    [](const ::testing::TestParamInfo<FieldInput>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace app_tests
