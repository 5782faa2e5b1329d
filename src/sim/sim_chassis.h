// A simulated VXI chassis behind the VISA interface: modules with A16 registers, buffer memory
// and a message-based command set, sessions, resource search and attributes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/module_facts.h"
#include "sim/recent_history.h"
#include "sim/sim_clock.h"
#include "visa/visa_library.h"

namespace sim {

// Operating modes, in the order of the driver's mode index.
enum class Mode { Idle, Rec, Recm, Trnd, Trno, Trns, Trnc, Self };

// Signal paths that "rout:clos" and "rout:open" switch: the four outputs, the amplified output,
// and the two inputs (input 1 is the unprotected one, input 2 the protected one).
enum class Route { Out1, Out2, Out3, Out4, Ampl, Unpr, Prot, Count_ };

constexpr bool is_output(Route route) { return route <= Route::Ampl; }
constexpr bool is_input(Route route) { return route == Route::Unpr || route == Route::Prot; }

// A bench cable from an output of one module to an input of another (or of the same) module.
struct Cable {
  std::int16_t from_la = 0;
  Route output = Route::Out1;
  std::int16_t to_la = 0;
  Route input = Route::Unpr;
  friend bool operator==(const Cable&, const Cable&) = default;
};

// One module in a slot of the chassis.
struct ModuleConfig {
  std::int16_t logical_address = 8;
  std::int16_t slot = 1;
  std::uint16_t interface_number = 0;
  std::uint16_t manufacturer_id = kQuorManufacturerId;  // VI_ATTR_MANF_ID and ID register
  std::uint16_t model_code = kQuorModelCode;            // VI_ATTR_MODEL_CODE and device type
  std::uint16_t memory_space = visa::VI_A24_SPACE;       // 2 = A24, 3 = A32
  bool open_fails = false;                               // viOpen of this module fails
  // *IDN? reply without terminator; empty: the built-in module's, simulated_identity().
  std::string identity;
};

// The *IDN? reply of a built-in Quor Bus module: maker, a model that says it is simulated, a
// serial number from the logical address, firmware ("ARDENVALE,QUOR BUS SIMULATED,SIM-LA008,1.00"),
// so that every record of a simulated run says so.
std::string simulated_identity(std::int16_t logical_address);

struct BenchConfig {
  // First part of every resource name: "VXI" or "GPIB-VXI".
  std::string resource_prefix = "VXI";
  std::vector<ModuleConfig> modules;
  // The cabling between the modules' outputs and inputs. Cables whose ends name no module of
  // the bench carry nothing.
  std::vector<Cable> cables;
};

// Ready-made benches, one line each in a test.
namespace benches {
// UUT at 8 and QCU at 24 (both Quor Bus) and a module of another model at 40, interface 0,
// cabled for every functional test at once (see standard_cables()).
BenchConfig standard();
// The standard cabling of a UUT at `uut` and a QCU at `qcu`: QCU output 1 to UUT input 1
// (unpr), UUT output 1 to QCU input 1, and the UUT's self loops, output 2 to its own input 1
// and output 3 to its own input 2 (prot).
std::vector<Cable> standard_cables(std::int16_t uut = 8, std::int16_t qcu = 24);
// Two Quor Bus modules at 8 and 24, cabled as the standard bench, and nothing else.
BenchConfig two_quor();
// The standard bench seen through a GPIB-VXI interface (names begin with "GPIB-VXI").
BenchConfig gpib_vxi();
// No VXI resources at all: a search fails with VI_ERROR_RSRC_NFOUND.
BenchConfig empty();
// Only modules of other models.
BenchConfig other_models_only();
}  // namespace benches

class SimModule;

// A command as the chassis received it, with the module it went to.
struct ChassisCommand {
  std::int16_t logical_address = 0;
  std::string text;
};
// The chassis keeps this many of the most recent commands, whichever module they went to. The
// largest suite run sends about 7000 in all.
inline constexpr std::size_t kChassisCommandHistoryLength = 16384;
using ChassisCommandHistory = RecentHistory<ChassisCommand, kChassisCommandHistoryLength>;

// The VISA functions the chassis counts calls of.
enum class VisaFunction {
  OpenDefaultRM,
  FindRsrc,
  FindNext,
  Open,
  Close,
  GetAttribute,
  SetAttribute,
  Write,
  Read,
  StatusDesc,
  In16,
  Out16,
  MoveIn16,
  MoveOut16,
  Count_
};

class SimChassis final : public visa::VisaLibrary {
 public:
  // The chassis waits (read time-outs) on `clock`, which must outlive it.
  SimChassis(BenchConfig bench, Clock& clock);
  ~SimChassis() override;
  SimChassis(const SimChassis&) = delete;
  SimChassis& operator=(const SimChassis&) = delete;

  // --- VISA operations ---
  visa::ViStatus viOpenDefaultRM(visa::ViSession* manager) override;
  visa::ViStatus viFindRsrc(visa::ViSession manager, const char* expression,
                            visa::ViFindList* list, visa::ViUInt32* count,
                            visa::ViChar first_name[visa::VI_FIND_BUFLEN]) override;
  visa::ViStatus viFindNext(visa::ViFindList list,
                            visa::ViChar next_name[visa::VI_FIND_BUFLEN]) override;
  visa::ViStatus viOpen(visa::ViSession manager, const char* resource,
                        visa::ViUInt32 access_mode, visa::ViUInt32 open_timeout,
                        visa::ViSession* session) override;
  visa::ViStatus viClose(visa::ViObject object) override;
  visa::ViStatus viGetAttribute(visa::ViObject object, visa::ViAttr attribute,
                                visa::ViAttrState* value) override;
  visa::ViStatus viSetAttribute(visa::ViObject object, visa::ViAttr attribute,
                                visa::ViAttrState value) override;
  visa::ViStatus viWrite(visa::ViSession session, const unsigned char* buffer,
                         visa::ViUInt32 count, visa::ViUInt32* returned) override;
  visa::ViStatus viRead(visa::ViSession session, unsigned char* buffer, visa::ViUInt32 count,
                        visa::ViUInt32* returned) override;
  visa::ViStatus viStatusDesc(visa::ViObject object, visa::ViStatus status,
                              visa::ViChar description[visa::VI_FIND_BUFLEN]) override;
  visa::ViStatus viIn16(visa::ViSession session, visa::ViUInt16 space,
                        visa::ViBusAddress offset, visa::ViUInt16* value) override;
  visa::ViStatus viOut16(visa::ViSession session, visa::ViUInt16 space,
                         visa::ViBusAddress offset, visa::ViUInt16 value) override;
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

// SimModule, the per-module inspection and fault-injection interface.
#include "sim/sim_module.h"  // IWYU pragma: export
