#include "app/station.h"

#include <utility>

namespace app {

Station::Station(visa::VisaLibrary& library, driver::Operator& person_in,
                 driver::EventPump& pump_in, VisaInUse in_use)
    : visa(library),
      person(person_in),
      pump(pump_in),
      driver(library, driver_state, person_in, pump_in),
      visa_in_use(std::move(in_use)) {}

}  // namespace app
