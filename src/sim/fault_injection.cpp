// The faults a test injects into a module, and the table of failing VISA calls.
#include "sim/fault_injection.h"

#include <utility>

#include "sim/sim_module.h"

namespace sim {

void CallFaults::fail_after(VisaFunction function, int skip, visa::ViStatus status, int times) {
  Fault& fault = faults_[index(function)];
  fault.remaining = times > 0 ? times : 0;
  fault.skip = fault.remaining > 0 && skip > 0 ? skip : 0;
  fault.status = status;
}

void SimModule::set_query_reply(std::string query, std::string reply_text) {
  const std::string key = normalized(query);
  for (auto& [known, text] : forced_replies_) {
    if (known == key) {
      text = std::move(reply_text);
      return;
    }
  }
  forced_replies_.emplace_back(key, std::move(reply_text));
}

void SimModule::clear_query_reply(std::string_view query) {
  const std::string key = normalized(query);
  std::erase_if(forced_replies_, [&](const auto& entry) { return entry.first == key; });
}

void SimModule::fail_next(VisaFunction function, visa::ViStatus status, int times) {
  fail_after(function, 0, status, times);
}

void SimModule::fail_after(VisaFunction function, int skip, visa::ViStatus status, int times) {
  faults_.fail_after(function, skip, status, times);
}

void SimModule::clear_faults() {
  faults_.clear();
  receive_fault_ = DataBitFault{};
  transmit_fault_ = DataBitFault{};
  dead_routes_.fill(false);
  extra_copies_ = 0;
  stamp_skew_from_ = 0;
  stamp_skew_ = 0;
  memory_fault_active_ = false;
}

}  // namespace sim
