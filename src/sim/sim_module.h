// One simulated Quor Bus (or other) module: its A16 configuration registers and buffer memory
// (module_registers.cpp), its message-based command set with the SCPI error queue
// (module_commands.cpp), the fault-injection controls that tests use to make it misbehave on
// purpose (fault_injection.cpp), and the hooks of its firmware (firmware.h, quor_firmware.h).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/bench_config.h"
#include "sim/command_parser.h"
#include "sim/fault_injection.h"
#include "sim/firmware.h"
#include "sim/module_facts.h"
#include "sim/recent_history.h"
#include "visa/visa_types.h"

namespace sim {

class SimModule {
 public:
  // The module keeps this many of its most recent commands (and time-out settings), so that a
  // long run keeps its memory. The largest suite run sends about 5300 commands to one module.
  static constexpr std::size_t kCommandHistoryLength = 8192;
  static constexpr std::size_t kTimeoutHistoryLength = 64;
  using CommandHistory = RecentHistory<std::string, kCommandHistoryLength>;
  using TimeoutHistory = RecentHistory<std::uint32_t, kTimeoutHistoryLength>;

  explicit SimModule(ModuleConfig config);

  const ModuleConfig& config() const { return config_; }
  std::int16_t logical_address() const { return config_.logical_address; }

  // --- Registers and memory, as the host sees them ---
  // VXI ID register: device class 10b, the address-space bits, the manufacturer identification.
  std::uint16_t id_register() const;
  // Device-type register: memory-size code 2 in the top four bits, the model code's low 12.
  std::uint16_t device_type_register() const;
  // Address-space bits 13-12 of the ID register (0 = A24, 1 = A32; 2 and 3 mean no A24/A32
  // memory). Starts from the configured memory space; tests may set any of 0 to 3. The memory
  // itself stays in the configured space.
  std::uint16_t address_space_bits() const { return space_bits_; }
  void set_address_space_bits(std::uint16_t bits) { space_bits_ = bits & 0x3U; }
  // One word of buffer memory at an even byte offset below kMemoryBytes.
  std::uint16_t memory_word(std::uint32_t byte_offset) const { return memory_[byte_offset >> 1]; }
  // Writes as the bus would, so a memory fault applies.
  void set_memory_word(std::uint32_t byte_offset, std::uint16_t value) {
    memory_[byte_offset >> 1] = value;
    if (memory_fault_active_) [[unlikely]]
      apply_memory_fault(byte_offset >> 1, 1);
  }
  // Stores `words` from word index `first_word` on (firmware writes; a memory fault applies).
  // The words must fit below kMemoryBytes.
  void write_words(std::size_t first_word, std::span<const std::uint16_t> words);
  // The whole buffer memory, one element per word (for bulk checks; writes through it bypass a
  // memory fault).
  std::vector<std::uint16_t>& memory_words() { return memory_; }
  const std::vector<std::uint16_t>& memory_words() const { return memory_; }
  // Last value written to the next-buffer register, and how many writes it has had.
  std::uint16_t next_buffer_register() const { return a16_[kNextBufferRegister >> 1]; }
  std::uint64_t next_buffer_write_count() const { return next_buffer_writes_; }

  // --- Message-based state ---
  // The most recent kCommandHistoryLength command texts received by viWrite, exactly as sent,
  // oldest first.
  const CommandHistory& command_log() const { return command_log_; }
  // Every command received, kept in the log or not.
  std::uint64_t commands_received() const { return command_log_.total(); }
  // How many of the kept commands equal `command`, ignoring case, blanks around it and a line
  // end.
  std::size_t command_count(std::string_view command) const;
  std::uint64_t reset_count() const { return reset_count_; }  // *RST accepted
  std::uint64_t query_count() const { return query_count_; }  // commands holding a header "?"
  Mode mode() const { return mode_; }
  bool route_closed(Route route) const { return routes_[static_cast<std::size_t>(route)]; }
  std::uint32_t timer_interval() const { return timer_interval_; }  // "tim <n>"
  std::uint32_t receive_start() const { return receive_start_; }    // "comm:rec:start <n>"
  std::uint32_t receive_stop() const { return receive_stop_; }      // "comm:rec:stop <n>"
  std::uint32_t transmit_stop() const { return transmit_stop_; }    // "comm:tran:stop <n>"
  double cal_constant() const { return cal_constant_; }             // "CAL 0<number>"
  double voltage() const { return voltage_; }                       // "VOLT <n>"
  // Non-volatile configuration written with "nvsetvxireg(<n>, #H<hex>);" (not yet in force).
  std::optional<std::uint16_t> nv_register(int index) const;
  std::optional<int> nv_flag() const { return nv_flag_; }

  const std::deque<ScpiError>& error_queue() const { return errors_; }
  // Queues an error as the parser would; sets status-byte bit value 4.
  void push_error(int code, std::string message);
  // Status byte as *STB? reports it: bit value 4 while the error queue is not empty.
  std::uint8_t status_byte() const;

  // Time stamps that "trac:data? stamp" reports: the first kStampCount frames received since
  // the stamps were last cleared ("trac:data:clr stam", the start of a receive mode, *RST).
  const std::array<std::uint16_t, kStampCount>& stamps() const { return stamps_; }
  void set_stamps(const std::array<std::uint16_t, kStampCount>& stamps) {
    stamps_ = stamps;
    stamp_count_ = kStampCount;
  }
  std::size_t stamp_count() const { return stamp_count_; }
  // Keeps `stamp` when fewer than kStampCount are kept.
  void record_stamp(std::uint16_t stamp) {
    if (stamp_count_ < kStampCount) stamps_[stamp_count_++] = stamp;
  }
  void clear_stamps() {
    stamps_.fill(0);
    stamp_count_ = 0;
  }
  // Result that *TST? reports; 0 = passed.
  void set_self_test_result(int result) { self_test_result_ = result; }

  // How often the host read an attribute of this module, and the most recent time-outs set on
  // it (oldest first).
  std::uint64_t attribute_read_count(visa::ViAttr attribute) const;
  const TimeoutHistory& timeout_settings() const { return timeout_settings_; }

  // --- Fault injection ---
  // Replies `reply` (the chassis adds "\n") to the query `query`, compared ignoring case and
  // blanks around it, instead of the built-in reply and its effects. An empty reply is allowed.
  void set_query_reply(std::string query, std::string reply);
  void clear_query_reply(std::string_view query);
  // The next `times` calls of `function` on this module fail with `status` and have no effect.
  // Applies to Open, GetAttribute, SetAttribute, Write, Read, In16, Out16, MoveIn16, MoveOut16.
  // A failed In16 hands back 0xFFFF, as an unanswered bus read would.
  void fail_next(VisaFunction function, visa::ViStatus status, int times = 1);
  // As fail_next, after letting the next `skip` calls of `function` succeed (for instance to
  // let the search's own viOpen of each module pass and fail the open that follows).
  void fail_after(VisaFunction function, int skip, visa::ViStatus status, int times = 1);
  int pending_failures(VisaFunction function) const { return faults_.pending(function); }
  // Clears every injected fault: call failures and the frame, stamp and memory faults below.
  void clear_faults();

  // Faults of the data paths (the firmware honours them):
  // Data bits of each frame the receiver stores / the transmitter sends.
  void set_receive_data_fault(DataBitFault fault) { receive_fault_ = fault; }
  void set_transmit_data_fault(DataBitFault fault) { transmit_fault_ = fault; }
  const DataBitFault& receive_data_fault() const { return receive_fault_; }
  const DataBitFault& transmit_data_fault() const { return transmit_fault_; }
  // A dead input receives nothing; a dead output sends nothing (even with its route closed).
  void set_route_dead(Route route, bool dead = true) {
    dead_routes_[static_cast<std::size_t>(route)] = dead;
  }
  bool route_dead(Route route) const { return dead_routes_[static_cast<std::size_t>(route)]; }
  // Every frame the transmitter sends goes out `extra_copies` more times right after itself.
  void set_repeated_frames(int extra_copies) {
    extra_copies_ = extra_copies > 0 ? extra_copies : 0;
  }
  int repeated_frames() const { return extra_copies_; }
  // The time-stamp counter jumps by `counts` just before the frame `from_frame` (0 = the first)
  // of each receive run: that frame's interval to the one before it is off by `counts`.
  void set_stamp_skew(std::size_t from_frame, std::int32_t counts) {
    stamp_skew_from_ = from_frame;
    stamp_skew_ = counts;
  }
  std::size_t stamp_skew_from() const { return stamp_skew_from_; }
  std::int32_t stamp_skew() const { return stamp_skew_; }
  // Stuck bits in a region of the buffer memory (one fault at a time; replaces the last one).
  void set_memory_fault(const MemoryFault& fault);

  // A power cycle: the module comes back idle, routes open, error queue, pending reply,
  // buffers and stamps cleared. Stored non-volatile identity values come into force (unless
  // "nvsetflag(0);" disabled them): register 0 gives the manufacturer identification (low 12
  // bits) and the address-space bits (bits 13-12; 0 puts the memory in A24, 1 in A32),
  // register 1 the model code (low 12 bits). Faults and the firmware stay.
  void power_cycle();

  // Attaches firmware (not owned; must outlive the module or be detached with nullptr).
  void set_firmware(Firmware* firmware) { firmware_ = firmware; }
  Firmware* firmware() const { return firmware_; }

  // --- Served by the chassis for an open session (no counting, no handle checks here) ---
  // An injected failure for the next call of `function`, or VI_SUCCESS.
  visa::ViStatus take_fault(VisaFunction function) { return faults_.take(function); }

  visa::ViStatus in16(visa::ViUInt16 space, visa::ViBusAddress offset, visa::ViUInt16* value) {
    if (faults_.armed(VisaFunction::In16)) [[unlikely]] {
      if (const visa::ViStatus fault = take_fault(VisaFunction::In16); fault != visa::VI_SUCCESS) {
        *value = 0xFFFF;
        return fault;
      }
    }
    if (space == memory_space_ && offset < kMemoryBytes && (offset & 1U) == 0) {
      *value = memory_[offset >> 1];
      return visa::VI_SUCCESS;
    }
    return in16_slow(space, offset, value);
  }

  visa::ViStatus out16(visa::ViUInt16 space, visa::ViBusAddress offset, visa::ViUInt16 value) {
    if (faults_.armed(VisaFunction::Out16)) [[unlikely]] {
      if (const visa::ViStatus fault = take_fault(VisaFunction::Out16); fault != visa::VI_SUCCESS) {
        return fault;
      }
    }
    if (space == memory_space_ && offset < kMemoryBytes && (offset & 1U) == 0) {
      memory_[offset >> 1] = value;
      if (memory_fault_active_) [[unlikely]]
        apply_memory_fault(offset >> 1, 1);
      return visa::VI_SUCCESS;
    }
    return out16_slow(space, offset, value);
  }

  visa::ViStatus move_in16(visa::ViUInt16 space, visa::ViBusAddress offset, visa::ViBusSize count,
                           visa::ViUInt16* values);
  visa::ViStatus move_out16(visa::ViUInt16 space, visa::ViBusAddress offset, visa::ViBusSize count,
                            const visa::ViUInt16* values);

  // Interprets one command written by the host; a reply it makes waits for read_reply().
  void write_command(std::string_view text);
  bool reply_pending() const { return reply_pos_ < reply_.size(); }
  // Copies reply bytes up to and including the "\n", at most `count`; the rest stays for the
  // next read. Returns the number copied; `ended` tells whether the "\n" was among them.
  std::size_t read_reply(unsigned char* buffer, std::size_t count, bool* ended);

  void note_attribute_read(visa::ViAttr attribute);
  void note_timeout_set(std::uint32_t timeout_ms) { timeout_settings_.push_back(timeout_ms); }
  void run_firmware(std::uint64_t now_us) {
    if (firmware_ != nullptr) firmware_->on_time(*this, now_us);
  }

 private:
  visa::ViStatus check_window(visa::ViUInt16 space, visa::ViBusAddress offset,
                              visa::ViBusSize words) const;
  visa::ViStatus in16_slow(visa::ViUInt16 space, visa::ViBusAddress offset,
                           visa::ViUInt16* value) const;
  visa::ViStatus out16_slow(visa::ViUInt16 space, visa::ViBusAddress offset, visa::ViUInt16 value);
  std::uint16_t a16_read(visa::ViBusAddress offset) const;
  // Forces the memory fault's bits on the words [first, first + count) inside its region.
  void apply_memory_fault(std::size_t first, std::size_t count);
  void clear_buffers();
  void a16_write(visa::ViBusAddress offset, visa::ViUInt16 value);

  // The command table and its handlers (module_commands.cpp).
  struct Commands;
  friend struct Commands;

  void execute(std::string_view text);
  void execute_config_line(std::string_view text);
  void reply(std::string text);
  void set_mode(Mode mode);
  void reset();

  ModuleConfig config_;
  visa::ViUInt16 memory_space_;
  std::uint16_t space_bits_;
  std::vector<std::uint16_t> memory_;
  std::array<std::uint16_t, kA16WindowBytes / 2> a16_{};
  std::uint64_t next_buffer_writes_ = 0;
  CallFaults faults_;

  CommandHistory command_log_;
  std::vector<std::pair<std::string, std::string>> forced_replies_;  // normalized query, reply
  std::string reply_;
  std::size_t reply_pos_ = 0;
  std::deque<ScpiError> errors_;
  std::uint64_t reset_count_ = 0;
  std::uint64_t query_count_ = 0;

  Mode mode_ = Mode::Idle;
  std::array<bool, static_cast<std::size_t>(Route::Count_)> routes_{};
  std::uint32_t timer_interval_ = 0;
  std::uint32_t receive_start_ = 0;
  std::uint32_t receive_stop_ = 0;
  std::uint32_t transmit_stop_ = 0;
  double cal_constant_ = 1.0;
  double voltage_ = 0.0;
  int self_test_result_ = 0;
  std::array<std::uint16_t, kStampCount> stamps_{};
  std::size_t stamp_count_ = 0;
  std::array<std::optional<std::uint16_t>, kA16WindowBytes / 2> nv_registers_{};
  std::optional<int> nv_flag_;

  std::array<std::uint64_t, 8> attribute_reads_{};
  TimeoutHistory timeout_settings_;
  Firmware* firmware_ = nullptr;

  DataBitFault receive_fault_;
  DataBitFault transmit_fault_;
  std::array<bool, static_cast<std::size_t>(Route::Count_)> dead_routes_{};
  int extra_copies_ = 0;
  std::size_t stamp_skew_from_ = 0;
  std::int32_t stamp_skew_ = 0;
  bool memory_fault_active_ = false;
  MemoryFault memory_fault_;
};

}  // namespace sim
