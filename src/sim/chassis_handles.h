// The chassis's open objects behind their VISA handles: resource managers, find lists and
// module sessions. Handles are never reused: a closed one stays invalid for the chassis's
// lifetime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "visa/visa_types.h"

namespace sim {

class SimModule;

enum class ObjectKind : std::uint8_t { Closed, Manager, FindList, Session };

inline constexpr std::uint32_t kDefaultTimeoutMs = 2000;

struct ChassisObject {
  ObjectKind kind = ObjectKind::Closed;
  visa::ViSession manager = visa::VI_NULL;  // owning manager (find lists and sessions)
  SimModule* module = nullptr;              // sessions
  std::uint32_t timeout_ms = kDefaultTimeoutMs;
  std::vector<std::string> names;  // find lists: the matches
  std::size_t next = 0;            // find lists: index of the next name to hand out
};

class HandleTable {
 public:
  // Keeps `added` open under a new handle.
  visa::ViObject add(ChassisObject added);
  // Closes `object`; closing a manager closes every find list and session opened through it.
  void close(visa::ViObject object);

  // The open object behind a handle (of the given kind), or null.
  ChassisObject* find(visa::ViObject handle);
  ChassisObject* find(visa::ViObject handle, ObjectKind kind);
  const ChassisObject* find(visa::ViObject handle, ObjectKind kind) const;
  // The module of an open session, or null: the register path's only lookup.
  SimModule* session_module(visa::ViSession session) const {
    const std::size_t index = session - kFirstHandle;  // wraps for small handles
    if (index >= objects_.size()) return nullptr;
    const ChassisObject& found = objects_[index];
    return found.kind == ObjectKind::Session ? found.module : nullptr;
  }

  int open_objects() const { return open_objects_; }
  int open_sessions() const { return open_sessions_; }

 private:
  // Handles start well above 0 so that a handle is never mistaken for a count or an index.
  static constexpr visa::ViObject kFirstHandle = 0x100;

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // Index of the open object behind a handle, or kNone.
  std::size_t open_index(visa::ViObject handle) const;
  void close_object(ChassisObject& closing);

  std::vector<ChassisObject> objects_;  // index = handle - kFirstHandle
  int open_objects_ = 0;
  int open_sessions_ = 0;
};

}  // namespace sim
