// The call trace as text, one line per call: time, function, session and resource name,
// arguments, status and its text, duration. A run of register accesses (viIn16, viOut16) to
// consecutive offsets of one session, as the trace hands it to a sink that takes runs, is one
// line with its count, first and last offset and values, so that a memory fill stays one line. The
// trace file (--trace) and the trace window's "Save" write this format.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "visa/visa_call_trace.h"

namespace visa {

// The text of a status ("Operation completed successfully."), as the library describes it.
using StatusDescriber = std::function<std::string(ViStatus)>;

// A describer that asks `library` (viStatusDesc on object 0).
StatusDescriber library_status_describer(VisaLibrary& library);

// "HH:MM:SS.uuuuuu" (UTC) of a call's start.
class TraceClock {
 public:
  // Now on both clocks.
  TraceClock();
  // The same instant on the steady clock and on the system clock.
  TraceClock(std::chrono::steady_clock::time_point steady_origin,
             std::chrono::system_clock::time_point system_origin)
      : steady_origin_(steady_origin), system_origin_(system_origin) {}
  std::string time_of_day(std::chrono::steady_clock::time_point at) const;
  void append_time_of_day(std::string& out, std::chrono::steady_clock::time_point at) const;

 private:
  std::chrono::steady_clock::time_point steady_origin_;
  std::chrono::system_clock::time_point system_origin_;
};

// Formats calls (and runs of register accesses, see VisaCall) as trace lines.
class TraceFormatter {
 public:
  explicit TraceFormatter(StatusDescriber describe, TraceClock clock = {});

  // The line of one call or run, ending in "\n"; learns the names of the objects it opens. The
  // line stays as it is until the next one.
  const std::string& line(const VisaCall& call);

  // The resource a handle stands for: the name viOpen opened, or what kind of object it is.
  const std::string& object_name(ViObject object) const;
  // Names a handle opened before the calls this formatter sees.
  void name_object(ViObject object, std::string name) { names_[object] = std::move(name); }
  // The library's text of a status, asked once per status.
  const std::string& status_text(ViStatus status);

 private:
  void learn(const VisaCall& call);

  StatusDescriber describe_;
  TraceClock clock_;
  std::unordered_map<ViObject, std::string> names_;
  std::unordered_map<ViStatus, std::string> status_texts_;
  std::string line_;
};

// Hands every call to each of several sinks (the log, the trace file, the trace window).
class TraceFanOut final : public VisaCallSink {
 public:
  void add(VisaCallSink* sink);
  void remove(VisaCallSink* sink);
  bool empty() const { return sinks_.empty(); }
  const std::vector<VisaCallSink*>& sinks() const { return sinks_; }
  void record(const VisaCall& call) override {
    for (VisaCallSink* sink : sinks_) sink->record(call);
  }
  // Only when every sink does; set the fan-out on the trace again after adding or removing.
  bool takes_register_runs() const override;

 private:
  std::vector<VisaCallSink*> sinks_;
};

// The sinks the trace feeds, switched on and off while the station runs. With none on, the trace
// has no sink and only forwards; with one, it feeds that one directly.
class TraceSinks {
 public:
  explicit TraceSinks(TracingVisa& traced) : traced_(traced) { update(); }
  ~TraceSinks() { traced_.set_sink(nullptr); }
  TraceSinks(const TraceSinks&) = delete;
  TraceSinks& operator=(const TraceSinks&) = delete;

  void add(VisaCallSink* sink);
  void remove(VisaCallSink* sink);
  bool feeds(const VisaCallSink* sink) const;

 private:
  void update();
  TracingVisa& traced_;
  TraceFanOut fan_;
};

// Writes the trace to a file, flushing it at every message-based call (viWrite, viRead) so that
// the trace up to the last command survives a crash.
class TraceFileSink final : public VisaCallSink {
 public:
  // Opens (truncates) `path`; null with `error` set when it cannot.
  static std::unique_ptr<TraceFileSink> open(const std::string& path, StatusDescriber describe,
                                             std::string& error);
  ~TraceFileSink() override;
  TraceFileSink(const TraceFileSink&) = delete;
  TraceFileSink& operator=(const TraceFileSink&) = delete;

  void record(const VisaCall& call) override;
  bool takes_register_runs() const override { return true; }

 private:
  TraceFileSink(std::FILE* file, StatusDescriber describe);
  std::FILE* file_;
  TraceFormatter formatter_;
};

}  // namespace visa
