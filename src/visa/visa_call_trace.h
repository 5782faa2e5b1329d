// The VISA call trace: a forwarding library that describes every call it passes on (function,
// arguments, status, start and duration) to a sink. Without a sink it only forwards, so a
// station that traces nothing pays one test of a pointer per call.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "visa/forwarding_visa.h"
#include "visa/visa_function.h"

namespace visa {

// True for the calls that move a message to or from a module (viWrite, viRead).
constexpr bool is_message_call(VisaFunction function) {
  return function == VisaFunction::Write || function == VisaFunction::Read;
}

// True for single register accesses (viIn16, viOut16).
constexpr bool is_register_call(VisaFunction function) {
  return function == VisaFunction::In16 || function == VisaFunction::Out16;
}

// One call as it was made. Fields a function does not take stay zero or empty.
struct VisaCall {
  VisaFunction function = VisaFunction::OpenDefaultRM;
  ViObject object = 0;  // the session, find list or manager the call was made on
  ViStatus status = VI_SUCCESS;
  std::chrono::steady_clock::time_point start{};
  std::chrono::nanoseconds duration{0};
  ViUInt16 space = 0;       // register and block calls
  ViBusAddress offset = 0;  // register and block calls
  ViAttr attribute = 0;     // attribute calls
  std::uint64_t value = 0;  // register value, attribute value, element or byte count,
                            // found count, access mode, status described
  ViUInt32 timeout_ms = 0;  // viOpen's open time-out
  ViObject opened = 0;      // the manager, find list or session the call handed back
  std::string text;         // expression, resource or found name, bytes written or read,
                            // status description
};

class VisaCallSink {
 public:
  virtual ~VisaCallSink() = default;
  virtual void record(const VisaCall& call) = 0;
};

class TracingVisa final : public ForwardingVisa {
 public:
  explicit TracingVisa(VisaLibrary& inner, VisaCallSink* sink = nullptr)
      : ForwardingVisa(inner), sink_(sink) {}

  // Null stops the trace; calls are then only forwarded.
  void set_sink(VisaCallSink* sink) { sink_ = sink; }
  VisaCallSink* sink() const { return sink_; }

  ViStatus viOpenDefaultRM(ViSession* manager) override;
  ViStatus viFindRsrc(ViSession manager, const char* expression, ViFindList* list, ViUInt32* count,
                      ViChar first_name[VI_FIND_BUFLEN]) override;
  ViStatus viFindNext(ViFindList list, ViChar next_name[VI_FIND_BUFLEN]) override;
  ViStatus viOpen(ViSession manager, const char* resource, ViUInt32 access_mode,
                  ViUInt32 open_timeout, ViSession* session) override;
  ViStatus viClose(ViObject object) override;
  ViStatus viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value) override;
  ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value) override;
  ViStatus viWrite(ViSession session, const unsigned char* buffer, ViUInt32 count,
                   ViUInt32* returned) override;
  ViStatus viRead(ViSession session, unsigned char* buffer, ViUInt32 count,
                  ViUInt32* returned) override;
  ViStatus viStatusDesc(ViObject object, ViStatus status,
                        ViChar description[VI_FIND_BUFLEN]) override;
  ViStatus viIn16(ViSession session, ViUInt16 space, ViBusAddress offset, ViUInt16* value) override;
  ViStatus viOut16(ViSession session, ViUInt16 space, ViBusAddress offset, ViUInt16 value) override;
  ViStatus viMoveIn16(ViSession session, ViUInt16 space, ViBusAddress offset, ViBusSize count,
                      ViUInt16* values) override;
  ViStatus viMoveOut16(ViSession session, ViUInt16 space, ViBusAddress offset, ViBusSize count,
                       const ViUInt16* values) override;

 private:
  VisaCallSink* sink_;
};

// The standard name of a status ("VI_ERROR_TMO"), or its value in hexadecimal.
std::string status_name(ViStatus status);

// Bytes of a message as readable text: printable ASCII as it is, line ends and other bytes
// escaped (\n, \r, \xNN), at most `limit` bytes before an ellipsis.
std::string escaped_bytes(const unsigned char* bytes, std::size_t count, std::size_t limit = 200);

// One line describing the call: "viWrite(0x00000002, "*RST\n", 5) -> VI_SUCCESS, 5 returned".
// The duration and time are left to the sink, which knows how it shows time.
std::string describe_call(const VisaCall& call);

}  // namespace visa
