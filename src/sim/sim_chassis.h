// A simulated VXI chassis behind the VISA interface: the bench's modules (sim_module.h) in its
// slots, the VISA objects behind their handles (chassis_handles.h), resource search and names,
// attributes, message-based and register calls, and the bench cables that carry frames between
// the modules' firmware.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/bench_config.h"
#include "sim/fault_injection.h"
#include "sim/recent_history.h"
#include "sim/sim_clock.h"
#include "sim/sim_module.h"
#include "visa/visa_library.h"

namespace sim {

// A command as the chassis received it, with the module it went to.
struct ChassisCommand {
  std::int16_t logical_address = 0;
  std::string text;
};
// The chassis keeps this many of the most recent commands, whichever module they went to. The
// largest suite run sends about 7000 in all.
inline constexpr std::size_t kChassisCommandHistoryLength = 16384;
using ChassisCommandHistory = RecentHistory<ChassisCommand, kChassisCommandHistoryLength>;

class SimChassis final : public visa::VisaLibrary {
 public:
  // The chassis waits (read time-outs) on `clock`, which must outlive it.
  SimChassis(BenchConfig bench, Clock& clock);
  ~SimChassis() override;
  SimChassis(const SimChassis&) = delete;
  SimChassis& operator=(const SimChassis&) = delete;

  // --- VISA operations ---
  visa::ViStatus viOpenDefaultRM(visa::ViSession* manager) override;
  visa::ViStatus viFindRsrc(visa::ViSession manager, const char* expression, visa::ViFindList* list,
                            visa::ViUInt32* count,
                            visa::ViChar first_name[visa::VI_FIND_BUFLEN]) override;
  visa::ViStatus viFindNext(visa::ViFindList list,
                            visa::ViChar next_name[visa::VI_FIND_BUFLEN]) override;
  visa::ViStatus viOpen(visa::ViSession manager, const char* resource, visa::ViUInt32 access_mode,
                        visa::ViUInt32 open_timeout, visa::ViSession* session) override;
  visa::ViStatus viClose(visa::ViObject object) override;
  visa::ViStatus viGetAttribute(visa::ViObject object, visa::ViAttr attribute,
                                visa::ViAttrState* value) override;
  visa::ViStatus viSetAttribute(visa::ViObject object, visa::ViAttr attribute,
                                visa::ViAttrState value) override;
  visa::ViStatus viWrite(visa::ViSession session, const unsigned char* buffer, visa::ViUInt32 count,
                         visa::ViUInt32* returned) override;
  visa::ViStatus viRead(visa::ViSession session, unsigned char* buffer, visa::ViUInt32 count,
                        visa::ViUInt32* returned) override;
  visa::ViStatus viStatusDesc(visa::ViObject object, visa::ViStatus status,
                              visa::ViChar description[visa::VI_FIND_BUFLEN]) override;
  visa::ViStatus viIn16(visa::ViSession session, visa::ViUInt16 space, visa::ViBusAddress offset,
                        visa::ViUInt16* value) override;
  visa::ViStatus viOut16(visa::ViSession session, visa::ViUInt16 space, visa::ViBusAddress offset,
                         visa::ViUInt16 value) override;
  visa::ViStatus viMoveIn16(visa::ViSession session, visa::ViUInt16 space,
                            visa::ViBusAddress offset, visa::ViBusSize count,
                            visa::ViUInt16* values) override;
  visa::ViStatus viMoveOut16(visa::ViSession session, visa::ViUInt16 space,
                             visa::ViBusAddress offset, visa::ViBusSize count,
                             const visa::ViUInt16* values) override;

  // --- Inspection, for tests ---
  // Open objects of every kind (managers, find lists, module sessions).
  int open_object_count() const;
  // Open module sessions only.
  int open_session_count() const;
  std::uint64_t call_count(VisaFunction function) const;
  std::uint64_t total_calls() const;
  // The most recent kChassisCommandHistoryLength commands written to any module, in the order
  // the chassis received them; total() counts every one.
  const ChassisCommandHistory& command_log() const;
  void reset_call_counts();
  // The module at a logical address, or null.
  SimModule* module_at(std::int16_t logical_address);
  // I/O time-out in force on an open session, in ms (VI_ATTR_TMO_VALUE).
  std::uint32_t session_timeout_ms(visa::ViSession session) const;
  // The module a session is open on, or null.
  SimModule* module_of(visa::ViSession session);
  // Every module, in the bench's order.
  std::vector<SimModule*> modules();

  // --- Fault injection for calls that belong to no module ---
  // The next `times` calls of `function` fail with `status` and have no effect. Meant for
  // OpenDefaultRM, FindRsrc, FindNext and Close (module calls: SimModule::fail_next). Checked
  // before the module's own faults.
  void fail_next(VisaFunction function, visa::ViStatus status, int times = 1);

  // Lets every module's firmware catch up with the clock (the chassis also does this before
  // each message-based call and block move, and on a write to a next-buffer register).
  void poll_firmware();

  // --- Bench cabling ---
  const std::vector<Cable>& cables() const;
  // Removes a cable from the bench; false when there was no such cable.
  bool cut_cable(const Cable& cable);
  void connect_cable(const Cable& cable);

  // Power-cycles the chassis: every module comes back idle with its routes open, its error
  // queue, reply, buffers and time stamps cleared, and the identity values stored in its
  // non-volatile registers in force (see SimModule::power_cycle). Sessions stay open; injected
  // faults and the cabling stay as they were.
  void restart();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
