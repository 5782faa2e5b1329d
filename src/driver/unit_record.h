// The record the station keeps for each module it works with (UUT, QCU, and the one a selection
// is in progress for).
#pragma once

#include <cstdint>
#include <string>

#include "visa/visa_types.h"

namespace driver {

// Fixed-width text fields hold exactly this many characters, padded with blanks.
inline constexpr std::size_t kRecordTextLength = 255;

// Left-aligns `text` into exactly `length` characters: cut when longer, blank-padded when shorter.
std::string fixed_text(std::string_view text, std::size_t length = kRecordTextLength);

struct UnitRecord {
  visa::ViSession session = 0;  // 0 = not open
  std::string reply = fixed_text("");
  std::int16_t self_test_result = 0;
  std::string test_reply = fixed_text("");
  std::uint16_t address_space = 0;
  std::uint16_t model_code = 0;
  std::uint32_t timeout_ms = 0;
  // The resource name the session was opened with; empty while not open.
  std::string resource;
};

}  // namespace driver
