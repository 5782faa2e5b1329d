// The message-based command set: replies, the error queue and status byte, the recorded
// settings, and the fault-injection and firmware hooks of a module.
#include <string>
#include <vector>

#include "sim_test_support.h"

namespace sim {
namespace {

using namespace visa;
using testing::TestBench;

class ModuleCommands : public ::testing::Test {
 protected:
  ModuleCommands() {
    rm = bench.manager();
    uut = bench.open(rm, "VXI0::8::INSTR");
    module = bench.chassis.module_of(uut);
  }
  void send(std::string_view command) { ASSERT_EQ(bench.write(uut, command), VI_SUCCESS); }
  std::string ask(std::string_view command) { return bench.query(uut, command); }

  TestBench bench;
  ViSession rm = 0;
  ViSession uut = 0;
  SimModule* module = nullptr;
};

TEST_F(ModuleCommands, IdentityReplyEndsInLineFeedAndCountsIt) {
  unsigned char buffer[1000];
  ViUInt32 returned = 0;
  send("*IDN?");
  EXPECT_EQ(bench.visa().viRead(uut, buffer, sizeof buffer, &returned), VI_SUCCESS);
  const std::string expected = module->config().identity + "\n";
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), returned), expected);
  EXPECT_EQ(returned, expected.size());
  EXPECT_EQ(ask("*idn?\n"), expected) << "case and a trailing line feed do not matter";
  EXPECT_EQ(module->query_count(), 2U);
}

// The built-in modules say they are simulated, with a serial number from their address, in
// the four fields of a real reply (maker, model, serial number, firmware); another maker's
// module keeps its own reply.
struct IdentityRow {
  const char* resource;
  const char* reply;
};

class SimulatedIdentity : public ::testing::TestWithParam<IdentityRow> {};

TEST_P(SimulatedIdentity, IdnReplyNamesTheSimulatorAndTheAddress) {
  TestBench bench;
  const ViSession session = bench.open(bench.manager(), GetParam().resource);
  EXPECT_EQ(bench.query(session, "*IDN?"), std::string(GetParam().reply) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    StandardBench, SimulatedIdentity,
    ::testing::Values(IdentityRow{"VXI0::8::INSTR", "ARDENVALE,QUOR BUS SIMULATED,SIM-LA008,1.00"},
                      IdentityRow{"VXI0::24::INSTR", "ARDENVALE,QUOR BUS SIMULATED,SIM-LA024,1.00"},
                      IdentityRow{"VXI0::40::INSTR", "OTHER MAKER,DIGITIZER 4,0,2.10"}));

TEST(ModuleIdentity, ConfiguredModuleTakesItsAddressUnlessGivenAReply) {
  ModuleConfig config;
  config.logical_address = 255;
  EXPECT_EQ(SimModule(config).config().identity, "ARDENVALE,QUOR BUS SIMULATED,SIM-LA255,1.00");
  config.identity = "ARDENVALE,QUOR BUS,1234,1.00";
  EXPECT_EQ(SimModule(config).config().identity, "ARDENVALE,QUOR BUS,1234,1.00");
}

TEST_F(ModuleCommands, ShortReadsSplitTheReplyAndKeepTheRest) {
  send("*IDN?");
  const std::string identity = module->config().identity + "\n";
  unsigned char buffer[5];
  ViUInt32 returned = 0;
  std::string collected;
  ViStatus status = VI_SUCCESS_MAX_CNT;
  int reads = 0;
  while (status == VI_SUCCESS_MAX_CNT) {
    status = bench.visa().viRead(uut, buffer, sizeof buffer, &returned);
    collected.append(reinterpret_cast<char*>(buffer), returned);
    ++reads;
    if (status == VI_SUCCESS_MAX_CNT) {
      EXPECT_EQ(returned, sizeof buffer);
    }
  }
  EXPECT_EQ(status, VI_SUCCESS);
  EXPECT_EQ(collected, identity);
  EXPECT_EQ(reads, static_cast<int>((identity.size() + sizeof buffer - 1) / sizeof buffer));
  // Everything has been read: the next read times out.
  bench.read(uut, &status);
  EXPECT_EQ(status, VI_ERROR_TMO);
  // A buffer that holds the reply exactly still ends the message.
  send("*OPC?");
  EXPECT_EQ(bench.visa().viRead(uut, buffer, 1, &returned), VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(returned, 1U);
  EXPECT_EQ(bench.visa().viRead(uut, buffer, 1, &returned), VI_SUCCESS);
  EXPECT_EQ(buffer[0], '\n');
  send("*OPC?");
  EXPECT_EQ(bench.visa().viRead(uut, buffer, 2, &returned), VI_SUCCESS);
  EXPECT_EQ(returned, 2U);
}

TEST_F(ModuleCommands, CommandsWithoutReplyLeaveNothingToRead) {
  for (const char* command : {"*RST", "*CLS", "*OPC", "mode idle", "rout:clos out1"}) {
    send(command);
    ViStatus status = VI_SUCCESS;
    EXPECT_EQ(bench.read(uut, &status), "") << command;
    EXPECT_EQ(status, VI_ERROR_TMO) << command;
  }
  EXPECT_TRUE(module->error_queue().empty());
}

TEST_F(ModuleCommands, ErrorQueueReportsOldestFirstAndSetsStatusBit4) {
  EXPECT_EQ(ask("*STB?"), "0\n");
  send("FROB");
  EXPECT_EQ(ask("*STB?"), "4\n");
  send("rout:clos");
  send("mode fast");
  ASSERT_EQ(module->error_queue().size(), 3U);
  EXPECT_EQ(ask("SYST:ERR?"), "-113,\"Undefined header\"\n");
  EXPECT_EQ(ask("syst:err?"), "-109,\"Missing parameter\"\n");
  EXPECT_EQ(ask("*STB?"), "4\n") << "one error still queued";
  EXPECT_EQ(ask("SYSTem:ERRor?"), "-224,\"Illegal parameter value\"\n");
  EXPECT_EQ(ask("*STB?"), "0\n");
  EXPECT_EQ(ask("SYST:ERR?"), "0,\"No error\"\n");
}

TEST_F(ModuleCommands, ClearStatusEmptiesTheQueueButResetDoesNot) {
  send("BOGUS1");
  send("*RST 5");  // parameter not allowed
  send("*RST");
  EXPECT_EQ(module->error_queue().size(), 2U);
  EXPECT_EQ(module->error_queue()[1].code, kScpiParameterNotAllowed);
  send("*CLS");
  EXPECT_TRUE(module->error_queue().empty());
  EXPECT_EQ(ask("*STB?"), "0\n");
  EXPECT_EQ(ask("SYST:ERR?"), "0,\"No error\"\n");
}

TEST_F(ModuleCommands, ErrorQueueOverflowKeepsTheOldest) {
  for (std::size_t i = 0; i < kErrorQueueCapacity + 5; ++i) send("NOPE");
  ASSERT_EQ(module->error_queue().size(), kErrorQueueCapacity);
  EXPECT_EQ(module->error_queue().front().code, kScpiUndefinedHeader);
  EXPECT_EQ(module->error_queue().back().code, kScpiQueueOverflow);
}

TEST_F(ModuleCommands, ResetIsCountedAndRestoresDefaults) {
  send("rout:clos out1");
  send("ROUT:CLOS UNPR");
  send("mode recm");
  send("tim 10");
  send("COMM:TRAN:STOP 04");
  EXPECT_TRUE(module->route_closed(Route::Out1));
  EXPECT_TRUE(module->route_closed(Route::Unpr));
  EXPECT_EQ(module->mode(), Mode::Recm);
  EXPECT_EQ(module->reset_count(), 0U);
  send("*RST");
  EXPECT_EQ(module->reset_count(), 1U);
  EXPECT_FALSE(module->route_closed(Route::Out1));
  EXPECT_FALSE(module->route_closed(Route::Unpr));
  EXPECT_EQ(module->mode(), Mode::Idle);
  EXPECT_EQ(module->timer_interval(), 0U);
  EXPECT_EQ(module->transmit_stop(), 0U);
  EXPECT_EQ(bench.chassis.module_at(24)->reset_count(), 0U) << "only the addressed module";
}

TEST_F(ModuleCommands, RoutesModesAndNumbersAreRecorded) {
  send("rout:clos out3");
  send("rout:clos ampl");
  send("ROUT:OPEN AMPL");
  send("rout:clos PROT");
  EXPECT_TRUE(module->route_closed(Route::Out3));
  EXPECT_FALSE(module->route_closed(Route::Ampl));
  EXPECT_TRUE(module->route_closed(Route::Prot));
  EXPECT_FALSE(module->route_closed(Route::Out2));
  const std::pair<const char*, Mode> modes[] = {
      {"mode idle", Mode::Idle}, {"mode rec", Mode::Rec},   {"mode recm", Mode::Recm},
      {"mode trnd", Mode::Trnd}, {"mode trno", Mode::Trno}, {"MODE TRNS", Mode::Trns},
      {"mode trnc", Mode::Trnc}, {"mode self", Mode::Self}};
  for (const auto& [command, mode] : modes) {
    send(command);
    EXPECT_EQ(module->mode(), mode) << command;
  }
  EXPECT_EQ(ask("MODE?"), "SELF\n");
  send("TIM 00010");
  send("comm:rec:start  1");
  send("comm:rec:stop 14");
  send("COMM:TRAN:STOP 04");
  send("VOLT 100");
  EXPECT_EQ(module->timer_interval(), 10U);
  EXPECT_EQ(module->receive_start(), 1U);
  EXPECT_EQ(module->receive_stop(), 14U);
  EXPECT_EQ(module->transmit_stop(), 4U);
  EXPECT_DOUBLE_EQ(module->voltage(), 100.0);
  EXPECT_TRUE(module->error_queue().empty());
}

TEST_F(ModuleCommands, BadParametersAreRejectedWithoutChangingState) {
  send("comm:rec:start 5");
  send("comm:rec:start 256");  // beyond a byte
  send("comm:rec:start one");  // not a number
  send("tim");                 // missing
  send("rout:clos out9");
  EXPECT_EQ(module->receive_start(), 5U);
  std::vector<int> codes;
  for (const ScpiError& error : module->error_queue()) codes.push_back(error.code);
  EXPECT_EQ(codes, (std::vector<int>{kScpiIllegalParameterValue, kScpiDataTypeError,
                                     kScpiMissingParameter, kScpiIllegalParameterValue}));
}

TEST_F(ModuleCommands, CalibrationConstantIsStoredAndReported) {
  EXPECT_EQ(ask("CAL?"), "1.000000\n");
  send("CAL 0 1.2");
  EXPECT_EQ(ask("CAL?"), "1.200000\n");
  send("CAL 0-.1");
  EXPECT_DOUBLE_EQ(module->cal_constant(), -0.1);
  EXPECT_EQ(ask("cal?").substr(0, 8), "-0.10000");
  send("CAL 0 0");
  EXPECT_DOUBLE_EQ(module->cal_constant(), 0.0);
  send("CAL 0");
  send("CAL 0 abc");
  EXPECT_DOUBLE_EQ(module->cal_constant(), 0.0);
  EXPECT_EQ(module->error_queue().size(), 2U);
}

TEST_F(ModuleCommands, SelfTestReplyIsSettable) {
  EXPECT_EQ(ask("*TST?"), "0\n");
  module->set_self_test_result(3);
  EXPECT_EQ(ask("*TST?"), "3\n");
  EXPECT_EQ(ask("*OPC?"), "1\n");
}

TEST_F(ModuleCommands, StampListHasTenItemsOfSevenCharacters) {
  module->set_stamps(
      {0x1000, 0x3710, 0x5E21, 0x8531, 0xAC41, 0xD351, 0xFA61, 0x2171, 0x4881, 0x6F91});
  std::string reply = ask("trac:data? stamp");
  ASSERT_EQ(reply.back(), '\n');
  reply.pop_back();
  ASSERT_EQ(reply.size(), 69U);
  // The station reads stamp k from characters 7k-4 to 7k-1 (counting from 1).
  std::vector<unsigned> stamps;
  for (std::size_t k = 1; k <= 10; ++k) {
    stamps.push_back(static_cast<unsigned>(std::stoul(reply.substr(7 * k - 5, 4), nullptr, 16)));
  }
  EXPECT_EQ(stamps, (std::vector<unsigned>{0x1000, 0x3710, 0x5E21, 0x8531, 0xAC41, 0xD351, 0xFA61,
                                           0x2171, 0x4881, 0x6F91}));
  EXPECT_EQ(reply.substr(0, 14), "#H1000,#H3710,");
  send("TRAC:DATA:CLR STAM");
  EXPECT_EQ(ask("trac:data? stamp").substr(0, 7), "#H0000,");
}

TEST_F(ModuleCommands, ClearingPongLeavesPing) {
  module->set_memory_word(kPingOffset + 2, 0x11);
  module->set_memory_word(kPongOffset + 2, 0x22);
  module->set_memory_word(kMemoryBytes - 2, 0x33);
  send("trac:data:clr Pong");
  EXPECT_EQ(module->memory_word(kPingOffset + 2), 0x11);
  EXPECT_EQ(module->memory_word(kPongOffset + 2), 0);
  EXPECT_EQ(module->memory_word(kMemoryBytes - 2), 0);
  send("trac:data:clr ping");
  EXPECT_EQ(module->memory_word(kPingOffset + 2), 0);
}

TEST_F(ModuleCommands, LogKeepsEveryCommandAsSent) {
  send("*RST");
  send("*idn?\n");
  send("  *rst ");
  EXPECT_EQ(module->command_log(), (std::vector<std::string>{"*RST", "*idn?\n", "  *rst "}));
  EXPECT_EQ(module->command_count("*RST"), 2U);
  EXPECT_EQ(module->command_count("*IDN?"), 1U);
  EXPECT_EQ(module->command_count("*CLS"), 0U);
}

TEST_F(ModuleCommands, NonVolatileConfigurationLinesAreStored) {
  for (const char* line :
       {"vxi_scan();", "nvsetflag(1);", "nvsetvxireg(0, #H86c5);", "nvsetvxireg(1, #H27b4);"}) {
    send(line);
  }
  EXPECT_TRUE(module->error_queue().empty());
  EXPECT_EQ(module->nv_flag(), 1);
  EXPECT_EQ(module->nv_register(0), 0x86C5);
  EXPECT_EQ(module->nv_register(1), 0x27B4);
  EXPECT_FALSE(module->nv_register(2).has_value());
  send("nvsetvxireg(0, #Hzz);");
  EXPECT_EQ(module->error_queue().size(), 1U);
}

// --- Fault injection ---

TEST_F(ModuleCommands, ForcedQueryReplyOverridesTheBuiltInOne) {
  module->set_query_reply("*STB?", "20");
  EXPECT_EQ(ask("*STB?"), "20\n");
  EXPECT_EQ(ask("*stb? "), "20\n");
  module->set_query_reply("*STB?", "16");
  EXPECT_EQ(ask("*STB?"), "16\n");
  module->clear_query_reply("*stb?");
  EXPECT_EQ(ask("*STB?"), "0\n");
  // A forced SYST:ERR? reply leaves the queue alone.
  send("BAD");
  module->set_query_reply("SYST:ERR?", "-999,\"Forced\"");
  EXPECT_EQ(ask("SYST:ERR?"), "-999,\"Forced\"\n");
  EXPECT_EQ(module->error_queue().size(), 1U);
}

TEST_F(ModuleCommands, InjectedReadFailureLeavesTheReplyForLater) {
  module->fail_next(VisaFunction::Read, VI_ERROR_TMO);
  send("*OPC?");
  ViStatus status = VI_SUCCESS;
  EXPECT_EQ(bench.read(uut, &status), "");
  EXPECT_EQ(status, VI_ERROR_TMO);
  EXPECT_EQ(bench.clock.now_us(), 0U) << "an injected failure costs no time";
  EXPECT_EQ(bench.read(uut, &status), "1\n");
  EXPECT_EQ(status, VI_SUCCESS);
}

TEST_F(ModuleCommands, InjectedWriteFailureSendsNothing) {
  module->fail_next(VisaFunction::Write, VI_ERROR_TMO);
  EXPECT_EQ(bench.write(uut, "*RST"), VI_ERROR_TMO);
  EXPECT_EQ(module->reset_count(), 0U);
  EXPECT_TRUE(module->command_log().empty());
  send("*RST");
  EXPECT_EQ(module->reset_count(), 1U);
}

TEST_F(ModuleCommands, UnreadReplyIsDiscardedByTheNextCommand) {
  send("*IDN?");
  send("*OPC?");
  EXPECT_EQ(bench.read(uut), "1\n");
  EXPECT_TRUE(module->error_queue().empty());
}

// --- Firmware hook ---

class RecordingFirmware : public Firmware {
 public:
  void on_mode_change(SimModule& module, Mode previous) override {
    changes.emplace_back(previous, module.mode());
  }
  void on_time(SimModule&, std::uint64_t now_us) override { times.push_back(now_us); }
  std::vector<std::pair<Mode, Mode>> changes;
  std::vector<std::uint64_t> times;
};

TEST_F(ModuleCommands, FirmwareSeesModeChangesAndTheClock) {
  RecordingFirmware firmware;
  module->set_firmware(&firmware);
  bench.clock.advance_ms(5);
  send("mode recm");
  bench.clock.advance_ms(10);
  send("*RST");
  EXPECT_EQ(firmware.changes, (std::vector<std::pair<Mode, Mode>>{{Mode::Idle, Mode::Recm},
                                                                  {Mode::Recm, Mode::Idle}}));
  EXPECT_EQ(firmware.times, (std::vector<std::uint64_t>{5000, 15000}));
  bench.chassis.poll_firmware();
  EXPECT_EQ(firmware.times.size(), 3U);
  module->set_firmware(nullptr);
}

}  // namespace
}  // namespace sim
