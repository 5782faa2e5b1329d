// The simulated chassis as a VISA shared library: the standard VISA C functions over one
// chassis with the standard bench on the real clock. A program that loads this file at run time
// talks to the simulated modules exactly as it would to a vendor library.
#include <cstring>

#include "sim/sim_chassis.h"
#include "visa/visa_types.h"

#if defined(_WIN32)
#define QUOR_EXPORT __declspec(dllexport)
#else
#define QUOR_EXPORT __attribute__((visibility("default")))
#endif

using namespace visa;

namespace {

// A C API carries no context argument, so the library keeps its one chassis here: the only
// library-level instance in the simulator, built on first use and never shared otherwise.
sim::SimChassis& chassis() {
  static sim::RealClock clock;
  static sim::SimChassis instance(sim::benches::standard(), clock);
  return instance;
}

}  // namespace

extern "C" {

// Present only in the simulated chassis: the loader looks for it so that a simulated chassis
// is never taken for real hardware.
QUOR_EXPORT extern const char quor_sim_chassis_marker[];
const char quor_sim_chassis_marker[] = "Quor Bus simulated chassis";

QUOR_EXPORT ViStatus QUOR_VISA_CALL viOpenDefaultRM(ViSession* manager) {
  return chassis().viOpenDefaultRM(manager);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viFindRsrc(ViSession manager, const char* expression,
                                               ViFindList* list, ViUInt32* count,
                                               ViChar* first_name) {
  return chassis().viFindRsrc(manager, expression, list, count, first_name);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viFindNext(ViFindList list, ViChar* next_name) {
  return chassis().viFindNext(list, next_name);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viOpen(ViSession manager, const char* resource,
                                           ViUInt32 access_mode, ViUInt32 open_timeout,
                                           ViSession* session) {
  return chassis().viOpen(manager, resource, access_mode, open_timeout, session);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viClose(ViObject object) { return chassis().viClose(object); }

// The caller's buffer has the attribute's own width: two bytes for the 16-bit attributes, four
// for the time-out. Write exactly that many bytes.
QUOR_EXPORT ViStatus QUOR_VISA_CALL viGetAttribute(ViObject object, ViAttr attribute, void* value) {
  if (value == nullptr) return chassis().viGetAttribute(object, attribute, nullptr);
  ViAttrState wide = 0;
  const ViStatus status = chassis().viGetAttribute(object, attribute, &wide);
  if (status < VI_SUCCESS) return status;
  switch (attribute_width(attribute)) {
    case 2: {
      const ViUInt16 narrow = static_cast<ViUInt16>(wide);
      std::memcpy(value, &narrow, sizeof narrow);
      break;
    }
    case 4: {
      const ViUInt32 narrow = static_cast<ViUInt32>(wide);
      std::memcpy(value, &narrow, sizeof narrow);
      break;
    }
    default:
      std::memcpy(value, &wide, sizeof wide);
      break;
  }
  return status;
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viSetAttribute(ViObject object, ViAttr attribute,
                                                   ViAttrState value) {
  return chassis().viSetAttribute(object, attribute, value);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viWrite(ViSession session, const unsigned char* buffer,
                                            ViUInt32 count, ViUInt32* returned) {
  return chassis().viWrite(session, buffer, count, returned);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viRead(ViSession session, unsigned char* buffer, ViUInt32 count,
                                           ViUInt32* returned) {
  return chassis().viRead(session, buffer, count, returned);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viStatusDesc(ViObject object, ViStatus status,
                                                 ViChar* description) {
  return chassis().viStatusDesc(object, status, description);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                           ViUInt16* value) {
  return chassis().viIn16(session, space, offset, value);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                                            ViUInt16 value) {
  return chassis().viOut16(session, space, offset, value);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viMoveIn16(ViSession session, ViUInt16 space,
                                               ViBusAddress offset, ViBusSize count,
                                               ViUInt16* values) {
  return chassis().viMoveIn16(session, space, offset, count, values);
}

QUOR_EXPORT ViStatus QUOR_VISA_CALL viMoveOut16(ViSession session, ViUInt16 space,
                                                ViBusAddress offset, ViBusSize count,
                                                const ViUInt16* values) {
  return chassis().viMoveOut16(session, space, offset, count, values);
}

}  // extern "C"
