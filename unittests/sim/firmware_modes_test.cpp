// The module firmware driven through the station's own pass sequences on a standard bench:
// what each mode leaves in the receiver's memory, and what each injected fault changes.
#include <algorithm>
#include <vector>

#include "station_sequences.h"

namespace sim {
namespace {

using namespace visa;
using testing::kPong;
using testing::kRec;
using testing::kRecm;
using testing::kStamp;
using testing::kStart;
using testing::kStop14;
using testing::kStop15;
using testing::kTrnc;
using testing::kTrnd;
using testing::kTrno;
using testing::kTrns;
using testing::StationBench;

using HealthyBench = StationBench;

// --- Receive modes, the QCU transmitting in trnd ---

TEST_F(HealthyBench, RecAlternatesPingAndPongSoTheThirdFrameOverwritesTheFirst) {
  two_unit_setup(qcu, uut);
  for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(run_pass(kRec), 0) << "pass " << pass;
  // The stored frames keep their start and stop words.
  EXPECT_EQ(uut_module->memory_word(0), kStart);
  EXPECT_EQ(uut_module->memory_word(2), 4);
  EXPECT_EQ(uut_module->memory_word(2 * 1025), kStop14);
  EXPECT_EQ(uut_module->memory_word(kPong + 2), 3);
  EXPECT_EQ(uut_module->memory_word(kPong + 2 * 1025), kStop14);
  EXPECT_EQ(qcu_module->next_buffer_write_count(), 6U);
}

TEST_F(HealthyBench, RecmStoresFramesBackToBackEachTakingItsLengthPlusTwo) {
  two_unit_setup(qcu, uut);
  EXPECT_EQ(run_pass(kRecm), 0);
  EXPECT_EQ(run_pass(kRecm), 0) << "a second pass starts storing at 0 again";
  const std::uint32_t l = 1024;
  EXPECT_EQ(uut_module->memory_word(2 * (l + 2)), kStart);
  EXPECT_EQ(uut_module->memory_word(4 * (l + 2) - 2), kStop14);
  EXPECT_EQ(uut_module->memory_word(4 * (l + 2)), kStart);
  EXPECT_EQ(uut_module->memory_word(6 * (l + 2)), 0) << "three frames, nothing after";
}

// --- Transmit modes of the UUT, the QCU receiving in recm ---

TEST_F(HealthyBench, TrnsSendsPingThenPongEveryTimerInterval) {
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrns), 0);
  // "tim 10" is 1 ms: 500 ms bring 500 PONG frames after the PING frame (and one at the end).
  const std::size_t frame_words = 1026;
  std::size_t frames = 0;
  while (qcu_module->memory_word(static_cast<std::uint32_t>(2 * frames * frame_words)) == kStart) {
    ++frames;
  }
  EXPECT_EQ(frames, 501U);
  EXPECT_EQ(run_pass(kTrns), 0);
}

TEST_F(HealthyBench, TrnoSendsPingOnceAndLeavesTheRestZero) {
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrno), 0);
  EXPECT_EQ(qcu_module->memory_word(2 * 1026), 0);
  EXPECT_EQ(run_pass(kTrno), 0);
}

TEST_F(HealthyBench, TrndSendsTheOtherBufferAfterEachSignal) {
  two_unit_setup(uut, qcu);
  for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(run_pass(kTrnd), 0) << "pass " << pass;
  // 18-word frames: stop words at 0x22, 0x46, 0x6A; nothing after the third.
  EXPECT_EQ(qcu_module->memory_word(0x22), kStop14);
  EXPECT_EQ(qcu_module->memory_word(0x6A), kStop14);
  EXPECT_EQ(qcu_module->memory_word(0x6C), 0);
}

TEST_F(HealthyBench, TrncSendsThePingChainThenPongAndRepeats) {
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrnc), 0);
  // The chain repeats: frame 4 is PING frame 1 again, frame 6 the PONG frame.
  EXPECT_EQ(compare(qcu, 3 * 2052 + 2, 1, 1, 1024), 0);
  EXPECT_EQ(compare(qcu, 5 * 2052 + 2, 3, 3, 1024), 0);
  EXPECT_EQ(run_pass(kTrnc), 0);
}

TEST_F(HealthyBench, TheSameBenchRunsEveryTwoUnitTestInTurn) {
  // One chassis, as on the station: each test resets both units first, so nothing a test
  // leaves behind reaches the next.
  two_unit_setup(qcu, uut);
  EXPECT_EQ(run_pass(kRecm), 0);
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrnc), 0);
  setup(kStamp);
  EXPECT_EQ(run_pass(kStamp), 0);
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrnc), 0);
  two_unit_setup(qcu, uut);
  EXPECT_EQ(run_pass(kRec), 0);
}

// --- Self loops ---

TEST_F(HealthyBench, SelfLoopCopiesPingIntoPongOverInputOne) {
  self_setup("rout:clos unpr");
  for (int pass = 1; pass <= 3; ++pass) {
    const auto result = self_pass(pass);
    EXPECT_EQ(result.ping, 0) << "pass " << pass;
    EXPECT_EQ(result.pong, 0) << "pass " << pass;
  }
  EXPECT_EQ(uut_module->memory_word(kPong), kStart);
  EXPECT_EQ(uut_module->memory_word(kPong + 2 * 1025), kStop15);
}

TEST_F(HealthyBench, SelfLoop2UsesInputTwo) {
  self_setup("rout:clos PROT");
  const auto result = self_pass(7);
  EXPECT_EQ(result.ping + result.pong, 0);
  EXPECT_EQ(uut_module->memory_word(kPong + 2), 7);
}

TEST_F(HealthyBench, SelfLongFillsPingToTheEndAndCopiesIt) {
  self_setup("rout:clos unpr");
  const auto result = self_pass(1, 524280, true);
  EXPECT_EQ(result.ping, 0);
  EXPECT_EQ(result.pong, 0);
  EXPECT_EQ(uut_module->memory_word(0xFFFF2), kStop15);
  EXPECT_EQ(uut_module->memory_word(kPong + 0xFFFF2), kStop15);
}

// --- Time stamps ---

TEST_F(HealthyBench, StampIntervalsAreTenThousandCountsAtTim1000) {
  setup(kStamp);
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(run_pass(kStamp), 0) << "pass " << pass;
    for (const long delta : stamp_intervals()) {
      EXPECT_GE(delta, 10000);
      EXPECT_LE(delta, 10002);
    }
  }
  // The frames arrive 100 ms apart, so the counter (10 us a count) wraps during the run.
  EXPECT_EQ(uut_module->stamp_count(), kStampCount);
  const auto& raw = uut_module->stamps();
  EXPECT_TRUE(std::adjacent_find(raw.begin(), raw.end(), std::greater<>()) != raw.end())
      << "the 16-bit counter wraps within ten frames";
}

// --- Faults, each caught by the test that exists for it ---

using FaultyBench = StationBench;

TEST_F(FaultyBench, DeadInputOneFailsRecAndSelfLoopButNotSelfLoop2) {
  uut_module->set_route_dead(Route::Unpr);
  two_unit_setup(qcu, uut);
  // Nothing received: both buffers stay zero, which only the 4 + 4 zero-valued words of the
  // patterns (4, 3) and (3, 3) match.
  EXPECT_EQ(run_pass(kRec), 2 * 1024 - 8);
  EXPECT_EQ(uut_module->memory_word(kPong + 2), 0);
  self_setup("rout:clos unpr");
  const auto loop = self_pass(1);
  EXPECT_EQ(loop.ping, 0) << "the transmit buffer is untouched";
  EXPECT_GT(loop.pong, 1000);
  self_setup("rout:clos PROT");
  EXPECT_EQ(self_pass(1).pong, 0);
}

TEST_F(FaultyBench, DeadInputTwoFailsSelfLoop2Only) {
  uut_module->set_route_dead(Route::Prot);
  self_setup("rout:clos PROT");
  EXPECT_GT(self_pass(1).pong, 1000);
  self_setup("rout:clos unpr");
  EXPECT_EQ(self_pass(1).pong, 0);
}

TEST_F(FaultyBench, CutCableFailsRecmOnly) {
  ASSERT_TRUE(bench.chassis.cut_cable(Cable{24, Route::Out1, 8, Route::Unpr}));
  EXPECT_FALSE(bench.chassis.cut_cable(Cable{24, Route::Out1, 8, Route::Unpr}));
  two_unit_setup(qcu, uut);
  // Only the zero-valued words of (1, 1), (3, 3) and (4, 4) agree with the empty buffer: 4, 4, 16.
  EXPECT_EQ(run_pass(kRecm), 3 * 1024 - 24);
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrnc), 0) << "the other direction has its own cable";
  bench.chassis.connect_cable(Cable{24, Route::Out2, 8, Route::Unpr});
  two_unit_setup(qcu, uut);
  EXPECT_EQ(run_pass(kRecm), 0) << "any closed QCU output will do";
}

TEST_F(FaultyBench, DeadOutputOneFailsTheUutTransmitTests) {
  uut_module->set_route_dead(Route::Out1);
  two_unit_setup(uut, qcu);
  EXPECT_GT(run_pass(kTrns), 0);
  EXPECT_GT(run_pass(kTrnd), 0);
  EXPECT_EQ(qcu_module->memory_word(0), 0) << "the QCU received nothing";
  self_setup("rout:clos unpr");
  EXPECT_EQ(self_pass(1).pong, 0) << "the self loop uses output 2";
  uut_module->set_route_dead(Route::Out2);
  EXPECT_GT(self_pass(1).pong, 0);
}

TEST_F(FaultyBench, StuckReceiveBitCorruptsEveryStoredDataWord) {
  uut_module->set_receive_data_fault(DataBitFault{.stuck_high = 0x80});
  two_unit_setup(qcu, uut);
  EXPECT_GT(run_pass(kRecm), 0);
  EXPECT_EQ(uut_module->memory_word(0), kStart) << "markers are not data";
  EXPECT_EQ(uut_module->memory_word(2), 0x81) << "data 0x01 with bit 7 stuck at 1";
  EXPECT_EQ(uut_module->memory_word(2 * 1025), kStop14);
  // The self loop sees it in the received copy only.
  self_setup("rout:clos unpr");
  const auto loop = self_pass(1);
  EXPECT_EQ(loop.ping, 0);
  EXPECT_EQ(loop.pong, 512) << "the words whose data has bit 7 clear";
  // The UUT transmitting is unaffected.
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrnc), 0);
}

TEST_F(FaultyBench, FlippedTransmitBitFailsTheUutTransmitTestsAndTheSelfLoop) {
  uut_module->set_transmit_data_fault(DataBitFault{.flipped = 0x01});
  two_unit_setup(uut, qcu);
  EXPECT_GT(run_pass(kTrnc), 0);
  EXPECT_EQ(qcu_module->memory_word(2), 0x00) << "data 1 with bit 0 flipped";
  EXPECT_EQ(qcu_module->memory_word(4), 0x03);
  self_setup("rout:clos unpr");
  const auto loop = self_pass(1);
  EXPECT_EQ(loop.ping, 0) << "the buffer keeps what the host wrote";
  EXPECT_EQ(loop.pong, 1024);
  // Receiving is unaffected.
  two_unit_setup(qcu, uut);
  EXPECT_EQ(run_pass(kRec), 0);
}

TEST_F(FaultyBench, StuckLowDataBitInTheSelfLoopShowsInOneWordOfTwo) {
  uut_module->set_receive_data_fault(DataBitFault{.stuck_low = 0x01});
  self_setup("rout:clos unpr");
  EXPECT_EQ(self_pass(1).pong, 512);
  EXPECT_EQ(uut_module->memory_word(kPong + 2), 0x00);
  EXPECT_EQ(uut_module->memory_word(kPong + 4), 0x02);
}

TEST_F(FaultyBench, RepeatedFrameFailsTrnoOnTheZeroChecks) {
  uut_module->set_repeated_frames(1);
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrno), 1024 - 4) << "the copy of (1, 1) where zeros belong (4 data are 0)";
  EXPECT_EQ(qcu_module->memory_word(0x804), kStart);
  EXPECT_EQ(qcu_module->memory_word(0x806), 0x01);
  EXPECT_EQ(qcu_module->memory_word(0x1008), 0) << "one extra copy only";
  uut_module->set_repeated_frames(0);
  EXPECT_EQ(run_pass(kTrno), 0);
}

TEST_F(FaultyBench, StampSkewPutsOneIntervalOffByTheChosenAmount) {
  uut_module->set_stamp_skew(4, 7);
  setup(kStamp);
  EXPECT_EQ(run_pass(kStamp), 0) << "the data are fine";
  const std::vector<long> deltas = stamp_intervals();
  ASSERT_EQ(deltas.size(), 9U);
  for (std::size_t j = 0; j < deltas.size(); ++j) {
    EXPECT_EQ(deltas[j], j == 3 ? 10007 : 10000) << "interval " << j + 1;
  }
  uut_module->set_stamp_skew(9, -2);
  EXPECT_EQ(run_pass(kStamp), 0);
  EXPECT_EQ(stamp_intervals()[8], 9998);
}

TEST_F(FaultyBench, StuckMemoryBitFailsTheBlockMemoryTest) {
  // Bit 15 of 16 words in PONG stuck at 0: only the all-ones phase can see it.
  uut_module->set_memory_fault(MemoryFault{kPong + 0x200, 32, 0, 0x8000});
  const std::size_t words = kMemoryBytes / 4;
  std::vector<ViUInt16> pattern(words);
  std::vector<ViUInt16> back(words);
  const auto phase = [&](ViBusAddress offset) {
    EXPECT_EQ(bench.visa().viMoveOut16(uut, VI_A24_SPACE, offset, words, pattern.data()),
              VI_SUCCESS);
    EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A24_SPACE, offset, words, back.data()), VI_SUCCESS);
    std::size_t bad = 0;
    for (std::size_t i = 0; i < words; ++i) bad += pattern[i] != back[i] ? 1 : 0;
    return bad;
  };
  for (std::size_t i = 0; i < words; ++i) pattern[i] = static_cast<ViUInt16>((i * 7919) & 0x7FFF);
  EXPECT_EQ(phase(0) + phase(kPong), 0U);
  std::fill(pattern.begin(), pattern.end(), 0xFFFF);
  EXPECT_EQ(phase(0), 0U);
  EXPECT_EQ(phase(kPong), 16U);
  EXPECT_EQ(back[0x100], 0x7FFF);
  // Single writes and the firmware's own stores hit the same cells.
  out16(uut, kPong + 0x200, 0xFFFF);
  EXPECT_EQ(in16(uut, kPong + 0x200), 0x7FFF);
  // A stuck-at-1 bit shows in the zero phase.
  uut_module->set_memory_fault(MemoryFault{0, 2, 0x0004, 0});
  std::fill(pattern.begin(), pattern.end(), 0);
  EXPECT_EQ(phase(0), 1U);
  uut_module->clear_faults();
  EXPECT_EQ(phase(0), 0U);
}

TEST_F(FaultyBench, ClearFaultsRestoresAHealthyModule) {
  uut_module->set_route_dead(Route::Out1);
  uut_module->set_repeated_frames(2);
  uut_module->set_transmit_data_fault(DataBitFault{.stuck_high = 1});
  uut_module->clear_faults();
  two_unit_setup(uut, qcu);
  EXPECT_EQ(run_pass(kTrno), 0);
}

}  // namespace
}  // namespace sim
