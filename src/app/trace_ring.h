// The last calls of the VISA trace, kept for the trace window: a ring of a fixed number of calls
// (a run of register accesses counts as one), the oldest overwritten first. No Qt here; the
// window reads it on its own timer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "visa/visa_call_trace.h"

namespace app {

class TraceRing final : public visa::VisaCallSink {
 public:
  static constexpr std::size_t kDefaultCapacity = 100'000;

  explicit TraceRing(std::size_t capacity = kDefaultCapacity);

  void record(const visa::VisaCall& call) override;
  bool takes_register_runs() const override { return true; }

  // Calls kept now (at most the capacity), oldest first.
  std::size_t size() const;
  const visa::VisaCall& at(std::size_t index) const;
  // Every call recorded since the start or the last clear, kept or not.
  std::uint64_t total() const { return total_; }
  std::size_t capacity() const { return capacity_; }
  void clear();

  // The resource name a session was opened with ("VXI0::8::INSTR"), what kind of object a
  // handle is ("resource-manager", "find-list"), or "-".
  std::string object_name(visa::ViObject object) const;
  // Names a session opened before the ring recorded its open (a unit initialized before the
  // trace window was opened); a name the ring has already is kept.
  void name_object(visa::ViObject object, std::string name);
  const std::unordered_map<visa::ViObject, std::string>& object_names() const { return names_; }

 private:
  std::size_t capacity_;
  std::vector<visa::VisaCall> calls_;  // grows to the capacity, then wraps
  std::uint64_t total_ = 0;
  std::unordered_map<visa::ViObject, std::string> names_;
};

}  // namespace app
