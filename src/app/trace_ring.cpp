#include "app/trace_ring.h"

namespace app {

TraceRing::TraceRing(std::size_t capacity) : capacity_(capacity > 0 ? capacity : 1) {}

void TraceRing::record(const visa::VisaCall& call) {
  if (calls_.size() < capacity_) {
    calls_.push_back(call);
  } else {
    calls_[total_ % capacity_] = call;
  }
  ++total_;
  if (call.status < visa::VI_SUCCESS) return;
  switch (call.function) {
    case visa::VisaFunction::OpenDefaultRM:
      names_[call.opened] = "resource-manager";
      break;
    case visa::VisaFunction::FindRsrc:
      names_[call.opened] = "find-list";
      break;
    case visa::VisaFunction::Open:
      names_[call.opened] = call.text;
      break;
    default:
      break;
  }
}

std::size_t TraceRing::size() const { return calls_.size(); }

const visa::VisaCall& TraceRing::at(std::size_t index) const {
  if (calls_.size() < capacity_) return calls_[index];
  return calls_[(total_ + index) % capacity_];
}

void TraceRing::clear() {
  calls_.clear();
  total_ = 0;
}

void TraceRing::name_object(visa::ViObject object, std::string name) {
  if (object != 0 && !name.empty()) names_.try_emplace(object, std::move(name));
}

std::string TraceRing::object_name(visa::ViObject object) const {
  const auto found = names_.find(object);
  return found == names_.end() ? std::string("-") : found->second;
}

}  // namespace app
