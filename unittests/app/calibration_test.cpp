// The output calibration dialogue on the main window: set-up, the adjusting loop with Up, Down,
// Cal Complete and Abort, and the finishing step.
#include <gtest/gtest.h>

#include <algorithm>

#include "production_fixture.h"
#include "testing/comma_locale.h"

namespace production_tests {
namespace {

using sim::VisaFunction;

class CalibrationTest : public ProductionTest {
 protected:
  // How many times exactly `command` was written.
  std::size_t sent(const std::string& command) {
    const auto& log = uut_module().command_log();
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), command));
  }
  std::function<bool()> after_sent(const std::string& command) {
    return [this, command] { return sent(command) > 0; };
  }
  std::vector<QWidget*> adjusting_controls() {
    return {form->CalConstantLabel, form->CalConstant, form->CalUp, form->CalGood, form->CalDown};
  }
  std::vector<QWidget*> identity_controls() {
    return {form->TechNameLabel,      form->TopSNLabel,      form->SubSNLabel,
            form->TestTechnicianName, form->TopSerialNumber, form->SubSerialNumber,
            form->lblCalInstr};
  }
  void start() {
    form->show();
    form->cmdStartCal->setVisible(true);
    form->cmdStartCal->click();
  }
};

TEST_F(CalibrationTest, StartCalibrationShowsTheIdentityFieldsAndTheCalibrateButton) {
  start();
  for (QWidget* control : identity_controls()) {
    EXPECT_TRUE(control->isVisible()) << control->objectName().toStdString();
  }
  EXPECT_TRUE(form->TestButton[0]->isVisible());
  EXPECT_FALSE(form->cmdStartCal->isVisible());
  EXPECT_EQ(chassis.total_calls(), 0U);
}

TEST_F(CalibrationTest, SetUpCommandsThenOnePassPerYieldUntilCalComplete) {
  start();
  std::string instruction;
  std::vector<bool> adjusting_visible;
  pump.then([&] {
    instruction = form->InstructionLabel->text().toStdString();
    for (QWidget* control : adjusting_controls()) adjusting_visible.push_back(control->isVisible());
    for (QWidget* control : identity_controls()) EXPECT_FALSE(control->isVisible());
  });
  pump.then([] {});
  pump.then([&] { form->CalGood->click(); });
  const std::size_t before = uut_module().command_log().size();
  form->TestButton[0]->click();

  EXPECT_EQ(instruction,
            "Connect a BNC cable to Output 1.  Connect the BNC cable to the input of an O'Scope "
            "via a 50 Ohm Termination.  Using the Up and Down buttons, adjust the Calibration "
            "Constant until the Output reads 1.2vpp on the O'Scope display.  Press Cal Complete "
            "when done.");
  EXPECT_EQ(adjusting_visible, std::vector<bool>(5, true));

  // Every command is followed by the command core's status-byte query.
  const std::vector<std::string> commands = {
      "*STB?", "ROUT:OPEN AMPL", "ROUT:OPEN PROT", "*RST", "*CLS", "TRAC:DATA:CLR STAM", "CAL?",
      "MODE IDLE", "*STB?", "ROUT:OPEN OUT1", "ROUT:OPEN OUT2", "ROUT:OPEN OUT3", "ROUT:OPEN OUT4",
      "ROUT:OPEN AMPL", "ROUT:CLOS OUT1",
      // Two passes; the mode is configured without a command.
      "CAL 0 1", "VOLT 100", "COMM:TRAN:STOP 04", "TIM 00010", "*STB?", "*STB?", "*STB?", "*STB?",
      "CAL 0 1", "VOLT 100", "COMM:TRAN:STOP 04", "TIM 00010", "*STB?", "*STB?", "*STB?", "*STB?"};
  std::vector<std::string> expected;
  for (const std::string& command : commands) {
    expected.push_back(command);
    expected.push_back("*STB?");
  }
  const auto& log = uut_module().command_log();
  EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(before), log.end()),
            expected);

  // The finishing step.
  for (QWidget* control : adjusting_controls()) EXPECT_FALSE(control->isVisible());
  EXPECT_FALSE(form->TestButton[0]->isVisible());
  EXPECT_FALSE(form->InstructionLabel->isVisible());
  EXPECT_EQ(form->InstructionLabel->text(), "");
  EXPECT_TRUE(form->cmdStartCal->isVisible());
  EXPECT_EQ(form->CalConstant->text(), " 1");
  EXPECT_EQ(form->StatusByte->text().trimmed(), "0");
  EXPECT_EQ(station.driver_state.last_error_text, "No Error");
}

TEST_F(CalibrationTest, UpFiveTimesFromOneSendsTheSinglePrecisionSum) {
  start();
  pump.then([&] {
    for (int i = 0; i < 5; ++i) form->CalUp->click();
  });
  click_when(after_sent("CAL 0 1.5"), form->CalGood);
  form->TestButton[0]->click();
  EXPECT_EQ(sent("CAL 0 1"), 1U);
  EXPECT_EQ(sent("CAL 0 1.5"), 1U);
  EXPECT_FLOAT_EQ(static_cast<float>(uut_module().cal_constant()), 1.5F);
  EXPECT_EQ(form->CalConstant->text(), " 1.5");
}

TEST_F(CalibrationTest, TheModulesConstantIsReadAndSentWithItsPointInAnyLocale) {
  QUOR_IN_COMMA_LOCALE(locale);
  // The module holds 1.25 and answers CAL? with "1.250000".
  uut_module().write_command("CAL 0 +1.25");
  ASSERT_FLOAT_EQ(static_cast<float>(uut_module().cal_constant()), 1.25F);
  start();
  pump.then([&] { form->CalUp->click(); });
  click_when(after_sent("CAL 0 1.35"), form->CalGood);
  form->TestButton[0]->click();
  // The first pass writes back what the module holds; Up adds .1 to it.
  EXPECT_EQ(sent("CAL 0 1.25"), 1U);
  EXPECT_EQ(sent("CAL 0 1.35"), 1U);
  EXPECT_EQ(sent("CAL 0 1"), 0U);
  EXPECT_FLOAT_EQ(static_cast<float>(uut_module().cal_constant()), 1.35F);
}

TEST_F(CalibrationTest, ConstantsDownThroughZeroKeepTheSignPosition) {
  uut_module().set_query_reply("CAL?", "0.000000");
  start();
  click_in_turn({{after_sent("CAL 0 0"), form->CalDown},
                 {after_sent("CAL 0-.1"), form->CalDown},
                 {after_sent("CAL 0-.2"), form->CalDown},
                 {after_sent("CAL 0-.3"), form->CalGood}});
  form->TestButton[0]->click();
  EXPECT_EQ(sent("CAL 0 0"), 1U);
  EXPECT_EQ(sent("CAL 0-.1"), 1U);
  EXPECT_EQ(sent("CAL 0-.2"), 1U);
  EXPECT_EQ(sent("CAL 0-.3"), 1U);
  EXPECT_DOUBLE_EQ(uut_module().cal_constant(), -0.3);
  EXPECT_TRUE(uut_module().error_queue().empty());

  // Down from 1 three times shows the single-precision rounding.
  uut_module().set_query_reply("CAL?", "1.000000");
  pump.then([&] {
    for (int i = 0; i < 3; ++i) form->CalDown->click();
  });
  click_when(after_sent("CAL 0 .6999999"), form->CalGood);
  form->TestButton[0]->click();
  EXPECT_EQ(sent("CAL 0 .6999999"), 1U);
}

TEST_F(CalibrationTest, ReplyThatIsNoNumberKeepsThePreviousConstant) {
  production->calibration().constant = 2.5F;
  uut_module().set_query_reply("CAL?", "NOT SET");
  start();
  click_when(after_sent("CAL 0 2.5"), form->CalGood);
  form->TestButton[0]->click();
  EXPECT_EQ(sent("CAL 0 2.5"), 1U);

  // Only the first eight characters count: "-1.25000" of "-1.2500099".
  uut_module().set_query_reply("CAL?", "-1.2500099");
  click_when(after_sent("CAL 0-1.25"), form->CalGood);
  form->TestButton[0]->click();
  EXPECT_EQ(sent("CAL 0-1.25"), 1U);
}

TEST_F(CalibrationTest, CalCompleteBeforeTheWaitIsSetIsOverwritten) {
  station.driver.set_error_options(2);
  // The "ROUT:OPEN AMPL" of set-up step 2 fails; its error box is open when Cal Complete is hit.
  uut_module().fail_after(VisaFunction::Write, 2, visa::VI_ERROR_BERR);
  person.while_shown = [&](const std::string&) { form->CalGood->click(); };
  start();
  click_when(after_sent("CAL 0 1"), form->CalGood);
  form->TestButton[0]->click();

  ASSERT_FALSE(person.shown.empty());
  EXPECT_EQ(person.shown[0].title, "Error");
  EXPECT_EQ(person.shown[0].text.rfind("Disabling the Amplified Output\n", 0), 0U);
  // The loop still ran a pass before Cal Complete ended it.
  EXPECT_EQ(sent("CAL 0 1"), 1U);
  EXPECT_TRUE(form->cmdStartCal->isVisible());
  EXPECT_EQ(
      form->ErrorReportLabel->text().toStdString().rfind("Disabling the Amplified Output\n", 0),
      0U);
}

TEST_F(CalibrationTest, AbortLeavesTheControlsAndLaterRunsMakeOnePass) {
  start();
  click_when(after_sent("CAL 0 1"), form->Abort);
  form->TestButton[0]->click();
  EXPECT_EQ(sent("CAL 0 1"), 1U);
  for (QWidget* control : adjusting_controls()) EXPECT_TRUE(control->isVisible());
  EXPECT_TRUE(form->TestButton[0]->isVisible());
  EXPECT_TRUE(form->InstructionLabel->isVisible());
  EXPECT_FALSE(form->cmdStartCal->isVisible());

  // Up still works; the next run reads the module's constant again, makes one pass and returns.
  form->CalUp->click();
  EXPECT_FLOAT_EQ(production->calibration().constant, 1.1F);
  form->TestButton[0]->click();
  EXPECT_EQ(sent("CAL 0 1"), 2U);
  EXPECT_EQ(sent("CAL 0 1.1"), 0U);
  EXPECT_TRUE(form->CalGood->isVisible());
}

TEST_F(CalibrationTest, FailedStepsAreListedAndTheLoopGoesOn) {
  start();
  // Every CAL? read fails: the step is reported and the constant stays as it was.
  production->calibration().constant = 0.9F;
  uut_module().fail_after(VisaFunction::Read, 7, visa::VI_ERROR_TMO);
  click_when(after_sent("CAL 0 .9"), form->CalGood);
  form->TestButton[0]->click();
  const std::string shown = form->ErrorReportLabel->text().toStdString();
  EXPECT_EQ(shown.rfind("Querying CAL constants\n", 0), 0U) << shown;
  EXPECT_EQ(sent("CAL 0 .9"), 1U);
  EXPECT_TRUE(form->cmdStartCal->isVisible());
}

}  // namespace
}  // namespace production_tests
