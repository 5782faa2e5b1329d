// The Quor Bus driver's identity values and status codes.
#pragma once

#include <cstdint>

#include "visa/visa_types.h"

namespace driver {

inline constexpr std::uint16_t kQuorManufacturerId = 0x6C5;
inline constexpr std::uint16_t kQuorModelCode = 0x7B4;  // 1972

inline constexpr visa::ViStatus QUOR_ERROR_MANF_ID = visa::VI_INSTR_ERROR_OFFSET + 0;
inline constexpr visa::ViStatus QUOR_ERROR_MODEL_CODE = visa::VI_INSTR_ERROR_OFFSET + 1;
inline constexpr visa::ViStatus QUOR_ERROR_INSTRUMENT = visa::VI_INSTR_ERROR_OFFSET + 2;
// Last code of the instrument-specific range.
inline constexpr visa::ViStatus kInstrumentErrorLast = visa::error_code(0xBFFC0FFFU);

inline constexpr const char* kQuorSearchExpression = "?*VXI[0-9]*::?*INSTR";
inline constexpr visa::ViUInt32 kInitTimeoutMs = 8000;

// Size of the reply buffer of the command core; no reply is longer.
inline constexpr visa::ViUInt32 kReplyBufferSize = 1000;
// Size of a status description buffer handed to viStatusDesc.
inline constexpr int kDescriptionBufferSize = 255;

// Status-byte bit that the module sets when it rejected a command.
inline constexpr int kStatusByteErrorBit = 4;

}  // namespace driver
