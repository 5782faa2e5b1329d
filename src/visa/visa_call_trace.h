// The VISA call trace: a forwarding library that describes every call it passes on (function,
// arguments, status, start and duration) to a sink. Without a sink it only forwards, so a
// station that traces nothing pays one test of a pointer per call.
#pragma once

#include <array>
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

// Register values a run of accesses keeps in full; a longer run keeps these and its last one.
inline constexpr std::size_t kRunValuesKept = 8;

// One call as it was made. Fields a function does not take stay zero or empty.
// A sink that takes runs (VisaCallSink::takes_register_runs) may also get a run of successful
// register accesses of one function on one session to consecutive offsets, as one call: `count`
// accesses from `offset` on, the first values in `run_values`, the last one in `value`; its
// duration runs from the first access to the start of the call after the run (or the flush).
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
  std::uint64_t count = 1;  // register accesses in a run; 1 for every other call
  std::array<std::uint16_t, kRunValuesKept> run_values{};
};

class VisaCallSink {
 public:
  virtual ~VisaCallSink() = default;
  virtual void record(const VisaCall& call) = 0;
  // True when the sink takes runs of register accesses as one call (see VisaCall): tracing then
  // costs the register loops next to nothing. Asked once, when the sink is set.
  virtual bool takes_register_runs() const { return false; }
};

class TracingVisa final : public ForwardingVisa {
 public:
  explicit TracingVisa(VisaLibrary& inner, VisaCallSink* sink = nullptr) : ForwardingVisa(inner) {
    set_sink(sink);
  }
  ~TracingVisa() override { flush(); }
  TracingVisa(const TracingVisa&) = delete;
  TracingVisa& operator=(const TracingVisa&) = delete;

  // Null stops the trace; calls are then only forwarded. The run open for the old sink ends.
  void set_sink(VisaCallSink* sink);
  VisaCallSink* sink() const { return sink_; }
  // Hands the open run of register accesses, if any, to the sink.
  void flush();

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
  // The register loop's path: without a sink a forward and nothing else (no frame of its own,
  // so that it costs what any layer costs); with one, see in16_traced.
  ViStatus viIn16(ViSession session, ViUInt16 space, ViBusAddress offset,
                  ViUInt16* value) override {
    if (sink_ == nullptr) return inner().viIn16(session, space, offset, value);
    return in16_traced(session, space, offset, value);
  }
  ViStatus viOut16(ViSession session, ViUInt16 space, ViBusAddress offset,
                   ViUInt16 value) override {
    if (sink_ == nullptr) return inner().viOut16(session, space, offset, value);
    return out16_traced(session, space, offset, value);
  }
  ViStatus viMoveIn16(ViSession session, ViUInt16 space, ViBusAddress offset, ViBusSize count,
                      ViUInt16* values) override;
  ViStatus viMoveOut16(ViSession session, ViUInt16 space, ViBusAddress offset, ViBusSize count,
                       const ViUInt16* values) override;
  // A block of register accesses goes to the inner library whole. With a sink, the trace then
  // describes it as it would have described the accesses one by one (record_block).
  ViBusSize in16_run(ViSession session, ViUInt16 space, ViBusAddress first_offset, ViUInt16* values,
                     ViBusSize count, ViStatus* statuses, const ReadCheck* check) override {
    if (sink_ == nullptr)
      return inner().in16_run(session, space, first_offset, values, count, statuses, check);
    return in16_run_traced(session, space, first_offset, values, count, statuses, check);
  }
  ViStatus out16_run(ViSession session, ViUInt16 space, ViBusAddress first_offset,
                     const ViUInt16* values, ViBusSize count, ViStatus* statuses) override {
    if (sink_ == nullptr)
      return inner().out16_run(session, space, first_offset, values, count, statuses);
    return out16_run_traced(session, space, first_offset, values, count, statuses);
  }

 private:
  ViBusSize in16_run_traced(ViSession session, ViUInt16 space, ViBusAddress first_offset,
                            ViUInt16* values, ViBusSize count, ViStatus* statuses,
                            const ReadCheck* check);
  ViStatus out16_run_traced(ViSession session, ViUInt16 space, ViBusAddress first_offset,
                            const ViUInt16* values, ViBusSize count, ViStatus* statuses);
  // Hands a block the inner library has done to the sink as the calls and runs its accesses one
  // by one would have made: a block that goes on with the open run and fails nowhere only
  // extends it, without a look at the clock. `start` is the block's start when the caller took
  // it (`timed`: the block opens a run, or the sink takes no runs), else the block's end; the
  // accesses' times are spread evenly from there to the block's end.
  void record_block(VisaFunction function, ViSession session, ViUInt16 space,
                    ViBusAddress first_offset, const ViUInt16* values, ViBusSize count,
                    const ViStatus* statuses, bool timed,
                    std::chrono::steady_clock::time_point start);
  // Successful accesses that go on with the open run, as extend_run does for each.
  void extend_run_by(const ViUInt16* values, ViBusSize count);
  // True when the block must look at the clock before it starts: it does not go on with the
  // open run, or every access is a call of its own.
  bool block_needs_start(VisaFunction function, ViSession session, ViUInt16 space,
                         ViBusAddress first_offset) const {
    return !runs_ || !extends_run(function, session, space, first_offset);
  }
  // A register access with a sink: one that extends the open run keeps only its value and the
  // next offset; any other starts a run or is a call of its own.
  ViStatus in16_traced(ViSession session, ViUInt16 space, ViBusAddress offset, ViUInt16* value);
  ViStatus out16_traced(ViSession session, ViUInt16 space, ViBusAddress offset, ViUInt16 value);
  // The register access of a sink that takes runs: extends the open run, or ends it and starts
  // another (a failing access is a call of its own).
  ViStatus run_access(VisaFunction function, ViSession session, ViUInt16 space, ViBusAddress offset,
                      ViUInt16 value, ViStatus status, std::chrono::steady_clock::time_point start);
  // What an access must share with the open run's to extend it; never 0, the key of no run.
  static constexpr std::uint64_t run_key(VisaFunction function, ViSession session, ViUInt16 space) {
    return (std::uint64_t{session} << 24) | (std::uint64_t{space} << 8) |
           (static_cast<std::uint64_t>(function) + 1);
  }
  bool extends_run(VisaFunction function, ViSession session, ViUInt16 space,
                   ViBusAddress offset) const {
    return run_key_ == run_key(function, session, space) && offset == run_next_offset_;
  }
  // The run's count and last value are taken from these when it ends (end_run).
  void extend_run(ViBusAddress offset, ViUInt16 value) {
    const ViBusAddress index = (offset - run_.offset) / 2;
    if (index < kRunValuesKept) run_.run_values[index] = value;
    run_last_value_ = value;
    run_next_offset_ = offset + 2;
  }
  // The register accesses that extend no run, or are traced one by one.
  ViStatus traced_in16(ViSession session, ViUInt16 space, ViBusAddress offset, ViUInt16* value);
  ViStatus traced_out16(ViSession session, ViUInt16 space, ViBusAddress offset, ViUInt16 value);
  // The access that would have extended the open run failed: the run ends, the failure is a
  // call of its own (its function, session, space and offset are the run's next).
  ViStatus failed_in_run(ViStatus status);
  // Begins the description of a call that is no register access of a run: ends the open run.
  VisaCall start_call(VisaFunction function, ViObject object);
  // Ends the open run at `now`.
  void end_run(std::chrono::steady_clock::time_point now);

  VisaCallSink* sink_ = nullptr;
  bool runs_ = false;
  std::uint64_t run_key_ = 0;  // 0 while no run is open
  ViBusAddress run_next_offset_ = 0;
  ViUInt16 run_last_value_ = 0;
  VisaCall run_{};  // the open run's function, session, space, first offset, values and start
};

// "0x" and at least `digits` upper-case hex digits (a trace writes many: no printf here).
std::string hex_text(std::uint64_t value, int digits);
// The same, and the decimal digits of `value`, appended to `out` (the trace file's lines are
// written into one buffer, without a string per part).
void append_hex(std::string& out, std::uint64_t value, int digits);
void append_decimal(std::string& out, std::uint64_t value);

// The standard name of a status ("VI_ERROR_TMO"), or its value in hexadecimal.
std::string status_name(ViStatus status);
void append_status_name(std::string& out, ViStatus status);

// Bytes of a message as readable text: printable ASCII as it is, line ends and other bytes
// escaped (\n, \r, \xNN), at most `limit` bytes before an ellipsis.
std::string escaped_bytes(const unsigned char* bytes, std::size_t count, std::size_t limit = 200);

// The call's arguments after the object it was made on: "A24, 0x000010, 0x1234".
std::string describe_arguments(const VisaCall& call);
void append_arguments(std::string& out, const VisaCall& call);
// What the call handed back besides its status: ", handle 0x00000002, 3 found", or nothing.
std::string describe_outcome(const VisaCall& call);
void append_outcome(std::string& out, const VisaCall& call);

// One line describing the call: "viWrite(0x00000002, "*RST\n", 5) -> VI_SUCCESS, 5 returned".
// The duration and time are left to the sink, which knows how it shows time.
std::string describe_call(const VisaCall& call);

}  // namespace visa
