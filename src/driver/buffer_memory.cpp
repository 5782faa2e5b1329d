#include "driver/buffer_memory.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "driver/quor_driver.h"
#include "driver/status_rules.h"

namespace driver {

using visa::ViSession;
using visa::ViStatus;

namespace {

// ID register of the module in A16 space; bits 13-12 give its memory's address space.
constexpr visa::ViBusAddress kIdRegisterOffset = 0;
constexpr unsigned kAddressSpaceShift = 12;
constexpr unsigned kAddressSpaceMask = 0x3;

std::string hex_text(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

BufferMemory::BufferMemory(visa::VisaLibrary& library, DriverState& state)
    : library_(library),
      state_(state),
      words_(kRunWords),
      expected_(kRunWords),
      statuses_(kRunWords) {}

void BufferMemory::fill_pattern(ViSession session, std::uint32_t byte_offset, std::uint16_t space,
                                std::uint16_t start, std::uint16_t step, std::uint32_t count) {
  const std::uint32_t words = count == 0 ? 1 : count;
  std::uint16_t value = start;
  for (std::uint32_t done = 0; done < words;) {
    const std::uint32_t block = std::min(words - done, kRunWords);
    for (std::uint32_t i = 0; i < block; ++i) {
      words_[i] = value;
      value = static_cast<std::uint16_t>((value + step) % 256);
    }
    const visa::ViBusAddress offset = static_cast<visa::ViBusAddress>(byte_offset) + 2ULL * done;
    state_.last_visa_status =
        library_.out16_run(session, space, offset, words_.data(), block, statuses_.data());
    done += block;
  }
}

std::int16_t BufferMemory::compare_pattern(ViSession session, std::uint32_t byte_offset,
                                           std::uint16_t space, std::uint16_t start,
                                           std::uint16_t step, std::uint32_t count,
                                           CompareKind kind, ReportSink& report) {
  std::int16_t miscompares = 0;
  std::uint16_t expected = start;
  visa::ReadCheck check;
  check.expected = expected_.data();
  check.mask = kind == CompareKind::LowByte ? 0x00FF : 0xFFFF;
  for (std::uint32_t done = 0; done < count && miscompares <= kMiscompareReportLimit;) {
    const std::uint32_t block = std::min(count - done, kRunWords);
    for (std::uint32_t i = 0; i < block; ++i) {
      expected_[i] = expected;
      expected = static_cast<std::uint16_t>((expected + step) % 256);
    }
    // The library stops the block at the miscompare past the limit, where the scan stops: the
    // module sees exactly the reads a word-by-word scan makes.
    check.limit = static_cast<visa::ViBusSize>(kMiscompareReportLimit - miscompares + 1);
    const std::uint32_t first = byte_offset + 2 * done;
    const auto made = static_cast<std::uint32_t>(
        library_.in16_run(session, space, first, words_.data(), block, statuses_.data(), &check));
    // A failed read is compared like any other: the value the library handed back counts.
    state_.last_visa_status = statuses_[made - 1];
    for (std::uint32_t i = 0; i < made; ++i) {
      if (!check.mismatch(words_[i], i)) continue;
      report.append_report("Miscompare at " + hex_text(first + 2 * i) + " Expected " +
                           hex_text(expected_[i]) + " Got " + hex_text(words_[i]) + "\r\n");
      ++miscompares;
    }
    done += made;
    if (made < block) break;
  }
  if (miscompares != 0) report.append_report("\r\n");
  return miscompares;
}

ViStatus BufferMemory::memory_space(ViSession session, visa::ViUInt16& space) {
  space = 0;
  visa::ViUInt16 id = 0;
  const ViStatus status = library_.viIn16(session, visa::VI_A16_SPACE, kIdRegisterOffset, &id);
  if (status < visa::VI_SUCCESS) return status;
  switch ((id >> kAddressSpaceShift) & kAddressSpaceMask) {
    case 0:
      space = visa::VI_A24_SPACE;
      break;
    case 1:
      space = visa::VI_A32_SPACE;
      break;
    default:
      break;  // no A24 or A32 memory: nothing to move
  }
  return status;
}

template <typename Move>
ViStatus BufferMemory::block_move(ViSession session, Move move) {
  if (const ViStatus check = QuorDriver::quor_check_session(session); check != visa::VI_SUCCESS) {
    return check;
  }
  visa::ViUInt16 space = 0;
  ViStatus result = memory_space(session, space);
  if (result < visa::VI_SUCCESS || space == 0) return result;
  keep_status(move(space), result);
  return result;
}

ViStatus BufferMemory::block_write_words(ViSession session, std::uint32_t byte_offset,
                                         const std::uint16_t* words, std::uint32_t count) {
  return block_move(session, [&](visa::ViUInt16 space) {
    return library_.viMoveOut16(session, space, byte_offset, count, words);
  });
}

ViStatus BufferMemory::block_read_words(ViSession session, std::uint32_t byte_offset,
                                        std::uint16_t* words, std::uint32_t count) {
  return block_move(session, [&](visa::ViUInt16 space) {
    return library_.viMoveIn16(session, space, byte_offset, count, words);
  });
}

}  // namespace driver
