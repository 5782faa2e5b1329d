#include "core/procedure_table.h"

#include <array>

namespace core {

namespace {

constexpr std::string_view kStopTest = "Stop it with STOP TEST on the test console";
constexpr std::string_view kLetItFinish = "Wait for it to finish";
constexpr std::string_view kEndCalibration = "End it with Cal Complete or Abort";
constexpr std::string_view kEndSelection =
    "Choose a module in the Quor Bus Initialization window (or close that window)";

using K = ProcedureKind;
//                               stored id             caption              how it ends      UUT QCU
//                               bus
constexpr std::array<ProcedureRow, 17> kProcedures{{
    {K::rec, "rec", "REC", kStopTest, true, true, true},
    {K::recm, "recm", "RECM", kStopTest, true, true, true},
    {K::trnsrecm, "trnsrecm", "TRNSRECM", kStopTest, true, true, true},
    {K::trnorecm, "trnorecm", "TRNORECM", kStopTest, true, true, true},
    {K::trndrecm, "trndrecm", "TRNDRECM", kStopTest, true, true, true},
    {K::trncrecm, "trncrecm", "TRNCRECM", kStopTest, true, true, true},
    {K::self_loop, "selfloop", "SELFLOOP", kStopTest, true, false, true},
    {K::self_loop2, "selfloop2", "SELFLOOP2", kStopTest, true, false, true},
    {K::self_long, "selflong", "SELFLONG", kStopTest, true, false, true},
    {K::stamp, "stamp", "STAMP", kStopTest, true, false, true},
    {K::self_test, "self_test", "Self Test", kLetItFinish, true, false, false},
    {K::memory_test, "memory_test", "Memory Test", kLetItFinish, true, false, false},
    {K::output_calibration, "output_calibration", "Calibrate Outputs", kEndCalibration, true, false,
     false},
    {K::load_non_vol, "load_non_vol", "Load Non-Vol", kLetItFinish, true, false, false},
    {K::initialize_uut, "initialize_uut", "Initialize UUT", kEndSelection, true, false, false},
    {K::initialize_qcu, "initialize_qcu", "Initialize QA", kEndSelection, false, true, false},
    {K::initialize_all, "initialize_all", "Initialize All", kEndSelection, true, true, false},
}};

struct OutcomeRow {
  Outcome outcome;
  std::string_view stored_id;
};

constexpr std::array<OutcomeRow, 9> kOutcomes{{
    {Outcome::running, "running"},
    {Outcome::passed, "passed"},
    {Outcome::failed, "failed"},
    {Outcome::stopped, "stopped"},
    {Outcome::failure_limit, "failure_limit"},
    {Outcome::aborted, "aborted"},
    {Outcome::refused, "refused"},
    {Outcome::interrupted, "interrupted"},
    {Outcome::error, "error"},
}};

constexpr auto kProcedureList = [] {
  std::array<ProcedureKind, kProcedures.size()> list{};
  for (std::size_t i = 0; i < kProcedures.size(); ++i) list[i] = kProcedures[i].kind;
  return list;
}();

constexpr auto kOutcomeList = [] {
  std::array<Outcome, kOutcomes.size()> list{};
  for (std::size_t i = 0; i < kOutcomes.size(); ++i) list[i] = kOutcomes[i].outcome;
  return list;
}();

// Each row sits at its kind's place, so a row is found by index.
constexpr bool rows_in_order() {
  for (std::size_t i = 0; i < kProcedures.size(); ++i) {
    if (static_cast<std::size_t>(kProcedures[i].kind) != i) return false;
  }
  for (std::size_t i = 0; i < kOutcomes.size(); ++i) {
    if (static_cast<std::size_t>(kOutcomes[i].outcome) != i) return false;
  }
  return true;
}
static_assert(rows_in_order(), "a table row is out of its kind's place");

}  // namespace

std::span<const ProcedureRow> procedure_table() { return kProcedures; }
std::span<const ProcedureKind> all_procedures() { return kProcedureList; }

const ProcedureRow& procedure_row(ProcedureKind kind) {
  return kProcedures[static_cast<std::size_t>(kind)];
}

std::optional<ProcedureKind> procedure_from_stored_id(std::string_view stored_id) {
  for (const ProcedureRow& row : kProcedures) {
    if (row.stored_id == stored_id) return row.kind;
  }
  return std::nullopt;
}

std::span<const Outcome> all_outcomes() { return kOutcomeList; }

std::string_view stored_id(Outcome outcome) {
  return kOutcomes[static_cast<std::size_t>(outcome)].stored_id;
}

std::optional<Outcome> outcome_from_stored_id(std::string_view stored_id) {
  for (const OutcomeRow& row : kOutcomes) {
    if (row.stored_id == stored_id) return row.outcome;
  }
  return std::nullopt;
}

Procedure procedure(ProcedureKind kind) {
  const ProcedureRow& row = procedure_row(kind);
  std::string name =
      row.bus_test ? "the " + std::string(row.caption) + " test" : std::string(row.caption);
  return {std::move(name), std::string(row.how_to_end), kind};
}

}  // namespace core
