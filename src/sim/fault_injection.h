// The faults a test can inject into the simulated chassis: VISA calls that fail on purpose, and
// faults of a module's data paths and memory (the module and its firmware honour them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "visa/visa_function.h"
#include "visa/visa_types.h"

namespace sim {

// The VISA functions the chassis counts calls of, and whose calls can be made to fail.
using VisaFunction = visa::VisaFunction;

// Calls to fail, per VISA function: after letting a number of calls through, a number of calls
// fail with a chosen status.
class CallFaults {
 public:
  // The next `times` calls of `function` after the next `skip` fail with `status`; replaces
  // what was set for `function`. A count of 0 or less sets no failure.
  void fail_after(VisaFunction function, int skip, visa::ViStatus status, int times);
  // Failures still to come for `function`.
  int pending(VisaFunction function) const { return faults_[index(function)].remaining; }
  bool armed(VisaFunction function) const { return pending(function) != 0; }
  // The injected failure for this call of `function`, or VI_SUCCESS (and one call less to go).
  visa::ViStatus take(VisaFunction function) {
    Fault& fault = faults_[index(function)];
    if (fault.remaining == 0) return visa::VI_SUCCESS;
    if (fault.skip > 0) {
      --fault.skip;
      return visa::VI_SUCCESS;
    }
    --fault.remaining;
    return fault.status;
  }
  void clear() { faults_.fill(Fault{}); }

 private:
  struct Fault {
    int skip = 0;       // calls still to let through before failing
    int remaining = 0;  // failures still to come
    visa::ViStatus status = visa::VI_SUCCESS;
  };
  static constexpr std::size_t index(VisaFunction function) {
    return static_cast<std::size_t>(function);
  }
  std::array<Fault, static_cast<std::size_t>(VisaFunction::Count_)> faults_{};
};

// Bit faults on the eight data lines (the low byte of a data word): bits forced to 1, bits
// forced to 0, then bits inverted.
struct DataBitFault {
  std::uint8_t stuck_high = 0;
  std::uint8_t stuck_low = 0;
  std::uint8_t flipped = 0;
  bool any() const { return (stuck_high | stuck_low | flipped) != 0; }
  std::uint16_t apply(std::uint16_t word) const {
    const auto data = static_cast<std::uint8_t>(
        ((static_cast<unsigned>(word) | stuck_high) & ~static_cast<unsigned>(stuck_low)) ^ flipped);
    return static_cast<std::uint16_t>((word & 0xFF00U) | data);
  }
};

// Memory cells whose bits are stuck: every write into [first_byte, first_byte + bytes) has
// `stuck_high` forced to 1 and `stuck_low` forced to 0, and so has what the region holds when
// the fault is set.
struct MemoryFault {
  std::uint32_t first_byte = 0;
  std::uint32_t bytes = 0;
  std::uint16_t stuck_high = 0;
  std::uint16_t stuck_low = 0;
};

}  // namespace sim
