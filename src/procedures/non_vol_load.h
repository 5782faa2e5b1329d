// "Load Non-Vol": writes a module's VXI identity into its non-volatile memory.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/station.h"

namespace procedures {

namespace non_vol_text {
inline constexpr const char* kPrompt = "What is the address of UUT";
inline constexpr const char* kDefaultAnswer = "8";
inline constexpr const char* kLoaded = "Non-Vol memory has been load, Restart the chassis";
inline constexpr const char* kShutDown = "Program will shut down";
inline constexpr const char* kTypeMismatch = "Type mismatch";
inline constexpr const char* kOverflow = "Overflow";
}  // namespace non_vol_text

// The configuration lines, in the order they are written.
inline constexpr const char* kNonVolLines[] = {
    "vxi_scan();", "nvsetflag(1);", "nvsetvxireg(0, #H86c5);", "nvsetvxireg(1, #H27b4);"};

// This operation's own values, kept between runs.
struct NonVolState {
  std::int16_t address = 0;
  std::string resource;
  visa::ViSession manager = 0;
  visa::ViSession session = 0;
};

// An answer converted to a 16-bit integer the way the language converts text, or the
// description of the run-time error the conversion raises.
struct AddressConversion {
  std::optional<std::int16_t> value;
  std::string error;
};
AddressConversion convert_address(const std::optional<std::string>& answer);

class NonVolLoad {
 public:
  // `end_program` ends the program at once, without the main window's shut-down.
  NonVolLoad(core::Station& station, std::function<void()> end_program);

  // The handler of "Load Non-Vol".
  void load_non_vol();

  const NonVolState& state() const { return state_; }

 private:
  // False when the program is to end (an address that is no number).
  bool load_on_units();

  core::Station& station_;
  std::function<void()> end_program_;
  NonVolState state_;
};

}  // namespace procedures
