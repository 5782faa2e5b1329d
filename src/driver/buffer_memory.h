// Direct access to a module's buffer memory, without the command core: pattern fill, pattern
// compare with a report line for each miscompare, and block transfers of word arrays.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/driver_state.h"
#include "driver/report_sink.h"
#include "visa/visa_library.h"

namespace driver {

// Module byte offsets of the two buffers, 524288 words each.
inline constexpr std::uint32_t kPingOffset = 0x000000;
inline constexpr std::uint32_t kPongOffset = 0x100000;
inline constexpr std::uint32_t kBufferWords = 0x100000 / 2;

// A compare reports at most this many miscompares; the scan stops at the next one.
inline constexpr std::int16_t kMiscompareReportLimit = 10;

class BufferMemory {
 public:
  enum class CompareKind {
    LowByte,    // the low byte of the word read must equal the pattern value
    WholeWord,  // the whole word read must equal the pattern value (high byte 0)
  };

  BufferMemory(visa::VisaLibrary& library, DriverState& state);

  // A pattern is `start` for its first word and, for each following word, the previous word
  // plus `step` reduced modulo 256.

  // Writes `count` pattern words (at least one) from `byte_offset` in `space`, one register
  // write per word, handed to the library in blocks (out16_run). Each write's status goes to the
  // last VISA status; none stops the fill.
  void fill_pattern(visa::ViSession session, std::uint32_t byte_offset, std::uint16_t space,
                    std::uint16_t start, std::uint16_t step, std::uint32_t count);

  // Reads `count` words back one by one and compares them with the pattern (in blocks, in16_run,
  // that end where the scan stops). Each miscompare appends a line to `report`; after more than
  // ten the scan stops. A blank line follows the lines when there were any. Returns the
  // miscompare count.
  std::int16_t compare_pattern(visa::ViSession session, std::uint32_t byte_offset,
                               std::uint16_t space, std::uint16_t start, std::uint16_t step,
                               std::uint32_t count, CompareKind kind, ReportSink& report);

  // Block moves between a word array and the module memory at `byte_offset`, in the address
  // space the module's ID register names. Return 0 or the last nonzero status met; the first
  // negative status ends the operation. A module without A24 or A32 memory moves nothing.
  visa::ViStatus block_write_words(visa::ViSession session, std::uint32_t byte_offset,
                                   const std::uint16_t* words, std::uint32_t count);
  visa::ViStatus block_read_words(visa::ViSession session, std::uint32_t byte_offset,
                                  std::uint16_t* words, std::uint32_t count);

 private:
  // Reads the ID register and picks the memory space; `space` is 0 when there is none.
  visa::ViStatus memory_space(visa::ViSession session, visa::ViUInt16& space);
  // Checks the session, picks the space and runs `move(space)`; the status rules of both moves.
  template <typename Move>
  visa::ViStatus block_move(visa::ViSession session, Move move);

  // The most register accesses handed to the library as one block (in16_run, out16_run).
  static constexpr std::uint32_t kRunWords = 4096;

  visa::VisaLibrary& library_;
  DriverState& state_;
  std::vector<visa::ViUInt16> words_;     // a block's words, written or read
  std::vector<visa::ViUInt16> expected_;  // the pattern words a block of reads is compared with
  std::vector<visa::ViStatus> statuses_;  // a block's statuses
};

}  // namespace driver
