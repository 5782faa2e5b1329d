// The VISA operations the station uses, as one interface. Implemented by the vendor library
// bound at run time (visa_loader.h) and by the simulated chassis (src/sim).
#pragma once

#include "visa/visa_types.h"

namespace visa {

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

  // The old name of viOpenDefaultRM; not a separate library function.
  ViStatus viGetDefaultRM(ViSession* manager) { return viOpenDefaultRM(manager); }
};

}  // namespace visa
