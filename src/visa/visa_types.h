// Standard VISA types, attribute identifiers and status values used by the station.
// Written from the published VISA standard; no vendor header is needed to build.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define QUOR_VISA_CALL __stdcall
#else
#define QUOR_VISA_CALL
#endif

namespace visa {

using ViStatus = std::int32_t;
using ViUInt32 = std::uint32_t;
using ViInt32 = std::int32_t;
using ViUInt16 = std::uint16_t;
using ViInt16 = std::int16_t;
using ViBoolean = std::uint16_t;
using ViChar = char;
using ViObject = ViUInt32;
using ViSession = ViObject;
using ViFindList = ViObject;
using ViAttr = ViUInt32;
using ViAccessMode = ViUInt32;
using ViAttrState = std::uintptr_t;  // pointer-sized in the standard
using ViBusAddress = std::uintptr_t;
using ViBusSize = std::uintptr_t;

static_assert(sizeof(ViStatus) == 4 && static_cast<ViStatus>(-1) < 0, "ViStatus is signed 32-bit");
static_assert(sizeof(ViSession) == 4, "ViSession is 32-bit on every platform");
static_assert(sizeof(ViUInt16) == 2 && sizeof(ViInt16) == 2, "16-bit integer types");
static_assert(sizeof(ViAttrState) == sizeof(void*), "ViAttrState follows the pointer width");
static_assert(sizeof(ViBusAddress) == sizeof(void*), "ViBusAddress follows the pointer width");
static_assert(sizeof(ViBusSize) == sizeof(void*), "ViBusSize follows the pointer width");
#if defined(__LP64__) || defined(_WIN64)
static_assert(sizeof(ViAttrState) == 8 && sizeof(ViBusAddress) == 8 && sizeof(ViBusSize) == 8,
              "64-bit attribute and bus types on 64-bit platforms");
#endif

// Size of resource-name and description buffers.
inline constexpr int VI_FIND_BUFLEN = 256;

inline constexpr ViSession VI_NULL = 0;

// Completion and error codes.
inline constexpr ViStatus VI_SUCCESS = 0;
inline constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
inline constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;

constexpr ViStatus error_code(std::uint32_t raw) { return static_cast<ViStatus>(raw); }

inline constexpr ViStatus VI_ERROR_INV_OBJECT = error_code(0xBFFF000EU);
inline constexpr ViStatus VI_ERROR_INV_EXPR = error_code(0xBFFF0010U);
inline constexpr ViStatus VI_ERROR_RSRC_NFOUND = error_code(0xBFFF0011U);
inline constexpr ViStatus VI_ERROR_INV_RSRC_NAME = error_code(0xBFFF0012U);
inline constexpr ViStatus VI_ERROR_TMO = error_code(0xBFFF0015U);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR = error_code(0xBFFF001DU);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = error_code(0xBFFF001EU);
inline constexpr ViStatus VI_ERROR_BERR = error_code(0xBFFF0038U);
inline constexpr ViStatus VI_ERROR_INV_SPACE = error_code(0xBFFF004EU);
inline constexpr ViStatus VI_ERROR_INV_OFFSET = error_code(0xBFFF004FU);
inline constexpr ViStatus VI_ERROR_SYSTEM_ERROR = error_code(0xBFFF0000U);

// Instrument-driver codes (VXIplug&play): parameter errors and the instrument range.
inline constexpr ViStatus VI_ERROR_PARAMETER1 = error_code(0xBFFC0001U);
inline constexpr ViStatus VI_ERROR_PARAMETER2 = error_code(0xBFFC0002U);
inline constexpr ViStatus VI_ERROR_PARAMETER3 = error_code(0xBFFC0003U);
inline constexpr ViStatus VI_ERROR_PARAMETER8 = error_code(0xBFFC0008U);
inline constexpr ViStatus VI_INSTR_ERROR_OFFSET = error_code(0xBFFC0800U);

// Attributes.
inline constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001AU;
inline constexpr ViAttr VI_ATTR_VXI_LA = 0x3FFF00D5U;
inline constexpr ViAttr VI_ATTR_MANF_ID = 0x3FFF00D9U;
inline constexpr ViAttr VI_ATTR_MEM_SPACE = 0x3FFF00DEU;
inline constexpr ViAttr VI_ATTR_MODEL_CODE = 0x3FFF00DFU;
inline constexpr ViAttr VI_ATTR_SLOT = 0x3FFF00E8U;
inline constexpr ViAttr VI_ATTR_INTF_NUM = 0x3FFF0176U;

// Address spaces.
inline constexpr ViUInt16 VI_A16_SPACE = 1;
inline constexpr ViUInt16 VI_A24_SPACE = 2;
inline constexpr ViUInt16 VI_A32_SPACE = 3;

// Width in bytes of an attribute's value, as the library writes it into the caller's buffer.
// Unknown attributes are read at the full ViAttrState width.
constexpr int attribute_width(ViAttr attribute) {
  switch (attribute) {
    case VI_ATTR_TMO_VALUE:
      return 4;
    case VI_ATTR_VXI_LA:
    case VI_ATTR_MANF_ID:
    case VI_ATTR_MEM_SPACE:
    case VI_ATTR_MODEL_CODE:
    case VI_ATTR_SLOT:
    case VI_ATTR_INTF_NUM:
      return 2;
    default:
      return static_cast<int>(sizeof(ViAttrState));
  }
}

}  // namespace visa
