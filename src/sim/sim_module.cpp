// The module as a whole: its construction from the bench configuration, its power cycle and
// what the host and the tests read of it.
#include "sim/sim_module.h"

namespace sim {
namespace {

std::size_t attribute_index(visa::ViAttr attribute) {
  switch (attribute) {
    case visa::VI_ATTR_TMO_VALUE:
      return 0;
    case visa::VI_ATTR_VXI_LA:
      return 1;
    case visa::VI_ATTR_MANF_ID:
      return 2;
    case visa::VI_ATTR_MEM_SPACE:
      return 3;
    case visa::VI_ATTR_MODEL_CODE:
      return 4;
    case visa::VI_ATTR_SLOT:
      return 5;
    case visa::VI_ATTR_INTF_NUM:
      return 6;
    default:
      return 7;  // anything else
  }
}

}  // namespace

SimModule::SimModule(ModuleConfig config)
    : config_(std::move(config)),
      memory_space_(config_.memory_space),
      space_bits_(config_.memory_space == visa::VI_A32_SPACE ? 1 : 0),
      memory_(kMemoryBytes / 2, 0) {
  if (config_.identity.empty()) config_.identity = simulated_identity(config_.logical_address);
}

std::optional<std::uint16_t> SimModule::nv_register(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= nv_registers_.size()) return std::nullopt;
  return nv_registers_[static_cast<std::size_t>(index)];
}

std::uint64_t SimModule::attribute_read_count(visa::ViAttr attribute) const {
  return attribute_reads_[attribute_index(attribute)];
}

void SimModule::note_attribute_read(visa::ViAttr attribute) {
  ++attribute_reads_[attribute_index(attribute)];
}

void SimModule::power_cycle() {
  const bool use_nv = nv_flag_.value_or(1) != 0;
  if (use_nv && nv_registers_[0]) {
    const std::uint16_t id = *nv_registers_[0];
    config_.manufacturer_id = id & 0x0FFFU;
    space_bits_ = (id >> 12) & 0x3U;
    if (space_bits_ <= 1) {
      memory_space_ = space_bits_ == 0 ? visa::VI_A24_SPACE : visa::VI_A32_SPACE;
      config_.memory_space = memory_space_;
    }
  }
  if (use_nv && nv_registers_[1]) config_.model_code = *nv_registers_[1] & 0x0FFFU;
  errors_.clear();
  reply_.clear();
  reply_pos_ = 0;
  a16_.fill(0);
  routes_.fill(false);
  timer_interval_ = 0;
  receive_start_ = 0;
  receive_stop_ = 0;
  transmit_stop_ = 0;
  voltage_ = 0.0;
  clear_buffers();
  clear_stamps();
  set_mode(Mode::Idle);
}

}  // namespace sim
