// What a simulated bench holds: the modules in the chassis's slots, their identities, and the
// cables between their outputs and inputs; and ready-made benches for the suites.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/module_facts.h"
#include "visa/visa_types.h"

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
  std::uint16_t memory_space = visa::VI_A24_SPACE;      // 2 = A24, 3 = A32
  bool open_fails = false;                              // viOpen of this module fails
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

}  // namespace sim
