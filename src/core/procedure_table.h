// The one table of the station's procedures and the one list of how a run ends. Everything that
// names a procedure reads it: the console, the records (the stored ids), the trace, the
// fault-detection matrix and the command line. Adding a procedure is one row here.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace core {

// Every procedure that talks to the units. The order is the table's; nothing depends on it.
enum class ProcedureKind {
  // The functional bus tests of the test console.
  rec,
  recm,
  trnsrecm,
  trnorecm,
  trndrecm,
  trncrecm,
  self_loop,
  self_loop2,
  self_long,
  stamp,
  // The production work on the main window.
  self_test,
  memory_test,
  output_calibration,
  load_non_vol,
  initialize_uut,
  initialize_qcu,
  initialize_all,
};

struct ProcedureRow {
  ProcedureKind kind;
  // Stored in every record and written by the exports: never changes once a record holds it.
  std::string_view stored_id;
  // The name the technician knows it by ("REC", "Self Test", "Initialize UUT").
  std::string_view caption;
  // How a refusal to start another procedure says this one ends.
  std::string_view how_to_end;
  bool uses_uut;
  bool uses_qcu;
  // A functional bus test: its report is the results window's, begun by its header.
  bool bus_test;
};

std::span<const ProcedureRow> procedure_table();
std::span<const ProcedureKind> all_procedures();
const ProcedureRow& procedure_row(ProcedureKind kind);
std::optional<ProcedureKind> procedure_from_stored_id(std::string_view stored_id);

// How a run ends, as the records store it.
enum class Outcome {
  running,  // written when the run starts; a run that has not decided
  passed,
  failed,
  stopped,        // STOP TEST
  failure_limit,  // ended at the failure limit
  aborted,        // Abort, or a selection closed without a choice
  refused,        // did not start: another procedure had the units, no unit, ...
  interrupted,    // the station shut down (or ended) while it ran
  // Could not run as it should: a VISA or command error reported on the way, a time-out. Its
  // report may still end in the pass text; it never counts as passed.
  error,
};

std::span<const Outcome> all_outcomes();
std::string_view stored_id(Outcome outcome);
std::optional<Outcome> outcome_from_stored_id(std::string_view stored_id);

// A procedure that talks to the units, as a refusal names it.
struct Procedure {
  std::string name;        // as it reads after "before starting": "the REC test", "Self Test"
  std::string how_to_end;  // what ends it: "Stop it with STOP TEST on the test console"
  ProcedureKind kind;
};

// The procedure of `kind` as its row names it.
Procedure procedure(ProcedureKind kind);

}  // namespace core
