// Pattern fill and compare through single-word register access, and block transfers in the
// address space the module's ID register names.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "driver/buffer_memory.h"
#include "driver_fixture.h"
#include "visa/forwarding_visa.h"

namespace driver_tests {
namespace {

using driver::BufferMemory;
using Kind = driver::BufferMemory::CompareKind;
using sim::VisaFunction;

constexpr visa::ViUInt16 kA24 = visa::VI_A24_SPACE;

class RecordingReport final : public driver::ReportSink {
 public:
  void append_report(const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

class BufferMemoryTest : public DriverTest {
 protected:
  explicit BufferMemoryTest(sim::BenchConfig bench = sim::benches::standard())
      : DriverTest(std::move(bench)), memory(chassis, state) {}

  void SetUp() override {
    session = open_module();
    chassis.reset_call_counts();
  }

  BufferMemory memory;
  RecordingReport report;
  visa::ViSession session = 0;
};

TEST_F(BufferMemoryTest, FillWritesOneWordPerValueWrappingAt256) {
  module().set_memory_word(0, 0xAAAA);
  module().set_memory_word(10, 0xAAAA);
  memory.fill_pattern(session, 2, kA24, 254, 1, 4);
  EXPECT_EQ(chassis.call_count(VisaFunction::Out16), 4U);
  EXPECT_EQ(module().memory_word(2), 254);
  EXPECT_EQ(module().memory_word(4), 255);
  EXPECT_EQ(module().memory_word(6), 0);
  EXPECT_EQ(module().memory_word(8), 1);
  EXPECT_EQ(module().memory_word(0), 0xAAAA);
  EXPECT_EQ(module().memory_word(10), 0xAAAA);
  EXPECT_EQ(state.last_visa_status, visa::VI_SUCCESS);

  // Larger steps wrap the same way: 250, 253, 0, 3, 6.
  memory.fill_pattern(session, 0x100000, kA24, 250, 3, 5);
  const std::vector<std::uint16_t> expected = {250, 253, 0, 3, 6};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(module().memory_word(static_cast<std::uint32_t>(0x100000 + 2 * i)), expected[i]);
  }
}

TEST_F(BufferMemoryTest, FillOfZeroOrOneWordWritesOneWord) {
  memory.fill_pattern(session, 0, kA24, 7, 1, 0);
  EXPECT_EQ(chassis.call_count(VisaFunction::Out16), 1U);
  EXPECT_EQ(module().memory_word(0), 7);
  memory.fill_pattern(session, 0, kA24, 9, 1, 1);
  EXPECT_EQ(chassis.call_count(VisaFunction::Out16), 2U);
  EXPECT_EQ(module().memory_word(0), 9);
  EXPECT_EQ(module().memory_word(2), 0);
}

TEST_F(BufferMemoryTest, FillTriesEveryWordAndKeepsTheLastWriteStatus) {
  // The second write fails; the others still land and the last one's status is kept.
  module().fail_after(VisaFunction::Out16, 1, visa::VI_ERROR_BERR);
  memory.fill_pattern(session, 0, kA24, 1, 1, 4);
  EXPECT_EQ(chassis.call_count(VisaFunction::Out16), 4U);
  EXPECT_EQ(module().memory_word(0), 1);
  EXPECT_EQ(module().memory_word(2), 0);
  EXPECT_EQ(module().memory_word(4), 3);
  EXPECT_EQ(module().memory_word(6), 4);
  EXPECT_EQ(state.last_visa_status, visa::VI_SUCCESS);

  module().fail_after(VisaFunction::Out16, 2, visa::VI_ERROR_TMO);
  memory.fill_pattern(session, 0, kA24, 1, 1, 3);
  EXPECT_EQ(state.last_visa_status, visa::VI_ERROR_TMO);
}

TEST_F(BufferMemoryTest, LowByteCompareIgnoresTheHighByteWholeWordCompareDoesNot) {
  module().set_memory_word(0x40, 0x1234);
  EXPECT_EQ(memory.compare_pattern(session, 0x40, kA24, 0x34, 0, 1, Kind::LowByte, report), 0);
  EXPECT_TRUE(report.lines.empty());
  EXPECT_EQ(chassis.call_count(VisaFunction::In16), 1U);

  EXPECT_EQ(memory.compare_pattern(session, 0x40, kA24, 0x34, 0, 1, Kind::WholeWord, report), 1);
  ASSERT_EQ(report.lines.size(), 2U);
  EXPECT_EQ(report.lines[0], "Miscompare at 40 Expected 34 Got 1234\r\n");
  EXPECT_EQ(report.lines[1], "\r\n");
}

TEST_F(BufferMemoryTest, MiscompareLinesUseUpperCaseHexWithoutLeadingZeros) {
  // PONG starts at 0x100000; the second word is bad, with bit 15 set.
  memory.fill_pattern(session, 0x100000, kA24, 0xAB, 0x11, 3);
  module().set_memory_word(0x100002, 0x80BC);
  EXPECT_EQ(memory.compare_pattern(session, 0x100000, kA24, 0xAB, 0x11, 3, Kind::WholeWord, report),
            1);
  ASSERT_EQ(report.lines.size(), 2U);
  EXPECT_EQ(report.lines[0], "Miscompare at 100002 Expected BC Got 80BC\r\n");

  // The low-byte compare of the same word passes, and so does the buffer as a whole.
  report.lines.clear();
  EXPECT_EQ(memory.compare_pattern(session, 0x100000, kA24, 0xAB, 0x11, 3, Kind::LowByte, report),
            0);
  EXPECT_TRUE(report.lines.empty());
}

TEST_F(BufferMemoryTest, ExpectedValueFollowsTheStepAndWrapsAt256) {
  memory.fill_pattern(session, 0, kA24, 250, 3, 6);
  module().set_memory_word(6, 0x77);  // expected (250 + 9) mod 256 = 3
  EXPECT_EQ(memory.compare_pattern(session, 0, kA24, 250, 3, 6, Kind::LowByte, report), 1);
  ASSERT_FALSE(report.lines.empty());
  EXPECT_EQ(report.lines[0], "Miscompare at 6 Expected 3 Got 77\r\n");
}

TEST_F(BufferMemoryTest, AtMostElevenMiscomparesAreReportedThenTheScanStops) {
  // 20 words that hold 0x00FF where the pattern 0, 1, 2, ... is expected.
  for (std::uint32_t i = 0; i < 20; ++i) module().set_memory_word(2 * i, 0x00FF);
  EXPECT_EQ(memory.compare_pattern(session, 0, kA24, 0, 1, 20, Kind::LowByte, report), 11);
  ASSERT_EQ(report.lines.size(), 12U);
  EXPECT_EQ(report.lines[0], "Miscompare at 0 Expected 0 Got FF\r\n");
  EXPECT_EQ(report.lines[10], "Miscompare at 14 Expected A Got FF\r\n");
  EXPECT_EQ(report.lines[11], "\r\n");
  EXPECT_EQ(chassis.call_count(VisaFunction::In16), 11U);
}

TEST_F(BufferMemoryTest, MatchingBufferReportsNothing) {
  memory.fill_pattern(session, 0x200, kA24, 17, 5, 300);
  EXPECT_EQ(memory.compare_pattern(session, 0x200, kA24, 17, 5, 300, Kind::WholeWord, report), 0);
  EXPECT_EQ(memory.compare_pattern(session, 0x200, kA24, 17, 5, 300, Kind::LowByte, report), 0);
  EXPECT_TRUE(report.lines.empty());
  EXPECT_EQ(chassis.call_count(VisaFunction::In16), 600U);
}

TEST_F(BufferMemoryTest, FailedReadIsComparedLikeAnyOtherAndItsStatusKept) {
  memory.fill_pattern(session, 0, kA24, 5, 1, 3);
  module().fail_next(VisaFunction::In16, visa::VI_ERROR_BERR);
  EXPECT_EQ(memory.compare_pattern(session, 0, kA24, 5, 1, 3, Kind::WholeWord, report), 1);
  ASSERT_EQ(report.lines.size(), 2U);
  EXPECT_EQ(report.lines[0], "Miscompare at 0 Expected 5 Got FFFF\r\n");
  // Every word is still read; the last read succeeded.
  EXPECT_EQ(chassis.call_count(VisaFunction::In16), 3U);
  EXPECT_EQ(state.last_visa_status, visa::VI_SUCCESS);

  module().fail_after(VisaFunction::In16, 2, visa::VI_ERROR_TMO);
  report.lines.clear();
  EXPECT_EQ(memory.compare_pattern(session, 0, kA24, 5, 1, 3, Kind::LowByte, report), 1);
  EXPECT_EQ(report.lines[0], "Miscompare at 4 Expected 7 Got FFFF\r\n");
  EXPECT_EQ(state.last_visa_status, visa::VI_ERROR_TMO);
}

TEST_F(BufferMemoryTest, BlockTransfersMoveWordArraysInA24) {
  std::vector<std::uint16_t> words(1000);
  std::iota(words.begin(), words.end(), std::uint16_t{0x8000});
  state.last_visa_status = 12345;
  EXPECT_EQ(memory.block_write_words(session, 0x100000, words.data(), 1000), visa::VI_SUCCESS);
  EXPECT_EQ(module().memory_word(0x100000), 0x8000);
  EXPECT_EQ(module().memory_word(0x100000 + 2 * 999), 0x8000 + 999);

  std::vector<std::uint16_t> back(1000, 0);
  EXPECT_EQ(memory.block_read_words(session, 0x100000, back.data(), 1000), visa::VI_SUCCESS);
  EXPECT_EQ(back, words);
  EXPECT_EQ(chassis.call_count(VisaFunction::In16), 2U);  // one ID register read each
  EXPECT_EQ(chassis.call_count(VisaFunction::MoveOut16), 1U);
  EXPECT_EQ(chassis.call_count(VisaFunction::MoveIn16), 1U);
  // Block transfers are driver operations: they hand their status back instead.
  EXPECT_EQ(state.last_visa_status, 12345);
}

TEST_F(BufferMemoryTest, BlockTransfersRefuseAClosedSessionWithoutAnyCall) {
  std::vector<std::uint16_t> words(4, 1);
  EXPECT_EQ(memory.block_write_words(0, 0, words.data(), 4), visa::VI_ERROR_INV_OBJECT);
  EXPECT_EQ(memory.block_read_words(0, 0, words.data(), 4), visa::VI_ERROR_INV_OBJECT);
  EXPECT_EQ(chassis.total_calls(), 0U);
}

TEST_F(BufferMemoryTest, FailedIdRegisterReadEndsBeforeTheMove) {
  std::vector<std::uint16_t> words(4, 0x5555);
  module().fail_next(VisaFunction::In16, visa::VI_ERROR_BERR);
  EXPECT_EQ(memory.block_write_words(session, 0, words.data(), 4), visa::VI_ERROR_BERR);
  module().fail_next(VisaFunction::In16, visa::VI_ERROR_TMO);
  EXPECT_EQ(memory.block_read_words(session, 0, words.data(), 4), visa::VI_ERROR_TMO);
  EXPECT_EQ(chassis.call_count(VisaFunction::MoveOut16), 0U);
  EXPECT_EQ(chassis.call_count(VisaFunction::MoveIn16), 0U);
  EXPECT_EQ(module().memory_word(0), 0);
  EXPECT_EQ(words[0], 0x5555);
}

TEST_F(BufferMemoryTest, FailedMoveReturnsItsStatus) {
  std::vector<std::uint16_t> words(4, 0x5555);
  module().fail_next(VisaFunction::MoveOut16, visa::VI_ERROR_BERR);
  EXPECT_EQ(memory.block_write_words(session, 0, words.data(), 4), visa::VI_ERROR_BERR);
  module().fail_next(VisaFunction::MoveIn16, visa::VI_ERROR_TMO);
  EXPECT_EQ(memory.block_read_words(session, 0, words.data(), 4), visa::VI_ERROR_TMO);
}

TEST_F(BufferMemoryTest, ModuleWithoutA24OrA32MemoryMovesNothing) {
  std::vector<std::uint16_t> words(4, 0x5555);
  for (std::uint16_t bits : {std::uint16_t{2}, std::uint16_t{3}}) {
    module().set_address_space_bits(bits);
    EXPECT_EQ(memory.block_write_words(session, 0, words.data(), 4), visa::VI_SUCCESS);
    EXPECT_EQ(memory.block_read_words(session, 0, words.data(), 4), visa::VI_SUCCESS);
  }
  EXPECT_EQ(chassis.call_count(VisaFunction::MoveOut16), 0U);
  EXPECT_EQ(chassis.call_count(VisaFunction::MoveIn16), 0U);
  EXPECT_EQ(module().memory_word(0), 0);
  EXPECT_EQ(words[0], 0x5555);
}

sim::BenchConfig a32_bench() {
  sim::BenchConfig bench = sim::benches::standard();
  bench.modules[0].memory_space = visa::VI_A32_SPACE;
  return bench;
}

class BufferMemoryA32Test : public BufferMemoryTest {
 protected:
  BufferMemoryA32Test() : BufferMemoryTest(a32_bench()) {}
};

TEST_F(BufferMemoryA32Test, ModuleWithA32MemoryIsMovedInA32) {
  ASSERT_EQ(module().address_space_bits(), 1);
  std::vector<std::uint16_t> words = {1, 2, 3};
  EXPECT_EQ(memory.block_write_words(session, 0x10, words.data(), 3), visa::VI_SUCCESS);
  EXPECT_EQ(module().memory_word(0x10), 1);
  EXPECT_EQ(module().memory_word(0x14), 3);
  std::vector<std::uint16_t> back(3, 0);
  EXPECT_EQ(memory.block_read_words(session, 0x10, back.data(), 3), visa::VI_SUCCESS);
  EXPECT_EQ(back, words);

  // Told A24 by its ID register, the same module's memory is not reached.
  module().set_address_space_bits(0);
  EXPECT_LT(memory.block_write_words(session, 0x10, words.data(), 3), visa::VI_SUCCESS);
}

// A library whose failed reads leave the caller's word untouched (the standard does not say what
// a failed viIn16 hands back).
class UntouchedOnFailure final : public visa::ForwardingVisa {
 public:
  using ForwardingVisa::ForwardingVisa;
  int fail_read = -1;  // the read, counted from 0, that fails
  visa::ViStatus viIn16(visa::ViSession session, visa::ViUInt16 space, visa::ViBusAddress offset,
                        visa::ViUInt16* value) override {
    if (reads++ == fail_read) return visa::VI_ERROR_TMO;
    return inner().viIn16(session, space, offset, value);
  }

 private:
  int reads = 0;
};

TEST_F(BufferMemoryTest, AFailedReadThatHandsNothingBackComparesAsZeroAfterAFill) {
  UntouchedOnFailure library(chassis);
  library.fail_read = 1;
  BufferMemory own(library, state);
  // The fill leaves the expected words in the memory's own buffers; the failed read must not
  // find them there.
  own.fill_pattern(session, 0, kA24, 5, 1, 3);
  EXPECT_EQ(own.compare_pattern(session, 0, kA24, 5, 1, 3, Kind::WholeWord, report), 1);
  ASSERT_EQ(report.lines.size(), 2U);
  EXPECT_EQ(report.lines[0], "Miscompare at 2 Expected 6 Got 0\r\n");
  EXPECT_EQ(state.last_visa_status, visa::VI_SUCCESS) << "the last read's status";
}

}  // namespace
}  // namespace driver_tests
