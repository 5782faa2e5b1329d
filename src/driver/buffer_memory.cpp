#include "driver/buffer_memory.h"

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
    : library_(library), state_(state) {}

void BufferMemory::fill_pattern(ViSession session, std::uint32_t byte_offset, std::uint16_t space,
                                std::uint16_t start, std::uint16_t step, std::uint32_t count) {
  const std::uint32_t words = count == 0 ? 1 : count;
  std::uint16_t value = start;
  for (std::uint32_t i = 0; i < words; ++i) {
    const visa::ViBusAddress offset = static_cast<visa::ViBusAddress>(byte_offset) + 2ULL * i;
    state_.last_visa_status = library_.viOut16(session, space, offset, value);
    value = static_cast<std::uint16_t>((value + step) % 256);
  }
}

std::int16_t BufferMemory::compare_pattern(ViSession session, std::uint32_t byte_offset,
                                           std::uint16_t space, std::uint16_t start,
                                           std::uint16_t step, std::uint32_t count,
                                           CompareKind kind, ReportSink& report) {
  std::int16_t miscompares = 0;
  std::uint16_t expected = start;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t offset = byte_offset + 2 * i;
    visa::ViUInt16 word = 0;
    // A failed read is compared like any other: the value the library handed back counts.
    state_.last_visa_status = library_.viIn16(session, space, offset, &word);
    const std::uint16_t seen = kind == CompareKind::LowByte ? (word & 0xFFU) : word;
    if (seen != expected) {
      report.append_report("Miscompare at " + hex_text(offset) + " Expected " + hex_text(expected) +
                           " Got " + hex_text(word) + "\r\n");
      ++miscompares;
      if (miscompares > kMiscompareReportLimit) break;
    }
    expected = static_cast<std::uint16_t>((expected + step) % 256);
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
