// "SYST:ERR?" through the driver's command core: the fuzzer's bytes are the module's replies,
// the error entry and then the status byte, split at the first 0x1F byte (a status byte of "0"
// when there is none). A reply may hold any byte, any length, with or without a line end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/quor_driver.h"
#include "sim/sim_chassis.h"
#include "testing/scripted_operator.h"
#include "testing/virtual_pump.h"
#include "visa/forwarding_visa.h"

namespace {

// Answers every read from a list of replies; writes go nowhere.
class ReplyingVisa final : public visa::ForwardingVisa {
 public:
  using ForwardingVisa::ForwardingVisa;
  std::string_view replies[2];
  int next = 0;
  std::size_t read_at = 0;

  visa::ViStatus viWrite(visa::ViSession, const unsigned char*, visa::ViUInt32 count,
                         visa::ViUInt32* returned) override {
    if (returned != nullptr) *returned = count;
    return visa::VI_SUCCESS;
  }
  visa::ViStatus viRead(visa::ViSession, unsigned char* buffer, visa::ViUInt32 count,
                        visa::ViUInt32* returned) override {
    const std::string_view reply = replies[std::min(next, 1)];
    const std::size_t n = std::min<std::size_t>(count, reply.size() - read_at);
    std::memcpy(buffer, reply.data() + read_at, n);
    read_at += n;
    if (returned != nullptr) *returned = static_cast<visa::ViUInt32>(n);
    if (read_at < reply.size()) return visa::VI_SUCCESS_MAX_CNT;
    ++next;
    read_at = 0;
    return visa::VI_SUCCESS;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The chassis only stands behind the calls that are not answered here.
  static sim::VirtualClock clock;
  static sim::SimChassis chassis(sim::benches::standard(), clock);
  ReplyingVisa visa(chassis);
  const std::size_t split = input.find('\x1f');
  visa.replies[0] = input.substr(0, split);
  visa.replies[1] =
      split == std::string_view::npos ? std::string_view("0") : input.substr(split + 1);
  driver::DriverState state;
  testing_support::ScriptedOperator person;
  testing_support::VirtualPump pump(state, clock);
  driver::QuorDriver driver(visa, state, person, pump);

  std::int32_t number = 0;
  std::string message;
  const visa::ViStatus status = driver.quor_error_query(1, number, message);
  if (status == visa::VI_SUCCESS && message.size() > input.size()) std::abort();
  driver::UnitRecord unit;
  unit.session = 1;
  unit.model_code = driver::kQuorModelCode;
  const std::string report =
      driver.format_error_report(unit, driver::QUOR_ERROR_INSTRUMENT, "a step");
  if (report.rfind("a step\n", 0) != 0) std::abort();
  return 0;
}
