// Firmware rules beyond the station's passes: frame boundaries and comparators, chains, the
// timer, time stamps, *RST, the bench cabling, and a chassis restart with non-volatile values.
#include <vector>

#include "station_sequences.h"

namespace sim {
namespace {

using namespace visa;
using testing::kPong;
using testing::kStart;
using testing::kStop14;
using testing::kStop15;
using testing::StationBench;

class FirmwareRules : public StationBench {
 protected:
  // QCU transmitting over its output 1 into the UUT receiving on input 1.
  void qcu_to_uut(const char* receive_mode) {
    two_unit_setup(qcu, uut);
    comparators(qcu, uut);
    cmd(uut, receive_mode);
  }
};

TEST_F(FirmwareRules, ReceiverKeepsOnlyFramesBetweenItsStartAndStopValues) {
  qcu_to_uut("mode recm");
  frame(qcu, 0, 9, 1, 4);
  out16(qcu, 0, 0x0200);  // start value 2, the receiver waits for 1
  cmd(qcu, "mode trno");
  EXPECT_EQ(uut_module->memory_word(0), 0);
  EXPECT_EQ(uut_module->stamp_count(), 0U);

  // Sent up to the transmit stop (14), but the receiver waits for 15: never ended, discarded.
  out16(qcu, 0, kStart);
  cmd(uut, "comm:rec:stop  15");
  cmd(qcu, "mode trno");
  EXPECT_EQ(uut_module->memory_word(0), 0);

  // A frame stops at the first word carrying the stop value; what follows it is not sent.
  cmd(uut, "comm:rec:stop  14");
  out16(qcu, 6, kStop14);
  cmd(qcu, "mode trno");
  EXPECT_EQ(uut_module->memory_word(0), kStart);
  EXPECT_EQ(uut_module->memory_word(2), 9);
  EXPECT_EQ(uut_module->memory_word(4), 10);
  EXPECT_EQ(uut_module->memory_word(6), kStop14);
  EXPECT_EQ(uut_module->memory_word(8), 0) << "the words after the first stop stay behind";
  EXPECT_EQ(uut_module->memory_word(10), 0);
}

TEST_F(FirmwareRules, TransmitterWithoutAStopValueInItsBufferSendsNothingUsable) {
  qcu_to_uut("mode rec");
  fill(qcu, 0, 1, 1, 8);
  out16(qcu, 0, kStart);  // no stop word anywhere in PING
  cmd(qcu, "mode trno");
  EXPECT_EQ(uut_module->memory_word(2), 0);
}

TEST_F(FirmwareRules, ChainEndsWhereNoStartWordFollowsAStopWord) {
  two_unit_setup(uut, qcu);
  comparators(uut, qcu);
  cmd(uut, "tim 10");
  // Three chained 4-word frames, then a zero gap and a frame the chain must not reach.
  for (unsigned k = 0; k < 3; ++k) frame(uut, k * 12, 10 * (k + 1), 1, 4);
  frame(uut, 40, 99, 0, 4);
  frame(uut, kPong, 200, 1, 4);
  cmd(qcu, "mode recm");
  cmd(uut, "mode trnc");
  wait_ms(4);  // frames at 0, 1, 2, 3 and 4 ms
  cmd(uut, "mode idle");
  const std::vector<unsigned> first_data = {10, 20, 30, 200, 10};
  for (std::size_t k = 0; k < first_data.size(); ++k) {
    EXPECT_EQ(qcu_module->memory_word(static_cast<std::uint32_t>(k * 12 + 2)), first_data[k])
        << "frame " << k + 1;
  }
  EXPECT_EQ(qcu_module->memory_word(5 * 12), 0) << "five frames in 4 ms";
}

TEST_F(FirmwareRules, TimerPacesInHundredMicrosecondUnitsAndZeroStopsIt) {
  two_unit_setup(uut, qcu);
  comparators(uut, qcu);
  frame(uut, 0, 1, 1, 2);
  frame(uut, kPong, 5, 1, 2);
  cmd(uut, "tim 25");  // 2.5 ms
  cmd(qcu, "mode recm");
  cmd(uut, "mode trns");
  wait_ms(9);  // PING at 0, PONG at 2.5, 5 and 7.5 ms
  bench.chassis.poll_firmware();
  EXPECT_EQ(qcu_module->memory_word(3 * 8 + 2), 5);
  EXPECT_EQ(qcu_module->memory_word(4 * 8), 0);
  const auto& stamps = qcu_module->stamps();
  EXPECT_EQ(stamps[1] - stamps[0], 250) << "100 kHz counter: 2.5 ms are 250 counts";

  cmd(uut, "tim 0");
  cmd(qcu, "trac:data:clr ping");
  cmd(qcu, "mode recm");
  cmd(uut, "mode trns");
  wait_ms(1000);
  cmd(uut, "mode idle");
  EXPECT_EQ(qcu_module->memory_word(8), 0) << "a stopped timer sends the first frame only";
  EXPECT_EQ(qcu_module->memory_word(2), 1);
}

TEST_F(FirmwareRules, FramesDueWhileTheHostWaitedArriveBeforeItsNextCommand) {
  two_unit_setup(uut, qcu);
  comparators(uut, qcu);
  frame(uut, 0, 1, 1, 2);
  frame(uut, kPong, 5, 1, 2);
  cmd(uut, "tim 10");
  cmd(qcu, "mode recm");
  cmd(uut, "mode trns");
  wait_ms(3);
  // The receiver is stopped first: the transmitter catches up before that command, not after.
  cmd(qcu, "mode idle");
  EXPECT_EQ(qcu_module->memory_word(3 * 8 + 2), 5);
  cmd(uut, "mode idle");
  EXPECT_EQ(qcu_module->memory_word(4 * 8), 0);
}

TEST_F(FirmwareRules, StampsRecordTheCounterAtArrivalAndAreClearedOnRequest) {
  qcu_to_uut("mode rec");
  frame(qcu, 0, 1, 1, 2);
  frame(qcu, kPong, 1, 1, 2);
  wait_ms(1234);
  bench.clock.advance_us(560);
  cmd(qcu, "mode trnd");  // at 1.23456 s: 123456 counts, 0xE240 after the 16-bit wrap
  EXPECT_EQ(bench.query(uut, "trac:data? stamp").substr(0, 14), "#HE240,#H0000,");
  for (int k = 0; k < 11; ++k) {
    wait_ms(1);
    signal(qcu);
  }
  EXPECT_EQ(uut_module->stamp_count(), kStampCount) << "the first ten are kept";
  EXPECT_EQ(uut_module->stamps()[9], 0xE240 + 900);
  cmd(uut, "trac:data:clr stam");
  EXPECT_EQ(uut_module->stamp_count(), 0U);
  signal(qcu);
  EXPECT_EQ(uut_module->stamps()[0], 0xE240 + 1100);
  cmd(uut, "mode recm");
  EXPECT_EQ(uut_module->stamp_count(), 0U) << "a receive mode starts with no stamps";
}

TEST_F(FirmwareRules, RecmStopsStoringWhenTheMemoryIsFull) {
  qcu_to_uut("mode recm");
  const std::size_t length = 200000;  // 200002 words a frame: five fill 1000010 of 1048576
  frame(qcu, 0, 1, 1, length);
  frame(qcu, kPong, 7, 0, length);
  cmd(qcu, "mode trnd");
  for (int k = 0; k < 6; ++k) signal(qcu);
  EXPECT_EQ(uut_module->stamp_count(), 5U);
  EXPECT_EQ(uut_module->memory_word(5 * 400004), 0) << "the sixth did not fit";
  EXPECT_EQ(uut_module->memory_word(4 * 400004 + 2), 1);
}

TEST_F(FirmwareRules, ResetClearsBuffersStampsAndModeAndOpensRoutes) {
  qcu_to_uut("mode rec");
  frame(qcu, 0, 1, 1, 4);
  cmd(qcu, "mode trno");
  ASSERT_EQ(uut_module->memory_word(2), 1);
  ASSERT_EQ(uut_module->stamp_count(), 1U);
  cmd(uut, "*RST");
  EXPECT_EQ(uut_module->memory_word(2), 0);
  EXPECT_EQ(uut_module->stamp_count(), 0U);
  EXPECT_EQ(uut_module->mode(), Mode::Idle);
  EXPECT_FALSE(uut_module->route_closed(Route::Unpr));
  // With its input open the UUT hears nothing, even in a receive mode.
  comparators(qcu, uut);
  cmd(uut, "mode rec");
  cmd(qcu, "mode trno");
  EXPECT_EQ(uut_module->memory_word(2), 0);
}

TEST_F(FirmwareRules, OneFrameReachesAModuleOnceOverSeveralCables) {
  // The self loop with both inputs closed: output 2 reaches input 1 and output 3 input 2.
  self_setup("rout:clos unpr");
  cmd(uut, "rout:clos prot");
  cmd(uut, "comm:rec:start  1");
  cmd(uut, "comm:rec:stop  15");
  cmd(uut, "comm:tran:stop  15");
  cmd(uut, "mode self");  // PING was cleared by *RST: nothing to send that ends
  EXPECT_EQ(uut_module->memory_word(kPong), 0);
  EXPECT_EQ(uut_module->stamp_count(), 0U);
  frame(uut, 0, 3, 1, 4, kStop15);
  cmd(uut, "mode self");
  EXPECT_EQ(uut_module->stamp_count(), 1U) << "over two inputs, stored once";
  EXPECT_EQ(uut_module->memory_word(kPong + 2), 3);
}

TEST(BenchCables, StandardBenchIsCabledForEveryTestAndCablesCanBeChanged) {
  testing_support::SimBench bench;
  SimChassis& chassis = bench.chassis;
  const std::vector<Cable> expected = {{24, Route::Out1, 8, Route::Unpr},
                                       {8, Route::Out1, 24, Route::Unpr},
                                       {8, Route::Out2, 8, Route::Unpr},
                                       {8, Route::Out3, 8, Route::Prot}};
  EXPECT_EQ(chassis.cables(), expected);
  EXPECT_EQ(benches::two_quor().cables, expected);
  EXPECT_EQ(benches::standard_cables(9, 25).front(), (Cable{25, Route::Out1, 9, Route::Unpr}));
  EXPECT_TRUE(chassis.cut_cable(expected[2]));
  EXPECT_EQ(chassis.cables().size(), 3U);
  chassis.connect_cable(Cable{8, Route::Ampl, 8, Route::Unpr});
  EXPECT_EQ(chassis.cables().back().output, Route::Ampl);
}

// --- Restart with non-volatile identity values ---

class ChassisRestart : public ::testing::Test {
 protected:
  ChassisRestart() {
    rm = bench.manager();
    other = bench.open(rm, "VXI0::40::INSTR");
  }
  void load(std::vector<const char*> lines) {
    for (const char* line : lines) ASSERT_EQ(bench.write(other, line), VI_SUCCESS) << line;
  }
  ViUInt16 attribute(ViAttr which) {
    ViAttrState value = 0;
    EXPECT_EQ(bench.visa().viGetAttribute(other, which, &value), VI_SUCCESS);
    return static_cast<ViUInt16>(value);
  }
  ViUInt16 a16(ViBusAddress offset) {
    ViUInt16 value = 0;
    EXPECT_EQ(bench.visa().viIn16(other, VI_A16_SPACE, offset, &value), VI_SUCCESS);
    return value;
  }

  testing::TestBench bench;
  ViSession rm = 0;
  ViSession other = 0;
};

TEST_F(ChassisRestart, StoredIdentityTakesEffectOnlyAfterTheRestart) {
  load({"vxi_scan();", "nvsetflag(1);", "nvsetvxireg(0, #H86c5);", "nvsetvxireg(1, #H27b4);"});
  EXPECT_EQ(attribute(VI_ATTR_MANF_ID), 0xFFB) << "not yet in force";
  EXPECT_EQ(a16(0), 0x8FFB);
  bench.chassis.restart();
  EXPECT_EQ(attribute(VI_ATTR_MANF_ID), kQuorManufacturerId);
  EXPECT_EQ(attribute(VI_ATTR_MODEL_CODE), kQuorModelCode);
  EXPECT_EQ(a16(0), 0x86C5);
  EXPECT_EQ(a16(2), 0x27B4);
}

TEST_F(ChassisRestart, AddressSpaceBitsMoveTheMemoryAndTheFlagCanDisableTheValues) {
  load({"nvsetvxireg(0, #H96c5);"});
  bench.chassis.restart();
  EXPECT_EQ(a16(0), 0x96C5);
  EXPECT_EQ(attribute(VI_ATTR_MEM_SPACE), VI_A32_SPACE);
  EXPECT_EQ(bench.visa().viOut16(other, VI_A32_SPACE, 4, 0x55), VI_SUCCESS);
  ViUInt16 word = 0;
  EXPECT_EQ(bench.visa().viIn16(other, VI_A24_SPACE, 4, &word), VI_ERROR_INV_SPACE);

  load({"nvsetflag(0);", "nvsetvxireg(0, #H86c5);"});
  bench.chassis.restart();
  EXPECT_EQ(a16(0), 0x96C5) << "values stored with the flag at 0 are not used";
}

TEST_F(ChassisRestart, RestartReturnsEveryModuleToItsPowerOnState) {
  const ViSession uut = bench.open(rm, "VXI0::8::INSTR");
  SimModule* module = bench.chassis.module_of(uut);
  ASSERT_EQ(bench.write(uut, "rout:clos out1"), VI_SUCCESS);
  ASSERT_EQ(bench.write(uut, "mode trns"), VI_SUCCESS);
  ASSERT_EQ(bench.write(uut, "BOGUS"), VI_SUCCESS);
  module->set_memory_word(0x40, 0x1234);
  module->set_route_dead(Route::Out4);
  bench.chassis.restart();
  EXPECT_EQ(module->mode(), Mode::Idle);
  EXPECT_FALSE(module->route_closed(Route::Out1));
  EXPECT_TRUE(module->error_queue().empty());
  EXPECT_EQ(module->memory_word(0x40), 0);
  EXPECT_EQ(module->id_register(), 0x86C5) << "no stored values: the identity stays";
  EXPECT_TRUE(module->route_dead(Route::Out4)) << "a broken part stays broken";
  EXPECT_EQ(bench.query(uut, "*OPC?"), "1\n") << "sessions stay usable";
}

}  // namespace
}  // namespace sim
