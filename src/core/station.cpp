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

ProcedureScope::ProcedureScope(Station& station, Procedure procedure)
    : station_(station), state_(station.procedure) {
  if (state_.running) {
    tell_refused(station, procedure);
    station.person.message(refusal_text(*state_.running, procedure));
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
  for (ProcedureObserver* observer : state_.observers) observer->ended(*state_.running);
  state_.running.reset();
}

}  // namespace core
