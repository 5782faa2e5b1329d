// What each functional test reports step by step, which memory it clears, and how it reacts to
// a unit that receives nothing, repeats a frame, or starts failing in the middle of a run.
#include <gtest/gtest.h>

#include "functional_fixture.h"

namespace functional_suite {
namespace {

using functional::TestId;
using sim::VisaFunction;
using Texts = std::vector<std::string>;

// Every command is rejected and every report opens a box, so the boxes list the step labels.
class StepLabelTest : public ConsoleTest {
 protected:
  Texts labels_of_one_pass(TestId test, std::uint64_t yields_per_pass) {
    station.driver.set_error_options(2);
    uut().set_query_reply("*STB?", "4");
    qcu().set_query_reply("*STB?", "4");
    pump.at_yield(yields_per_pass, [this] { console().cmdStop->click(); });
    console().button(test)->click();
    Texts labels;
    for (const auto& box : person.shown) {
      if (box.title == "Error") labels.push_back(box.text.substr(0, box.text.find('\n')));
    }
    return labels;
  }
};

TEST_F(StepLabelTest, RecNamesTheQcuAsTransmitterAndTheUutAsReceiver) {
  EXPECT_EQ(labels_of_one_pass(TestId::Rec, 4),
            (Texts{"Querying the UUT identity",
                   "Resetting the UUT",
                   "Resetting the QCU",
                   "Enable QCU Output 1",
                   "Enable QCU Output 2",
                   "Enable QCU Output 3",
                   "Enable QCU Output 4",
                   "time 10 of QCU",
                   "Enable Quor Bus Input 1",
                   "Initialize the Start and Stop comparators of UUT",
                   "Initialize the Start and Stop comparators of UUT",
                   "Initialize the Start and Stop comparators of QCU",
                   "Start receiver running of UUT",
                   "Wait till we are in the mode of UUT",
                   "Start transmitter running send the PING buffer of QCU",
                   "Wait till we are in the mode of QCU",
                   "Stop the receiver of UUT",
                   "Wait till we are in the mode of UUT",
                   "Stop the transmitter of QCU",
                   "Wait till we are in the mode of QCU"}));
}

TEST_F(StepLabelTest, UutTransmittingTestsCallTheReceiverQc) {
  EXPECT_EQ(labels_of_one_pass(TestId::Trndrecm, 4),
            (Texts{"Querying the UUT identity",
                   "Resetting the UUT",
                   "Resetting the QCU",
                   "Enable UUT Output 1",
                   "Enable UUT Output 2",
                   "Enable UUT Output 3",
                   "Enable UUT Output 4",
                   "time 10 of UUT",
                   "Enable Quor Bus Input 1",
                   "Initialize the Start and Stop comparators of QC",
                   "Initialize the Start and Stop comparators of QC",
                   "Initialize the Start and Stop comparators of UUT",
                   "Start receiver running of QC",
                   "Wait till we are in the mode of QC",
                   "Start transmitter running send the PING buffer of UUT",
                   "Wait till we are in the mode of UUT",
                   "Stop the receiver of QC",
                   "Wait till we are in the mode of QC",
                   "Stop the transmitter of UUT",
                   "Wait till we are in the mode of UUT"}));
}

TEST_F(StepLabelTest, SelfLongClearsPongByCommand) {
  const std::string comparators = "Initialize the Start and Stop comparators";
  EXPECT_EQ(
      labels_of_one_pass(TestId::SelfLong, 9),
      (Texts{"Querying the UUT identity", "Resetting the UUT", "Enable Quor Bus Output 1",
             "Enable Quor Bus Output 2", "Enable Quor Bus Output 3", "Enable Quor Bus Output 4",
             "Enable Quor Bus Output 5", "Enable Quor Bus Input 2", "Fill PONG RAM with Zeros",
             "Wait till we are done", comparators, comparators, comparators, "Start things running",
             "Wait till we are in the mode", "Stop the run", "Wait till we are back in IDLE"}));
}

TEST_F(StepLabelTest, SelfLoop2NamesTheProtectedInputInputOne) {
  const Texts labels = labels_of_one_pass(TestId::SelfLoop2, 1);
  ASSERT_GE(labels.size(), 8U);
  EXPECT_EQ(labels[7], "Enable Quor Bus Input 1");
  EXPECT_EQ(labels[8], "Initialize the Start and Stop comparators");
}

TEST_F(StepLabelTest, StampEndsEachPassWithTheStampQuery) {
  const Texts labels = labels_of_one_pass(TestId::Stamp, 20);
  ASSERT_EQ(labels.size(), 21U);
  EXPECT_EQ(labels[7], "time 1000 of QCU");
  EXPECT_EQ(labels[8], "Enable Quor Bus Input 1");
  EXPECT_EQ(labels[11], "Initialize the Start and Stop comparators of QCU");
  EXPECT_EQ(labels[14], "Start transmitter running send the PING buffer of QCU");
  EXPECT_EQ(labels[20], "trac:data? stamp of UUT");
}

// Which words each test clears before a pass: the receive area is preset with a marker once the
// first pass has cleared it, the receiver hears nothing, and every later pass clears it again.
struct ClearedArea {
  TestId test;
  bool uut_receives;
  std::uint32_t offset;
  std::uint32_t words;
};

class ClearedAreaTest : public ConsoleTest, public ::testing::WithParamInterface<ClearedArea> {};

TEST_P(ClearedAreaTest, ClearsExactlyItsReceiveArea) {
  const ClearedArea area = GetParam();
  sim::SimModule& receiver = area.uut_receives ? uut() : qcu();
  receiver.set_route_dead(sim::Route::Unpr);
  constexpr std::uint16_t kMarker = 0xAAAA;
  pump.at_yield(1, [&] {
    for (std::uint32_t i = 0; i < area.words + 8; ++i) {
      receiver.set_memory_word(area.offset + 2 * i, kMarker);
    }
  });
  console().button(area.test)->click();
  EXPECT_EQ(receiver.memory_word(area.offset), 0);
  EXPECT_EQ(receiver.memory_word(area.offset + 2 * (area.words - 1)), 0);
  EXPECT_EQ(receiver.memory_word(area.offset + 2 * area.words), kMarker);
}

INSTANTIATE_TEST_SUITE_P(EachTest, ClearedAreaTest,
                         ::testing::Values(ClearedArea{TestId::Rec, true, 0, 1026},
                                           ClearedArea{TestId::Rec, true, 0x100000, 1026},
                                           ClearedArea{TestId::RecM, true, 0, 3 * 1026},
                                           ClearedArea{TestId::Trnsrecm, false, 0, 3 * 1026},
                                           ClearedArea{TestId::Trnorecm, false, 0, 3 * 1026},
                                           ClearedArea{TestId::Trndrecm, false, 0, 66},
                                           ClearedArea{TestId::Trncrecm, false, 0, 4 * 1026},
                                           ClearedArea{TestId::SelfLoop, true, 0x100000, 1026},
                                           ClearedArea{TestId::Stamp, true, 0, 4 * 1026}));

class ReceiverFaultTest : public ConsoleTest {};

TEST_F(ReceiverFaultTest, RecWithNothingReceivedReportsBothBuffers) {
  uut().set_route_dead(sim::Route::Unpr);
  pump.at_yield(4, [this] { console().cmdStop->click(); });
  console().cmdRec->click();
  const std::string r = report();
  EXPECT_NE(r.find("\r\n\r\n\r\nMiscompare at 2 Expected 4 Got 0\r\n"), std::string::npos);
  EXPECT_NE(r.find("Got 0\r\n\r\nMiscompare at 100002 Expected 3 Got 0\r\n"), std::string::npos);
  EXPECT_NE(r.find("Miscompare at 100016 Expected 21 Got 0\r\n\r\n"), std::string::npos);
  EXPECT_EQ(label(), "Count: 1    Failures: 1");
}

TEST_F(ReceiverFaultTest, RecmWithNothingReceivedRunsAllFiftyPasses) {
  uut().set_route_dead(sim::Route::Unpr);
  console().cmdRecM->click();
  EXPECT_EQ(label(), "Count: 50    Failures: 50");
  EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}));
}

TEST_F(ReceiverFaultTest, TrnorecmWithNothingReceivedFailsOnlyItsFirstCompare) {
  qcu().set_route_dead(sim::Route::Unpr);
  pump.at_yield(2, [this] { console().cmdStop->click(); });
  console().cmdTrnorecm->click();
  const std::string r = report();
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = r.find("Miscompare at ", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 11U);
  EXPECT_NE(r.find("Miscompare at 2 Expected 1 Got 0\r\n"), std::string::npos);
}

// A receiver that, instead of storing frames, leaves marks at chosen words.
class MarkingReceiver final : public sim::Firmware {
 public:
  explicit MarkingReceiver(std::vector<std::uint32_t> offsets) : offsets_(std::move(offsets)) {}
  void on_mode_change(sim::SimModule& module, sim::Mode) override {
    if (module.mode() != sim::Mode::Recm) return;
    for (std::uint32_t offset : offsets_) module.set_memory_word(offset, 0x00EE);
  }

 private:
  std::vector<std::uint32_t> offsets_;
};

TEST_F(ReceiverFaultTest, TrnorecmChecksForZerosFromRightBehindTheFirstFrame) {
  // The zero checks start at 0x804 and 0x1006: marks there must be found.
  MarkingReceiver marks({0x804, 0x1006});
  qcu().set_firmware(&marks);
  pump.at_yield(2, [this] { console().cmdStop->click(); });
  console().cmdTrnorecm->click();
  EXPECT_NE(report().find("Miscompare at 804 Expected 0 Got EE\r\n\r\n"), std::string::npos);
  EXPECT_NE(report().find("Miscompare at 1006 Expected 0 Got EE\r\n\r\n"), std::string::npos);
  qcu().set_firmware(nullptr);
}

// Reads succeed for the first four passes' compares, then fail: the fifth failure is pass 9.
class LateFailureTest : public ConsoleTest {
 protected:
  void fail_from_pass_five(sim::SimModule& module) {
    module.fail_after(VisaFunction::In16, 4 * 3 * 1024, visa::VI_ERROR_BERR, 100'000'000);
  }
};

TEST_F(LateFailureTest, TrnsrecmShowsTheFifthFailureBeforeEnding) {
  fail_from_pass_five(qcu());
  console().cmdTrnsrecm->click();
  EXPECT_EQ(label(), "Count: 9    Failures: 5");
  EXPECT_EQ(results().TestProgressBar->value(), 8);
}

TEST_F(LateFailureTest, TrncrecmEndsBeforeShowingTheFifthFailure) {
  fail_from_pass_five(qcu());
  console().cmdTrncrecm->click();
  EXPECT_EQ(label(), "Count: 8    Failures: 4");
  EXPECT_EQ(results().TestProgressBar->value(), 8);
}

// Firmware for the UUT's self mode that copies PING into PONG with a chosen high byte, and may
// spoil a high byte of PING itself.
class HighByteLoop final : public sim::Firmware {
 public:
  HighByteLoop(std::uint16_t pong_high, bool spoil_ping)
      : pong_high_(pong_high), spoil_(spoil_ping) {}
  void on_mode_change(sim::SimModule& module, sim::Mode) override {
    if (module.mode() != sim::Mode::Self) return;
    std::vector<std::uint16_t>& words = module.memory_words();
    const std::size_t pong = 0x100000 / 2;
    for (std::size_t i = 0; i < pong; ++i) {
      words[pong + i] = static_cast<std::uint16_t>(pong_high_ | (words[i] & 0x00FF));
      if (i > 0 && words[i] == 0x0F00) break;
    }
    if (spoil_) words[1] = static_cast<std::uint16_t>(words[1] | 0x4000);
  }

 private:
  std::uint16_t pong_high_;
  bool spoil_;
};

TEST_F(ReceiverFaultTest, TheReceivedCopyIsJudgedOnItsLowBytesAndPingOnWholeWords) {
  HighByteLoop received_with_high_bytes(0x5500, false);
  uut().set_firmware(&received_with_high_bytes);
  pump.at_yield(3, [this] { console().cmdStop->click(); });
  console().cmdSelfLoop->click();
  EXPECT_EQ(label(), "Count: 3    Failures: 0");
  EXPECT_EQ(report().find("Miscompare"), std::string::npos);

  HighByteLoop ping_spoiled(0x0000, true);
  uut().set_firmware(&ping_spoiled);
  pump.at_yield(pump.yields() + 1, [this] { console().cmdStop->click(); });
  console().cmdSelfLoop->click();
  EXPECT_EQ(label(), "Count: 1    Failures: 1");
  EXPECT_NE(report().find("Miscompare at 2 Expected 1 Got 4001\r\n"), std::string::npos);
  uut().set_firmware(nullptr);
}

}  // namespace
}  // namespace functional_suite
