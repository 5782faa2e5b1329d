// The production test buttons: output amplitude instruction, self test and memory test.
#include <gtest/gtest.h>

#include <algorithm>

#include "production_fixture.h"

namespace production_tests {
namespace {

using procedures::kMemoryTestWords;
using sim::VisaFunction;
namespace text = procedures::production_text;

class ProductionButtonsTest : public ProductionTest {};

TEST_F(ProductionButtonsTest, OutputAmplitudeTestOnlyShowsTheInstruction) {
  const auto yields = pump.yields();
  form->TestButton[1]->click();
  ASSERT_EQ(person.texts().size(), 1U);
  EXPECT_EQ(person.texts()[0],
            "Run Self Loop and use an Oscope check each Output 1 to 4 should be 1.2Vpp, "
            "+/-10%.\r\nFor Output 5 (Amp) should be 2.3Vpp, +/-10%.");
  EXPECT_EQ(person.shown[0].title, "");
  EXPECT_EQ(chassis.total_calls(), 0U);
  // Pending window events run once after the action.
  EXPECT_EQ(pump.yields(), yields + 1);
}

TEST_F(ProductionButtonsTest, SelfTestPassesOnAZeroReply) {
  form->show();
  std::string instruction_while_asked;
  person.while_shown = [&](const std::string&) {
    instruction_while_asked = form->InstructionLabel->text().toStdString();
  };
  const auto resets = uut_module().reset_count();
  form->TestButton[3]->click();

  EXPECT_EQ(person.texts(), std::vector<std::string>{"Press OK when ready"});
  EXPECT_EQ(instruction_while_asked,
            "Selftest for Ardenvale QUOR board.\r\n"
            "Data is loaded into PING buffer and transmitted\r\n"
            "to PONG buffer using selftest mode.  All data is\r\n"
            "Data is loaded into PONG buffer and transmitted\r\n"
            "to PING buffer using selftest mode.  All data is\r\n"
            "verified by use of the TRAC:DATA:COMP? command.\r\n"
            "Type Control-C to terminate.\r\n"
            "\r\n"
            "No cable Connections required.");
  EXPECT_TRUE(form->InstructionLabel->isVisible());
  EXPECT_EQ(form->InstructionLabel->text(), "Self Test Passed");
  EXPECT_EQ(uut_module().reset_count(), resets + 1);
  EXPECT_EQ(uut_module().command_count("*TST?"), 1U);
  EXPECT_EQ(station.units.uut.self_test_result, 0);
  EXPECT_EQ(station.driver_state.last_visa_status, visa::VI_SUCCESS);
  EXPECT_EQ(station.driver_state.last_error_text, "No Error");
}

TEST_F(ProductionButtonsTest, SelfTestFailureShowsTheModulesResult) {
  uut_module().set_self_test_result(3);
  form->TestButton[3]->click();
  EXPECT_EQ(form->InstructionLabel->text(), "Self Test Failure:3");
  EXPECT_EQ(station.units.uut.self_test_result, 3);

  uut_module().set_query_reply("*TST?", "-12");
  form->TestButton[3]->click();
  EXPECT_EQ(form->InstructionLabel->text(), "Self Test Failure:-12");
}

TEST_F(ProductionButtonsTest, FailedSelfTestQueryIsAnnouncedAndItsStatusKept) {
  uut_module().set_self_test_result(5);
  // The reset's status-byte read passes; the *TST? reply read times out.
  uut_module().fail_after(VisaFunction::Read, 1, visa::VI_ERROR_TMO);
  form->TestButton[3]->click();
  EXPECT_EQ(person.texts(),
            (std::vector<std::string>{"Press OK when ready", "Visa error on *tst?"}));
  EXPECT_EQ(station.driver_state.last_visa_status, visa::VI_ERROR_TMO);
  // No reply was read: there is no result, and no result is no pass.
  EXPECT_EQ(station.units.uut.self_test_result, procedures::kNoSelfTestResult);
  EXPECT_EQ(form->InstructionLabel->text(), "Self Test Failure:-1");
}

// A reply that was read is the result, even when the status byte then reports an error: the
// error is announced, and the result decides the outcome line.
struct FlaggedSelfTestReply {
  const char* reply;
  std::int16_t result;
  const char* outcome;
};

void PrintTo(const FlaggedSelfTestReply& row, std::ostream* out) {
  *out << '"' << row.reply << '"';
}

class SelfTestWithErrorBitTest : public ProductionTest,
                                 public ::testing::WithParamInterface<FlaggedSelfTestReply> {};

TEST_P(SelfTestWithErrorBitTest, TheReplyReadIsTheResult) {
  uut_module().set_query_reply("*TST?", GetParam().reply);
  uut_module().set_query_reply("*STB?", "4");
  form->TestButton[3]->click();
  EXPECT_EQ(person.texts(),
            (std::vector<std::string>{"Press OK when ready", "Visa error on *tst?"}));
  EXPECT_EQ(station.driver_state.last_visa_status, driver::QUOR_ERROR_INSTRUMENT);
  EXPECT_EQ(station.units.uut.self_test_result, GetParam().result);
  EXPECT_EQ(form->InstructionLabel->text().toStdString(), GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(Replies, SelfTestWithErrorBitTest,
                         ::testing::Values(FlaggedSelfTestReply{"3", 3, "Self Test Failure:3"},
                                           FlaggedSelfTestReply{"0", 0, "Self Test Passed"},
                                           FlaggedSelfTestReply{"-7", -7, "Self Test Failure:-7"},
                                           FlaggedSelfTestReply{"70000", 32767,
                                                                "Self Test Failure:32767"}));

TEST_F(ProductionButtonsTest, AFailedStatusByteQueryAfterTheReplyKeepsTheResult) {
  uut_module().set_self_test_result(3);
  // The reset's status-byte read and the *TST? reply read pass; the status byte's read fails.
  uut_module().fail_after(VisaFunction::Read, 2, visa::VI_ERROR_TMO);
  form->TestButton[3]->click();
  EXPECT_EQ(station.driver_state.last_visa_status, visa::VI_ERROR_TMO);
  EXPECT_EQ(station.units.uut.self_test_result, 3);
  EXPECT_EQ(form->InstructionLabel->text(), "Self Test Failure:3");
}

TEST_F(ProductionButtonsTest, ASelfTestResultTooLargeForTheRecordStillFails) {
  uut_module().set_query_reply("*TST?", "40000");
  form->TestButton[3]->click();
  EXPECT_EQ(form->InstructionLabel->text(), "Self Test Failure:32767");
  uut_module().set_query_reply("*TST?", "-99999");
  form->TestButton[3]->click();
  EXPECT_EQ(form->InstructionLabel->text(), "Self Test Failure:-32768");
}

TEST_F(ProductionButtonsTest, FailedResetShowsInTheErrorReportAndTheSelfTestGoesOn) {
  uut_module().fail_next(VisaFunction::Write, visa::VI_ERROR_BERR);
  uut_module().set_self_test_result(2);
  form->TestButton[3]->click();
  const std::string shown = form->ErrorReportLabel->text().toStdString();
  EXPECT_EQ(shown.rfind("Resetting the UUT\n", 0), 0U) << shown;
  EXPECT_EQ(shown.size(), std::string("Resetting the UUT\n").size() + 255);
  EXPECT_EQ(form->InstructionLabel->text(), "Self Test Failure:2");
}

TEST_F(ProductionButtonsTest, MemoryTestMovesThreePatternsThroughBothBuffers) {
  form->show();
  form->TestButton[2]->click();
  EXPECT_EQ(form->InstructionLabel->text(), "Memory Test Passed");
  EXPECT_TRUE(form->InstructionLabel->isVisible());
  EXPECT_EQ(uut_module().reset_count(), 2U);  // the open's reset and the test's
  EXPECT_TRUE(person.shown.empty());

  ASSERT_EQ(library.block_writes.size(), 6U);
  EXPECT_EQ(chassis.call_count(VisaFunction::MoveIn16), 6U);
  for (std::size_t i = 0; i < 6; ++i) {
    const TamperingLibrary::BlockWrite& write = library.block_writes[i];
    EXPECT_EQ(write.space, visa::VI_A24_SPACE);
    EXPECT_EQ(write.offset, i % 2 == 0 ? 0U : 0x100000U);
    EXPECT_EQ(write.words.size(), kMemoryTestWords);
  }
  const std::vector<std::uint16_t> random = library.block_writes[0].words;
  EXPECT_EQ(library.block_writes[1].words, random);
  EXPECT_TRUE(std::all_of(random.begin(), random.end(), [](std::uint16_t w) { return w < 32768; }));
  // A uniform pattern reaches both ends of its range and is no constant.
  EXPECT_LT(*std::min_element(random.begin(), random.end()), 16);
  EXPECT_GT(*std::max_element(random.begin(), random.end()), 32752);
  for (std::size_t i : {2U, 3U}) {
    const auto& words = library.block_writes[i].words;
    EXPECT_TRUE(
        std::all_of(words.begin(), words.end(), [](std::uint16_t w) { return w == 0xFFFF; }));
  }
  // The zero pattern is left in both buffers.
  const auto& memory = uut_module().memory_words();
  EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](std::uint16_t w) { return w == 0; }));

  // The next run writes another random pattern.
  library.block_writes.clear();
  form->TestButton[2]->click();
  ASSERT_FALSE(library.block_writes.empty());
  EXPECT_NE(library.block_writes[0].words, random);
}

TEST_F(ProductionButtonsTest, MemoryThatFailsOnlyTheAllOnesPhaseFailsTheTest) {
  // One PONG cell that cannot hold bit 0 set while its neighbours hold ones.
  library.on_block_read = [](visa::ViBusAddress offset, visa::ViUInt16* words,
                             visa::ViBusSize count) {
    if (offset == 0x100000 && count > 1000 && words[999] == 0xFFFF && words[1000] == 0xFFFF) {
      words[1000] = 0xFFFE;
    }
  };
  form->TestButton[2]->click();
  EXPECT_EQ(form->InstructionLabel->text(), "Memory Test Failed");
  // Only data failed: no step error was reported.
  EXPECT_EQ(form->ErrorReportLabel->text(), "Error Report Label");
}

TEST_F(ProductionButtonsTest, StepErrorsShowAndTheTestStillWritesItsLine) {
  // A failed reset is reported; the memory itself is good.
  uut_module().fail_next(VisaFunction::Write, visa::VI_ERROR_BERR);
  form->TestButton[2]->click();
  EXPECT_EQ(form->ErrorReportLabel->text().toStdString().rfind("Resetting the UUT\n", 0), 0U);
  EXPECT_EQ(form->InstructionLabel->text(), "Memory Test Passed");
}

TEST_F(ProductionButtonsTest, FailedBlockTransfersAreReportedAndCountAsMiscompares) {
  uut_module().fail_next(VisaFunction::MoveOut16, visa::VI_ERROR_BERR);
  form->TestButton[2]->click();
  const std::string shown = form->ErrorReportLabel->text().toStdString();
  EXPECT_EQ(shown.rfind("Writing data to Quor Bus RAM\n", 0), 0U) << shown;
  EXPECT_EQ(form->InstructionLabel->text(), "Memory Test Failed");

  // A read that moves nothing fails the test, even when the host's read-back buffer still
  // holds the same pattern from the half before (the last PONG read of the zero phase).
  uut_module().fail_after(VisaFunction::MoveIn16, 5, visa::VI_ERROR_TMO);
  form->TestButton[2]->click();
  const std::string read_shown = form->ErrorReportLabel->text().toStdString();
  EXPECT_NE(read_shown.find("Reading data from Quor Bus RAM\n"), std::string::npos);
  EXPECT_EQ(form->InstructionLabel->text(), "Memory Test Failed");
}

TEST_F(ProductionButtonsTest, ErrorsOfOneRunAccumulateInItsErrorList) {
  uut_module().fail_next(VisaFunction::Write, visa::VI_ERROR_BERR);
  uut_module().fail_next(VisaFunction::MoveOut16, visa::VI_ERROR_BERR);
  form->TestButton[2]->click();
  const std::string shown = form->ErrorReportLabel->text().toStdString();
  const std::size_t write_report = shown.find("Writing data to Quor Bus RAM\n");
  EXPECT_EQ(shown.rfind("Resetting the UUT\n", 0), 0U);
  EXPECT_EQ(write_report, std::string("Resetting the UUT\n").size() + 255);

  // A new run starts a new list.
  uut_module().fail_next(VisaFunction::MoveIn16, visa::VI_ERROR_TMO);
  form->TestButton[2]->click();
  EXPECT_EQ(form->ErrorReportLabel->text().toStdString().rfind("Reading data", 0), 0U);
}

}  // namespace
}  // namespace production_tests
