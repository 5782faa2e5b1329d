// A stand-in VISA library for the loader tests. Built twice:
//  - QUOR_FAKE_OMIT_MOVE_OUT16: exports every function but viMoveOut16, so the loader must
//    refuse it;
//  - QUOR_FAKE_FAILING_MANAGER: complete, but viOpenDefaultRM fails with VI_ERROR_SYSTEM_ERROR,
//    as a library whose driver is not set up does;
//  - otherwise complete, with a viGetAttribute that writes the value's low bytes at the
//    attribute's width and fills the rest of an 8-byte buffer with junk, as a careless library
//    might. The loader must hand back only the attribute's own width.
#include <cstring>

#include "visa/visa_types.h"

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using namespace visa;

FAKE_EXPORT ViStatus viOpenDefaultRM(ViSession* manager) {
#if defined(QUOR_FAKE_FAILING_MANAGER)
  *manager = 0;
  return VI_ERROR_SYSTEM_ERROR;
#else
  *manager = 1;
  return VI_SUCCESS;
#endif
}
FAKE_EXPORT ViStatus viFindRsrc(ViSession, const char*, ViFindList*, ViUInt32*, ViChar*) {
  return VI_ERROR_RSRC_NFOUND;
}
FAKE_EXPORT ViStatus viFindNext(ViFindList, ViChar*) { return VI_ERROR_RSRC_NFOUND; }
FAKE_EXPORT ViStatus viOpen(ViSession, const char*, ViUInt32, ViUInt32, ViSession* session) {
  *session = 2;
  return VI_SUCCESS;
}
FAKE_EXPORT ViStatus viClose(ViObject) { return VI_SUCCESS; }

// Test attributes: VI_ATTR_MANF_ID gives 0x06C5, VI_ATTR_VXI_LA gives -1 (0xFFFF),
// VI_ATTR_TMO_VALUE gives 6000.
FAKE_EXPORT ViStatus viGetAttribute(ViObject, ViAttr attribute, void* value) {
  unsigned char junk[8];
  std::memset(junk, 0xAB, sizeof junk);
  switch (attribute) {
    case VI_ATTR_MANF_ID: {
      const ViUInt16 manufacturer = 0x06C5;
      std::memcpy(junk, &manufacturer, sizeof manufacturer);
      break;
    }
    case VI_ATTR_VXI_LA: {
      const ViInt16 logical_address = -1;
      std::memcpy(junk, &logical_address, sizeof logical_address);
      break;
    }
    case VI_ATTR_TMO_VALUE: {
      const ViUInt32 timeout = 6000;
      std::memcpy(junk, &timeout, sizeof timeout);
      break;
    }
    default:
      return VI_ERROR_NSUP_ATTR;
  }
  std::memcpy(value, junk, sizeof junk);  // the caller's buffer is 64-bit in the loader
  return VI_SUCCESS;
}
FAKE_EXPORT ViStatus viSetAttribute(ViObject, ViAttr, ViAttrState) { return VI_SUCCESS; }
FAKE_EXPORT ViStatus viWrite(ViSession, const unsigned char*, ViUInt32 count, ViUInt32* returned) {
  *returned = count;
  return VI_SUCCESS;
}
FAKE_EXPORT ViStatus viRead(ViSession, unsigned char*, ViUInt32, ViUInt32* returned) {
  *returned = 0;
  return VI_ERROR_TMO;
}
FAKE_EXPORT ViStatus viStatusDesc(ViObject, ViStatus status, ViChar* text) {
  std::strcpy(text, status == VI_ERROR_SYSTEM_ERROR ? "Unknown system error (miscellaneous error)."
                                                    : "fake");
  return VI_SUCCESS;
}
FAKE_EXPORT ViStatus viIn16(ViSession, ViUInt16, ViBusAddress, ViUInt16* value) {
  *value = 0;
  return VI_SUCCESS;
}
FAKE_EXPORT ViStatus viOut16(ViSession, ViUInt16, ViBusAddress, ViUInt16) { return VI_SUCCESS; }
FAKE_EXPORT ViStatus viMoveIn16(ViSession, ViUInt16, ViBusAddress, ViBusSize, ViUInt16*) {
  return VI_SUCCESS;
}
#if !defined(QUOR_FAKE_OMIT_MOVE_OUT16)
FAKE_EXPORT ViStatus viMoveOut16(ViSession, ViUInt16, ViBusAddress, ViBusSize, const ViUInt16*) {
  return VI_SUCCESS;
}
#endif
