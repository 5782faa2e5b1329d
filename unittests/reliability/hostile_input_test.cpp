// Hostile input, one table: replies that are empty, 1000 bytes long without a line end, full of
// NUL bytes or of bytes 0x80 to 0xFF, numbers beyond 32 bits, negative numbers where a count is
// expected; and the technician's answers to Load Non-Vol that are empty, huge or no number. Each
// gets the station's own handling or a clear message, and 8-bit reply bytes show as the Latin-1
// characters they are.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <ostream>
#include <string>

#include "app/module_text.h"
#include "app/qt_operator.h"
#include "procedures/non_vol_load.h"
#include "reliability_bench.h"

namespace reliability {
namespace {

std::string high_bytes() {
  std::string text;
  for (int c = 0x80; c <= 0xFF; ++c) text += static_cast<char>(c);
  return text;
}

const std::string kNuls(64, '\0');
const std::string kLong(1000, '7');
const std::string kHigh = high_bytes();

enum class Run { SelfTest, Calibration, FunctionalRec, NonVol, MemoryTestStepError };

struct HostileCase;
void PrintTo(const HostileCase& c, std::ostream* out);

struct HostileCase {
  const char* name;
  Run run;
  const char* command;  // the command whose reply is replaced; none for technician input
  std::string input;    // the reply, or the technician's answer
  std::function<void(Bench&)> check;
};

// The verdict the run left, as its facts keep it.
std::string instruction(Bench& b) { return b.station.run.verdict; }
QString constant(Bench& b) { return b.windows->form().CalConstant->text(); }

void self_test_shows(Bench& b, const char* text) { EXPECT_EQ(instruction(b), text); }

void calibrate_one_pass(Bench& b) {
  app::DisplayForm& form = b.windows->form();
  form.cmdStartCal->click();
  b.complete_calibration_after(1);
  form.TestButton[0]->click();
}

void non_vol_ends_with(Bench& b, const char* error) {
  const auto texts = b.person.texts();
  ASSERT_EQ(texts.size(), 3U);
  EXPECT_EQ(texts[1], error);
  EXPECT_EQ(texts[2], procedures::non_vol_text::kShutDown);
  EXPECT_EQ(b.program_ends, 1);
  EXPECT_EQ(b.chassis.total_calls(), 0U);
}

std::vector<HostileCase> cases() {
  return {
      // The self-test result is the reply's leading number; a reply without one is no result
      // (-1, as a missing reply), never a pass.
      {"SelfTestEmptyReply", Run::SelfTest, "*TST?", "",
       [](Bench& b) { self_test_shows(b, "Self Test Failure:-1"); }},
      {"SelfTestLongReplyWithoutLineEnd", Run::SelfTest, "*TST?", kLong,
       [](Bench& b) {
         self_test_shows(b, "Self Test Failure:32767");
         // The reply filled the driver's whole buffer: the read says so, and it is kept.
         EXPECT_EQ(b.station.driver_state.last_visa_status, visa::VI_SUCCESS_MAX_CNT);
         EXPECT_EQ(b.person.texts().back(), "Visa error on *tst?");
       }},
      {"SelfTestNulBytes", Run::SelfTest, "*TST?", kNuls,
       [](Bench& b) { self_test_shows(b, "Self Test Failure:-1"); }},
      {"SelfTestHighBytes", Run::SelfTest, "*TST?", kHigh,
       [](Bench& b) { self_test_shows(b, "Self Test Failure:-1"); }},
      {"SelfTestBeyond32Bits", Run::SelfTest, "*TST?", "99999999999\n",
       [](Bench& b) { self_test_shows(b, "Self Test Failure:32767"); }},
      {"SelfTestBeyondDoubleRange", Run::SelfTest, "*TST?", "1E400\n",
       [](Bench& b) { self_test_shows(b, "Self Test Failure:32767"); }},
      {"SelfTestNegativeBeyondDoubleRange", Run::SelfTest, "*TST?", "-1E400\n",
       [](Bench& b) { self_test_shows(b, "Self Test Failure:-32768"); }},
      {"SelfTestNegative", Run::SelfTest, "*TST?", "-5\n",
       [](Bench& b) { self_test_shows(b, "Self Test Failure:-5"); }},
      {"SelfTestBeyond32BitsNegative", Run::SelfTest, "*TST?", "-99999999999\n",
       [](Bench& b) { self_test_shows(b, "Self Test Failure:-32768"); }},
      // The constant is the leading number of the reply's first eight characters; a reply
      // without one keeps the constant (0 at first).
      {"CalEmptyReply", Run::Calibration, "CAL?", "",
       [](Bench& b) { EXPECT_EQ(constant(b), " 0"); }},
      {"CalLongReplyWithoutLineEnd", Run::Calibration, "CAL?", std::string(1000, '1'),
       [](Bench& b) {
         EXPECT_EQ(constant(b), " 1.111111E+07");
         const QString shown = b.windows->form().ErrorReportLabel->text();
         EXPECT_TRUE(shown.startsWith("Querying CAL constants\n")) << shown.toStdString();
       }},
      {"CalNulBytes", Run::Calibration, "CAL?", kNuls,
       [](Bench& b) { EXPECT_EQ(constant(b), " 0"); }},
      {"CalHighBytes", Run::Calibration, "CAL?", kHigh,
       [](Bench& b) { EXPECT_EQ(constant(b), " 0"); }},
      {"CalBeyond32Bits", Run::Calibration, "CAL?", "99999999999\n",
       [](Bench& b) { EXPECT_EQ(constant(b), " 1E+08"); }},
      {"CalBeyondSinglePrecision", Run::Calibration, "CAL?", "9E99\n",
       [](Bench& b) { EXPECT_EQ(constant(b), " 0"); }},
      {"CalNegative", Run::Calibration, "CAL?", "-1.5\n",
       [](Bench& b) { EXPECT_EQ(constant(b), "-1.5"); }},
      // The status byte's caption shows the reply's 8-bit characters.
      {"StatusByteHighBytes", Run::Calibration, "*STB?", kHigh,
       [](Bench& b) {
         const QString shown = b.windows->form().StatusByte->text();
         EXPECT_TRUE(shown.startsWith(app::module_text(kHigh))) << shown.toStdString();
       }},
      // The identity reply heads the functional test's report, in Latin-1.
      {"IdentityHighBytes", Run::FunctionalRec, "*idn?",
       "Qu\xE9"
       "bec \xB5"
       "Bus\n",
       [](Bench& b) {
         const QString shown = b.windows->test_console().results().txtFail->toPlainText();
         EXPECT_TRUE(shown.contains(QString::fromUtf8("Qu\u00E9bec \u00B5Bus")))
             << shown.toStdString();
         EXPECT_FALSE(shown.contains(QChar(0xFFFD)));
       }},
      {"IdentityEmpty", Run::FunctionalRec, "*idn?", "",
       [](Bench& b) {
         const std::string report = b.windows->test_console().results().report_text();
         EXPECT_NE(report.find("Quor Bus--Rec Test"), std::string::npos);
       }},
      {"IdentityNulBytes", Run::FunctionalRec, "*idn?", kNuls,
       [](Bench& b) {
         EXPECT_NE(b.windows->test_console().results().report_text().find(kNuls),
                   std::string::npos);
       }},
      // A step error's text from the module's error queue shows in the error report in Latin-1.
      {"ErrorQueueHighBytes", Run::MemoryTestStepError, "SYST:ERR?", "-350,\"Qu\xE9ue \xBF\"\n",
       [](Bench& b) {
         const QString shown = b.windows->form().ErrorReportLabel->text();
         EXPECT_TRUE(shown.startsWith("Resetting the UUT\n")) << shown.toStdString();
         EXPECT_TRUE(shown.contains(QString::fromUtf8("Qu\u00E9ue \u00BF"))) << shown.toStdString();
       }},
      // The technician's answer to Load Non-Vol.
      {"NonVolEmptyAnswer", Run::NonVol, nullptr, "",
       [](Bench& b) { non_vol_ends_with(b, procedures::non_vol_text::kTypeMismatch); }},
      {"NonVolHugeNumber", Run::NonVol, nullptr, std::string(100000, '9'),
       [](Bench& b) { non_vol_ends_with(b, procedures::non_vol_text::kOverflow); }},
      {"NonVolHugeText", Run::NonVol, nullptr, std::string(100000, 'x'),
       [](Bench& b) { non_vol_ends_with(b, procedures::non_vol_text::kTypeMismatch); }},
      {"NonVolNotANumber", Run::NonVol, nullptr, "eight",
       [](Bench& b) { non_vol_ends_with(b, procedures::non_vol_text::kTypeMismatch); }},
      {"NonVolHighBytes", Run::NonVol, nullptr, kHigh,
       [](Bench& b) { non_vol_ends_with(b, procedures::non_vol_text::kTypeMismatch); }},
      {"NonVolNulBytes", Run::NonVol, nullptr, kNuls,
       [](Bench& b) { non_vol_ends_with(b, procedures::non_vol_text::kTypeMismatch); }},
      {"NonVolBeyond32Bits", Run::NonVol, nullptr, "4294967297",
       [](Bench& b) { non_vol_ends_with(b, procedures::non_vol_text::kOverflow); }},
      {"NonVolBlanksAroundANumber", Run::NonVol, nullptr, "  24  ",
       [](Bench& b) {
         EXPECT_EQ(b.person.texts().back(), procedures::non_vol_text::kLoaded);
         EXPECT_EQ(b.chassis.module_at(24)->command_log().size(), 4U);
       }},
  };
}

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

class HostileInputTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileInputTest, GetsTheStationsHandlingAndNothingBreaks) {
  const HostileCase& c = GetParam();
  Bench b;
  if (c.command != nullptr) b.replies.answer(c.command, c.input);
  switch (c.run) {
    case Run::SelfTest:
      b.open_units();
      b.windows->form().TestButton[3]->click();
      break;
    case Run::Calibration:
      b.open_units();
      calibrate_one_pass(b);
      break;
    case Run::FunctionalRec: {
      b.open_units();
      procedures::BusTests& tests = *b.windows->test_console().bus_tests();
      procedures::TestPlan plan = tests.plan_for(core::ProcedureKind::rec);
      plan.passes = 1;
      tests.run(plan);
      break;
    }
    case Run::MemoryTestStepError:
      b.open_units();
      // An error waits in the module's queue, so the reset's status byte has the error bit set
      // and the queue is read.
      b.chassis.viWrite(b.station.units.uut.session,
                        reinterpret_cast<const unsigned char*>("NO:SUCH:COMMAND"), 15,
                        &b.station.driver_state.returned_count);
      b.windows->form().TestButton[2]->click();
      break;
    case Run::NonVol:
      b.person.answers.push_back(c.input);
      b.windows->form().mnuNonVol->trigger();
      break;
  }
  c.check(b);
  b.shut_down();
  EXPECT_EQ(b.chassis.open_session_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInputTest, ::testing::ValuesIn(cases()),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ModuleText, EveryByteIsItsLatin1Character) {
  const QString shown = app::module_text(kHigh);
  ASSERT_EQ(shown.size(), 128);
  for (int i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i].unicode(), 0x80 + i);
  EXPECT_EQ(app::module_text(std::string("a\0b", 3)).size(), 3);
}

// The message box the station shows a driver error in carries the module's characters.
TEST(ModuleText, MessageBoxesShowLatin1) {
  app::QtOperator person;
  QString shown;
  QTimer::singleShot(0, [&shown] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    shown = box->text();
    box->accept();
  });
  person.message("Reading\n-350,\"Qu\xE9ue\"", "Error");
  EXPECT_EQ(shown, QString::fromUtf8("Reading\n-350,\"Qu\u00E9ue\""));
}

}  // namespace
}  // namespace reliability
