// A VISA library that hands every call to another one. Wrappers (the call trace, the suites'
// fault and tamper layers) derive from it and override only the calls they care about. The
// blocks of register accesses (in16_run, out16_run) keep the library's own loop over viIn16 and
// viOut16, so that a wrapper that acts on single accesses sees every one of them; a wrapper that
// only watches passes the block on whole to inner().
#pragma once

#include "visa/visa_library.h"

namespace visa {

class ForwardingVisa : public VisaLibrary {
 public:
  explicit ForwardingVisa(VisaLibrary& inner) : inner_(inner) {}

  VisaLibrary& inner() const { return inner_; }

  ViStatus viOpenDefaultRM(ViSession* manager) override { return inner_.viOpenDefaultRM(manager); }
  ViStatus viFindRsrc(ViSession manager, const char* expression, ViFindList* list, ViUInt32* count,
                      ViChar first_name[VI_FIND_BUFLEN]) override {
    return inner_.viFindRsrc(manager, expression, list, count, first_name);
  }
  ViStatus viFindNext(ViFindList list, ViChar next_name[VI_FIND_BUFLEN]) override {
    return inner_.viFindNext(list, next_name);
  }
  ViStatus viOpen(ViSession manager, const char* resource, ViUInt32 access_mode,
                  ViUInt32 open_timeout, ViSession* session) override {
    return inner_.viOpen(manager, resource, access_mode, open_timeout, session);
  }
  ViStatus viClose(ViObject object) override { return inner_.viClose(object); }
  ViStatus viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value) override {
    return inner_.viGetAttribute(object, attribute, value);
  }
  ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) override {
    return inner_.viSetAttribute(object, attribute, value);
  }
  ViStatus viWrite(ViSession session, const unsigned char* buffer, ViUInt32 count,
                   ViUInt32* returned) override {
    return inner_.viWrite(session, buffer, count, returned);
  }
  ViStatus viRead(ViSession session, unsigned char* buffer, ViUInt32 count,
                  ViUInt32* returned) override {
    return inner_.viRead(session, buffer, count, returned);
  }
  ViStatus viStatusDesc(ViObject object, ViStatus status,
                        ViChar description[VI_FIND_BUFLEN]) override {
    return inner_.viStatusDesc(object, status, description);
  }
  ViStatus viIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                  ViUInt16* value) override {
    return inner_.viIn16(session, space, offset, value);
  }
  ViStatus viOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                   ViUInt16 value) override {
    return inner_.viOut16(session, space, offset, value);
  }
  ViStatus viMoveIn16(ViSession session, ViUInt16 space, ViBusAddress offset, ViBusSize count,
                      ViUInt16* values) override {
    return inner_.viMoveIn16(session, space, offset, count, values);
  }
  ViStatus viMoveOut16(ViSession session, ViUInt16 space, ViBusAddress offset, ViBusSize count,
                       const ViUInt16* values) override {
    return inner_.viMoveOut16(session, space, offset, count, values);
  }

 private:
  VisaLibrary& inner_;
};

}  // namespace visa
