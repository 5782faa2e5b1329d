// The VISA operations the station uses, as one interface. Implemented by the vendor library
// bound at run time (visa_loader.h) and by the simulated chassis (src/sim).
#pragma once

#include "visa/visa_types.h"

namespace visa {

// What a block of reads (VisaLibrary::in16_run) compares its words with as they come: a word
// that, under `mask`, differs from its expected word is a mismatch; the block ends with the
// `limit`-th (a scan that stops after so many, without a read past it).
struct ReadCheck {
  const ViUInt16* expected = nullptr;  // one word per read of the block
  ViUInt16 mask = 0xFFFF;
  ViBusSize limit = 1;

  bool mismatch(ViUInt16 word, ViBusSize index) const {
    return static_cast<ViUInt16>(word & mask) != expected[index];
  }
};

class VisaLibrary {
 public:
  virtual ~VisaLibrary() = default;

  virtual ViStatus viOpenDefaultRM(ViSession* manager) = 0;
  virtual ViStatus viFindRsrc(ViSession manager, const char* expression, ViFindList* list,
                              ViUInt32* count, ViChar first_name[VI_FIND_BUFLEN]) = 0;
  virtual ViStatus viFindNext(ViFindList list, ViChar next_name[VI_FIND_BUFLEN]) = 0;
  virtual ViStatus viOpen(ViSession manager, const char* resource, ViUInt32 access_mode,
                          ViUInt32 open_timeout, ViSession* session) = 0;
  virtual ViStatus viClose(ViObject object) = 0;
  // The value comes back zero-extended from the attribute's own width (see attribute_width).
  virtual ViStatus viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value) = 0;
  virtual ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) = 0;
  virtual ViStatus viWrite(ViSession session, const unsigned char* buffer, ViUInt32 count,
                           ViUInt32* returned) = 0;
  virtual ViStatus viRead(ViSession session, unsigned char* buffer, ViUInt32 count,
                          ViUInt32* returned) = 0;
  virtual ViStatus viStatusDesc(ViObject object, ViStatus status,
                                ViChar description[VI_FIND_BUFLEN]) = 0;
  virtual ViStatus viIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                          ViUInt16* value) = 0;
  virtual ViStatus viOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                           ViUInt16 value) = 0;
  virtual ViStatus viMoveIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                              ViBusSize count, ViUInt16* values) = 0;
  virtual ViStatus viMoveOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                               ViBusSize count, const ViUInt16* values) = 0;

  // Blocks of register accesses to `count` consecutive words from `first_offset` (2 bytes
  // apart), in order, each access's status in `statuses`. They make exactly the calls a loop over
  // viIn16/viOut16 makes, one by one through this library's own functions, so that a library or
  // layer that acts on single accesses sees each of them; a layer that only watches (the call
  // trace) takes a block whole and passes it on.

  // Reads into `values`. With a `check`, each word read is compared as it comes (see ReadCheck)
  // and the block ends with the read that makes the check's mismatch limit. Returns the number
  // of reads made.
  virtual ViBusSize in16_run(ViSession session, ViUInt16 space, ViBusAddress first_offset,
                             ViUInt16* values, ViBusSize count, ViStatus* statuses,
                             const ReadCheck* check) {
    ViBusSize mismatches = 0;
    for (ViBusSize i = 0; i < count; ++i) {
      // A read that fails without handing a value back reads as 0.
      values[i] = 0;
      statuses[i] = viIn16(session, space, first_offset + 2 * i, &values[i]);
      if (check != nullptr && check->mismatch(values[i], i) && ++mismatches >= check->limit) {
        return i + 1;
      }
    }
    return count;
  }
  // Writes `values`; every write is made, whatever the statuses. Returns the last one's status
  // (VI_SUCCESS for none).
  virtual ViStatus out16_run(ViSession session, ViUInt16 space, ViBusAddress first_offset,
                             const ViUInt16* values, ViBusSize count, ViStatus* statuses) {
    ViStatus status = VI_SUCCESS;
    for (ViBusSize i = 0; i < count; ++i) {
      status = viOut16(session, space, first_offset + 2 * i, values[i]);
      statuses[i] = status;
    }
    return status;
  }

  // The old name of viOpenDefaultRM; not a separate library function.
  ViStatus viGetDefaultRM(ViSession* manager) { return viOpenDefaultRM(manager); }
};

}  // namespace visa
