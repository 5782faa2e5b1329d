#include "core/station.h"

#include <cctype>
#include <utility>

namespace core {

Station::Station(visa::VisaLibrary& library, driver::Operator& person_in,
                 driver::EventPump& pump_in, VisaInUse in_use)
    : visa(library),
      person(person_in),
      pump(pump_in),
      driver(library, driver_state, person, pump_in),
      visa_in_use(std::move(in_use)) {}

std::string refusal_text(const Procedure& running, const Procedure& refused) {
  std::string subject = running.name;
  if (!subject.empty()) {
    subject[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(subject[0])));
  }
  return subject + " is running. " + running.how_to_end + " before starting " + refused.name + ".";
}

void tell_refused(Station& station, const Procedure& refused) {
  const ProcedureState& state = station.procedure;
  if (!state.running) return;
  for (ProcedureObserver* observer : state.observers) observer->refused(*state.running, refused);
}

std::optional<ProcedureKind> initialization_needed(const UnitState& units, ProcedureKind kind) {
  switch (kind) {
    case ProcedureKind::initialize_uut:
    case ProcedureKind::initialize_qcu:
    case ProcedureKind::initialize_all:
    case ProcedureKind::load_non_vol:
      return std::nullopt;
    default:
      break;
  }
  const ProcedureRow& row = procedure_row(kind);
  const bool no_uut = row.uses_uut && units.uut.session == 0;
  const bool no_qcu = row.uses_qcu && units.qcu.session == 0;
  if (no_uut && no_qcu) return ProcedureKind::initialize_all;
  if (no_uut) return ProcedureKind::initialize_uut;
  if (no_qcu) return ProcedureKind::initialize_qcu;
  return std::nullopt;
}

std::string uninitialized_text(ProcedureKind initialization, const Procedure& refused) {
  const char* missing =
      initialization == ProcedureKind::initialize_all   ? "No UUT and no QCU have been initialized."
      : initialization == ProcedureKind::initialize_qcu ? "No QCU has been initialized."
                                                        : "No UUT has been initialized.";
  return std::string(missing) + " Run " + std::string(procedure_row(initialization).caption) +
         " before starting " + refused.name + ".";
}

ProcedureScope::ProcedureScope(Station& station, Procedure procedure)
    : station_(station), state_(station.procedure) {
  if (state_.running) {
    tell_refused(station, procedure);
    station.person.message(refusal_text(*state_.running, procedure));
    return;
  }
  if (const auto initialization = initialization_needed(station.units, procedure.kind)) {
    const std::string why = uninitialized_text(*initialization, procedure);
    for (ProcedureObserver* observer : state_.observers) {
      observer->refused_without_units(procedure, why);
    }
    station.person.message(why);
    return;
  }
  state_.running = std::move(procedure);
  claimed_ = true;
  station_.run = RunFacts{};
  station_.driver_state.reported_errors.clear();
  for (ProcedureObserver* observer : state_.observers) observer->started(*state_.running);
}

ProcedureScope::~ProcedureScope() {
  if (!claimed_) return;
  RunFacts& facts = station_.run;
  if (facts.outcome == Outcome::passed && !station_.driver_state.reported_errors.empty()) {
    facts.outcome = Outcome::error;
  }
  for (ProcedureObserver* observer : state_.observers) observer->ended(*state_.running);
  state_.running.reset();
}

}  // namespace core
