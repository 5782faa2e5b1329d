// The station's program-wide values, held in one context that main() builds: the driver's
// state and the unit records. Each test suite builds a fresh one over a fresh chassis.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/procedure_table.h"
#include "core/prompt_relay.h"
#include "driver/driver_state.h"
#include "driver/event_pump.h"
#include "driver/operator.h"
#include "driver/quor_driver.h"
#include "driver/unit_record.h"
#include "visa/visa_library.h"

namespace core {

// One entry per possible VXI logical address.
inline constexpr std::size_t kFoundModuleCapacity = 256;

// Filled by the module search.
struct FoundModules {
  std::int16_t count = 0;
  std::int16_t gpib_vxi = 0;  // 0: resource names begin with "VXI", 1: with "GPIB-VXI"
  std::array<std::int16_t, kFoundModuleCapacity> logical_address{};
  std::array<std::int16_t, kFoundModuleCapacity> slot{};
  std::array<std::uint16_t, kFoundModuleCapacity> interface_number{};
};

struct UnitState {
  driver::UnitRecord uut;
  driver::UnitRecord qcu;
  // The record the selection dialog works on while a selection is in progress.
  driver::UnitRecord current;
  bool selection_done = false;
  // Set while a selection waits for the technician; a second initialization is refused then.
  bool selection_in_progress = false;
  // Set when the dialog was closed without a choice.
  bool selection_cancelled = false;
  FoundModules found;
  // The identity replies ("*IDN?") as last received. The records' reply fields also take the
  // replies of later commands, so the identity is kept here as well.
  std::string uut_identity;
  std::string qcu_identity;
};

// Which VISA implementation the station talks to, for the main window's status line.
struct VisaInUse {
  std::string description;
  bool simulated = true;
};

// What one run of a procedure yields beyond its windows and texts; the procedure fills it as it
// runs. Cleared when a procedure claims the units, read by the observers when it ends.
struct RunFacts {
  // Unset until the procedure decides; a procedure that returns without deciding is reported
  // as interrupted when the station is shutting down, else as failed.
  std::optional<Outcome> outcome;
  int passes_run = 0;
  int failures = 0;
  // Set once the results window holds this run's report (a functional test's header written).
  bool report_begun = false;
  // The bus test's report as written to the results window (CR LF line ends, the module's
  // bytes as received): header, miscompares, stamp failures, "Unit Passes".
  std::string report;
  std::optional<int> self_test_result;
  std::optional<long long> memory_miscompares;
  std::optional<double> cal_constant_read;  // read with "CAL?"
  std::optional<double> cal_constant_sent;  // the last "CAL" sent
  std::optional<int> non_vol_address;
  // A resource the procedure opened itself (Load Non-Vol), else empty.
  std::string resource;
  // The verdict a main-window procedure leaves on the instruction line ("Self Test Passed",
  // "Memory Test Failed"), in the module's bytes; empty when it leaves none.
  std::string verdict;
  // The step errors the run listed in the error report area, as listed.
  std::string errors;
};

// Told of every procedure that claims the units, ends, or is refused (the station's log, and
// later its records). Observers must not start procedures themselves.
class ProcedureObserver {
 public:
  virtual ~ProcedureObserver() = default;
  virtual void started(const Procedure& procedure) = 0;
  virtual void ended(const Procedure& procedure) = 0;
  virtual void refused(const Procedure& running, const Procedure& refused) = 0;
  // `refused` did not start because a unit it works on has not been initialized; `why` is the
  // message the technician was shown.
  virtual void refused_without_units(const Procedure& refused, const std::string& why) {
    static_cast<void>(refused);
    static_cast<void>(why);
  }
};

// Which procedure talks to the units now. Only one at a time: each would otherwise reset,
// reconfigure or read the units under the other.
struct ProcedureState {
  std::optional<Procedure> running;
  std::vector<ProcedureObserver*> observers;
};

// The message that refuses `refused` while `running` has the units.
std::string refusal_text(const Procedure& running, const Procedure& refused);

// The initialization the technician must run before `kind` can start: Initialize UUT,
// Initialize QA or Initialize All, for a procedure that works on a unit no initialization has
// opened. None when its units are open, or when it needs none opened (the initializations
// themselves, and Load Non-Vol, which opens the module it loads).
std::optional<ProcedureKind> initialization_needed(const UnitState& units, ProcedureKind kind);

// The message that refuses `refused` until `initialization` has run.
std::string uninitialized_text(ProcedureKind initialization, const Procedure& refused);

struct Station;

// Tells the observers that `refused` does not start because the running procedure has the units.
// For a procedure that refuses itself with a message of its own before it claims them.
void tell_refused(Station& station, const Procedure& refused);

// Holds the units for one procedure from its start to its return, whichever way it returns.
// When another procedure has them, the technician is told which one and how to end it, and
// the scope holds nothing: the caller returns without touching the units. So too when a unit
// the procedure works on has not been initialized: the technician is told which initialization
// to run. A run that ends as passed although it reported a VISA or command error on the way
// ends as an error: it did not run as it should.
class ProcedureScope {
 public:
  ProcedureScope(Station& station, Procedure procedure);
  ~ProcedureScope();
  ProcedureScope(const ProcedureScope&) = delete;
  ProcedureScope& operator=(const ProcedureScope&) = delete;

  bool claimed() const { return claimed_; }

 private:
  Station& station_;
  ProcedureState& state_;
  bool claimed_ = false;
};

struct Station {
  Station(visa::VisaLibrary& library, driver::Operator& person, driver::EventPump& pump,
          VisaInUse in_use = {});
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  visa::VisaLibrary& visa;
  // The technician, through the relay a running sequence answers its settled prompts with.
  PromptRelay person;
  driver::EventPump& pump;
  driver::DriverState driver_state;
  driver::QuorDriver driver;
  UnitState units;
  VisaInUse visa_in_use;
  // Set by the main window's shut-down; every wait in progress ends.
  bool shutting_down = false;
  ProcedureState procedure;
  // The facts of the run that holds the units, or of the last one.
  RunFacts run;
};

}  // namespace core
