// A module's A16 configuration registers and its buffer memory, as the host reaches them.
#include <algorithm>
#include <cstring>

#include "sim/sim_module.h"

namespace sim {

std::uint16_t SimModule::id_register() const {
  return static_cast<std::uint16_t>(kIdDeviceClassBits | (space_bits_ << 12) |
                                    (config_.manufacturer_id & 0x0FFFU));
}

std::uint16_t SimModule::device_type_register() const {
  return static_cast<std::uint16_t>(kDeviceTypeMemoryBits | (config_.model_code & 0x0FFFU));
}

visa::ViStatus SimModule::check_window(visa::ViUInt16 space, visa::ViBusAddress offset,
                                       visa::ViBusSize words) const {
  visa::ViBusAddress window = 0;
  if (space == visa::VI_A16_SPACE) {
    window = kA16WindowBytes;
  } else if (space == memory_space_) {
    window = kMemoryBytes;
  } else {
    return visa::VI_ERROR_INV_SPACE;
  }
  if ((offset & 1U) != 0 || offset >= window) return visa::VI_ERROR_INV_OFFSET;
  if (words > (window - offset) / 2) return visa::VI_ERROR_INV_OFFSET;
  return visa::VI_SUCCESS;
}

std::uint16_t SimModule::a16_read(visa::ViBusAddress offset) const {
  switch (offset) {
    case kIdRegister:
      return id_register();
    case kDeviceTypeRegister:
      return device_type_register();
    default:
      return a16_[offset >> 1];
  }
}

void SimModule::a16_write(visa::ViBusAddress offset, visa::ViUInt16 value) {
  if (offset == kIdRegister || offset == kDeviceTypeRegister) return;  // read-only registers
  a16_[offset >> 1] = value;
  if (offset == kNextBufferRegister) {
    ++next_buffer_writes_;
    if (firmware_ != nullptr) firmware_->on_next_buffer(*this);
  }
}

visa::ViStatus SimModule::in16_slow(visa::ViUInt16 space, visa::ViBusAddress offset,
                                    visa::ViUInt16* value) const {
  const visa::ViStatus status = check_window(space, offset, 1);
  if (status != visa::VI_SUCCESS) return status;
  *value = space == visa::VI_A16_SPACE ? a16_read(offset) : memory_[offset >> 1];
  return visa::VI_SUCCESS;
}

visa::ViStatus SimModule::out16_slow(visa::ViUInt16 space, visa::ViBusAddress offset,
                                     visa::ViUInt16 value) {
  const visa::ViStatus status = check_window(space, offset, 1);
  if (status != visa::VI_SUCCESS) return status;
  if (space == visa::VI_A16_SPACE) {
    a16_write(offset, value);
  } else {
    memory_[offset >> 1] = value;
  }
  return visa::VI_SUCCESS;
}

visa::ViStatus SimModule::move_in16(visa::ViUInt16 space, visa::ViBusAddress offset,
                                    visa::ViBusSize count, visa::ViUInt16* values) {
  if (const visa::ViStatus fault = take_fault(VisaFunction::MoveIn16); fault != visa::VI_SUCCESS) {
    return fault;
  }
  const visa::ViStatus status = check_window(space, offset, count);
  if (status != visa::VI_SUCCESS) return status;
  if (space == visa::VI_A16_SPACE) {
    for (visa::ViBusSize i = 0; i < count; ++i) values[i] = a16_read(offset + 2 * i);
  } else if (count != 0) {
    std::memcpy(values, &memory_[offset >> 1], count * sizeof(std::uint16_t));
  }
  return visa::VI_SUCCESS;
}

visa::ViStatus SimModule::move_out16(visa::ViUInt16 space, visa::ViBusAddress offset,
                                     visa::ViBusSize count, const visa::ViUInt16* values) {
  if (const visa::ViStatus fault = take_fault(VisaFunction::MoveOut16); fault != visa::VI_SUCCESS) {
    return fault;
  }
  const visa::ViStatus status = check_window(space, offset, count);
  if (status != visa::VI_SUCCESS) return status;
  if (space == visa::VI_A16_SPACE) {
    for (visa::ViBusSize i = 0; i < count; ++i) a16_write(offset + 2 * i, values[i]);
  } else if (count != 0) {
    std::memcpy(&memory_[offset >> 1], values, count * sizeof(std::uint16_t));
    if (memory_fault_active_) apply_memory_fault(offset >> 1, count);
  }
  return visa::VI_SUCCESS;
}

void SimModule::write_words(std::size_t first_word, std::span<const std::uint16_t> words) {
  std::copy(words.begin(), words.end(), memory_.begin() + static_cast<std::ptrdiff_t>(first_word));
  if (memory_fault_active_) apply_memory_fault(first_word, words.size());
}

void SimModule::apply_memory_fault(std::size_t first, std::size_t count) {
  const std::size_t region_first = memory_fault_.first_byte / 2;
  const std::size_t region_end =
      std::min<std::size_t>(memory_.size(), region_first + memory_fault_.bytes / 2);
  const std::size_t from = std::max(first, region_first);
  const std::size_t to = std::min(first + count, region_end);
  const auto keep = static_cast<std::uint16_t>(~memory_fault_.stuck_low);
  for (std::size_t i = from; i < to; ++i) {
    memory_[i] = static_cast<std::uint16_t>((memory_[i] | memory_fault_.stuck_high) & keep);
  }
}

void SimModule::set_memory_fault(const MemoryFault& fault) {
  memory_fault_ = fault;
  memory_fault_active_ = true;
  apply_memory_fault(0, memory_.size());
}

void SimModule::clear_buffers() {
  std::fill(memory_.begin(), memory_.end(), 0);
  if (memory_fault_active_) apply_memory_fault(0, memory_.size());
}

}  // namespace sim
