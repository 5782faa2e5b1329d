#include "sim/chassis_handles.h"

#include <utility>

namespace sim {

visa::ViObject HandleTable::add(ChassisObject added) {
  ++open_objects_;
  if (added.kind == ObjectKind::Session) ++open_sessions_;
  objects_.push_back(std::move(added));
  return static_cast<visa::ViObject>(kFirstHandle + objects_.size() - 1);
}

void HandleTable::close(visa::ViObject object) {
  ChassisObject* closing = find(object);
  if (closing == nullptr) return;
  if (closing->kind == ObjectKind::Manager) {
    for (ChassisObject& owned : objects_) {
      if (owned.kind != ObjectKind::Closed && owned.kind != ObjectKind::Manager &&
          owned.manager == object) {
        close_object(owned);
      }
    }
  }
  close_object(*closing);
}

std::size_t HandleTable::open_index(visa::ViObject handle) const {
  const std::size_t index = handle - kFirstHandle;  // wraps for small handles
  if (index >= objects_.size() || objects_[index].kind == ObjectKind::Closed) return kNone;
  return index;
}

ChassisObject* HandleTable::find(visa::ViObject handle) {
  const std::size_t index = open_index(handle);
  return index == kNone ? nullptr : &objects_[index];
}

ChassisObject* HandleTable::find(visa::ViObject handle, ObjectKind kind) {
  ChassisObject* found = find(handle);
  return found != nullptr && found->kind == kind ? found : nullptr;
}

const ChassisObject* HandleTable::find(visa::ViObject handle, ObjectKind kind) const {
  const std::size_t index = open_index(handle);
  return index != kNone && objects_[index].kind == kind ? &objects_[index] : nullptr;
}

void HandleTable::close_object(ChassisObject& closing) {
  if (closing.kind == ObjectKind::Session) --open_sessions_;
  --open_objects_;
  closing.kind = ObjectKind::Closed;
  closing.module = nullptr;
  closing.names.clear();
  closing.names.shrink_to_fit();
}

}  // namespace sim
