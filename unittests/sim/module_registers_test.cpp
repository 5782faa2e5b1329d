// A16 configuration registers and buffer memory through viIn16/viOut16/viMoveIn16/viMoveOut16.
#include <vector>

#include "sim_test_support.h"

namespace sim {
namespace {

using namespace visa;
using testing::TestBench;

class ModuleRegisters : public ::testing::Test {
 protected:
  explicit ModuleRegisters(BenchConfig config = benches::standard()) : bench(std::move(config)) {
    rm = bench.manager();
    uut = bench.open(rm, "VXI0::8::INSTR");
    module = bench.chassis.module_of(uut);
  }
  ViUInt16 in16(ViUInt16 space, ViBusAddress offset, ViStatus expected = VI_SUCCESS) {
    ViUInt16 value = 0x5A5A;
    EXPECT_EQ(bench.visa().viIn16(uut, space, offset, &value), expected)
        << "space " << space << " offset 0x" << std::hex << offset;
    return value;
  }

  TestBench bench;
  ViSession rm = 0;
  ViSession uut = 0;
  SimModule* module = nullptr;
};

TEST_F(ModuleRegisters, IdAndDeviceTypeRegistersIdentifyAQuorBusInA24) {
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(in16(VI_A16_SPACE, 0), 0x86C5);  // class 10b, A24 bits 00, manufacturer 0x6C5
  EXPECT_EQ(in16(VI_A16_SPACE, 2), 0x27B4);  // size code 2, model code 0x7B4
  EXPECT_EQ(module->id_register(), 0x86C5);
  // The ID register is read-only.
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A16_SPACE, 0, 0x1234), VI_SUCCESS);
  EXPECT_EQ(in16(VI_A16_SPACE, 0), 0x86C5);
}

TEST_F(ModuleRegisters, AddressSpaceBitsFollowTheModuleAndCanBeForced) {
  module->set_address_space_bits(2);
  EXPECT_EQ(in16(VI_A16_SPACE, 0), 0xA6C5);
  module->set_address_space_bits(3);
  EXPECT_EQ(in16(VI_A16_SPACE, 0) & 0x3000, 0x3000);
  // The memory itself stays where it is.
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A24_SPACE, 0, 7), VI_SUCCESS);
}

TEST(ModuleRegistersA32, A32ModuleShowsItInTheIdRegisterAndUsesSpace3) {
  BenchConfig config = benches::two_quor();
  config.modules[1].memory_space = VI_A32_SPACE;
  TestBench bench(config);
  const ViSession rm = bench.manager();
  const ViSession qcu = bench.open(rm, "VXI0::24::INSTR");
  ViUInt16 value = 0;
  ASSERT_EQ(bench.visa().viIn16(qcu, VI_A16_SPACE, 0, &value), VI_SUCCESS);
  EXPECT_EQ(value, 0x96C5);
  ViAttrState space = 0;
  ASSERT_EQ(bench.visa().viGetAttribute(qcu, VI_ATTR_MEM_SPACE, &space), VI_SUCCESS);
  EXPECT_EQ(space, VI_A32_SPACE);
  EXPECT_EQ(bench.visa().viOut16(qcu, VI_A32_SPACE, 0x100000, 0xBEEF), VI_SUCCESS);
  EXPECT_EQ(bench.chassis.module_at(24)->memory_word(0x100000), 0xBEEF);
  EXPECT_EQ(bench.visa().viOut16(qcu, VI_A24_SPACE, 0, 1), VI_ERROR_INV_SPACE);
  EXPECT_EQ(bench.visa().viIn16(qcu, VI_A24_SPACE, 0, &value), VI_ERROR_INV_SPACE);
}

TEST_F(ModuleRegisters, PingAndPongAreSeparateAndPerModule) {
  const ViSession qcu = bench.open(rm, "VXI0::24::INSTR");
  ASSERT_EQ(bench.visa().viOut16(uut, VI_A24_SPACE, kPingOffset + 4, 0x0100), VI_SUCCESS);
  ASSERT_EQ(bench.visa().viOut16(uut, VI_A24_SPACE, kPongOffset + 4, 0x0E00), VI_SUCCESS);
  EXPECT_EQ(module->memory_word(4), 0x0100);
  EXPECT_EQ(module->memory_word(0x100004), 0x0E00);
  EXPECT_EQ(in16(VI_A24_SPACE, 4), 0x0100);
  ViUInt16 other = 0xFFFF;
  ASSERT_EQ(bench.visa().viIn16(qcu, VI_A24_SPACE, 4, &other), VI_SUCCESS);
  EXPECT_EQ(other, 0) << "the QCU's memory is its own";
  module->set_memory_word(0x1FFFFE, 0x00AB);
  EXPECT_EQ(in16(VI_A24_SPACE, 0x1FFFFE), 0x00AB);
}

TEST_F(ModuleRegisters, WindowBoundariesOfBothSpaces) {
  // A24: the last word is in, the next byte and word are out, odd offsets are refused.
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A24_SPACE, 0x1FFFFE, 1), VI_SUCCESS);
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A24_SPACE, 0x200000, 1), VI_ERROR_INV_OFFSET);
  in16(VI_A24_SPACE, 0x1FFFFE);
  in16(VI_A24_SPACE, 0x1FFFFF, VI_ERROR_INV_OFFSET);
  in16(VI_A24_SPACE, 0x200000, VI_ERROR_INV_OFFSET);
  in16(VI_A24_SPACE, 3, VI_ERROR_INV_OFFSET);
  in16(VI_A24_SPACE, ~ViBusAddress{0}, VI_ERROR_INV_OFFSET);
  // A16: 64 bytes.
  in16(VI_A16_SPACE, 0x3E);
  in16(VI_A16_SPACE, 0x40, VI_ERROR_INV_OFFSET);
  in16(VI_A16_SPACE, 0x01, VI_ERROR_INV_OFFSET);
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A16_SPACE, 0x40, 1), VI_ERROR_INV_OFFSET);
  // Spaces the module has not got.
  for (ViUInt16 space : {ViUInt16{0}, VI_A32_SPACE, ViUInt16{4}, ViUInt16{0xFFFF}}) {
    in16(space, 0, VI_ERROR_INV_SPACE);
    EXPECT_EQ(bench.visa().viOut16(uut, space, 0, 1), VI_ERROR_INV_SPACE);
  }
}

TEST_F(ModuleRegisters, BlockMovesCheckTheWholeRangeBeforeMoving) {
  std::vector<ViUInt16> words(8);
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = static_cast<ViUInt16>(0x100 + i);
  const ViBusAddress last_block = kMemoryBytes - 2 * words.size();
  EXPECT_EQ(bench.visa().viMoveOut16(uut, VI_A24_SPACE, last_block, words.size(), words.data()),
            VI_SUCCESS);
  EXPECT_EQ(module->memory_word(kMemoryBytes - 2), 0x107);
  // One word past the end: refused, and nothing of it written.
  EXPECT_EQ(bench.visa().viMoveOut16(uut, VI_A24_SPACE, last_block + 2, words.size(), words.data()),
            VI_ERROR_INV_OFFSET);
  EXPECT_EQ(module->memory_word(last_block + 2), 0x101);
  std::vector<ViUInt16> back(words.size(), 0);
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A24_SPACE, last_block, back.size(), back.data()),
            VI_SUCCESS);
  EXPECT_EQ(back, words);
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A24_SPACE, last_block + 2, back.size(), back.data()),
            VI_ERROR_INV_OFFSET);
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A24_SPACE, 1, 1, back.data()), VI_ERROR_INV_OFFSET);
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A32_SPACE, 0, 1, back.data()), VI_ERROR_INV_SPACE);
  // A huge count must not wrap the range check.
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A24_SPACE, 2, ~ViBusSize{0}, back.data()),
            VI_ERROR_INV_OFFSET);
  // The whole 2 MiB in one move, as the memory test does with each 1 MiB buffer.
  std::vector<ViUInt16> all(kMemoryBytes / 2, 0xFFFF);
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A24_SPACE, 0, all.size(), all.data()), VI_SUCCESS);
  EXPECT_EQ(all.back(), 0x107);
  EXPECT_EQ(all.front(), 0);
  // A16 moves read the registers.
  std::vector<ViUInt16> registers(2);
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A16_SPACE, 0, 2, registers.data()), VI_SUCCESS);
  EXPECT_EQ(registers, (std::vector<ViUInt16>{0x86C5, 0x27B4}));
}

TEST_F(ModuleRegisters, NextBufferRegisterRecordsEveryWrite) {
  EXPECT_EQ(module->next_buffer_write_count(), 0U);
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A16_SPACE, kNextBufferRegister, 1), VI_SUCCESS);
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A16_SPACE, kNextBufferRegister, 0), VI_SUCCESS);
  EXPECT_EQ(module->next_buffer_write_count(), 2U);
  EXPECT_EQ(module->next_buffer_register(), 0);
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A16_SPACE, 0x3C, 9), VI_SUCCESS);
  EXPECT_EQ(module->next_buffer_write_count(), 2U)
      << "only offset 0x3E is the next-buffer register";
  EXPECT_EQ(in16(VI_A16_SPACE, 0x3C), 9);
}

TEST_F(ModuleRegisters, InjectedBusErrorsHitTheChosenCallsOnly) {
  module->set_memory_word(0, 0x1234);
  module->fail_next(VisaFunction::In16, VI_ERROR_BERR, 2);
  EXPECT_EQ(in16(VI_A24_SPACE, 0, VI_ERROR_BERR), 0xFFFF);
  EXPECT_EQ(in16(VI_A24_SPACE, 0, VI_ERROR_BERR), 0xFFFF);
  EXPECT_EQ(module->pending_failures(VisaFunction::In16), 0);
  EXPECT_EQ(in16(VI_A24_SPACE, 0), 0x1234);

  module->fail_next(VisaFunction::Out16, VI_ERROR_BERR);
  EXPECT_EQ(bench.visa().viOut16(uut, VI_A24_SPACE, 0, 0x9999), VI_ERROR_BERR);
  EXPECT_EQ(module->memory_word(0), 0x1234) << "a failed write changes nothing";

  module->fail_next(VisaFunction::MoveIn16, VI_ERROR_BERR);
  ViUInt16 word = 0;
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A24_SPACE, 0, 1, &word), VI_ERROR_BERR);
  EXPECT_EQ(bench.visa().viMoveIn16(uut, VI_A24_SPACE, 0, 1, &word), VI_SUCCESS);
  EXPECT_EQ(word, 0x1234);

  // A delayed fault lets the first calls through.
  module->fail_after(VisaFunction::In16, 2, VI_ERROR_BERR);
  EXPECT_EQ(in16(VI_A24_SPACE, 0), 0x1234);
  EXPECT_EQ(in16(VI_A24_SPACE, 0), 0x1234);
  EXPECT_EQ(in16(VI_A24_SPACE, 0, VI_ERROR_BERR), 0xFFFF);
  EXPECT_EQ(in16(VI_A24_SPACE, 0), 0x1234);

  // Faults belong to their module: the QCU is unaffected.
  module->fail_next(VisaFunction::In16, VI_ERROR_BERR);
  const ViSession qcu = bench.open(rm, "VXI0::24::INSTR");
  EXPECT_EQ(bench.visa().viIn16(qcu, VI_A16_SPACE, 0, &word), VI_SUCCESS);
  module->clear_faults();
  EXPECT_EQ(in16(VI_A16_SPACE, 0), 0x86C5);
}

}  // namespace
}  // namespace sim
