#include "procedures/unit_init_catalogue.h"

#include <array>
#include <string>
#include <vector>

#include "driver/quor_codes.h"

namespace procedures {
namespace {

// A search that succeeds but finds no Quor Bus module counts as none found, so the technician
// is never left with an empty list to choose from.
bool find_quor_modules(core::Station& station) {
  core::FoundModules& found = station.units.found;
  const visa::ViStatus status = station.driver.quor_find_modules(
      found.logical_address, found.slot, found.interface_number, found.count, found.gpib_vxi);
  return status == visa::VI_SUCCESS && found.count > 0;
}

// Opens the chosen resource into the current unit record, with the options chosen.
void open_quor_module(core::Station& station, const ModuleChoice& choice) {
  const std::int16_t id_query = choice.id_query ? 1 : 0;
  const std::int16_t reset = choice.reset ? 1 : 0;
  driver::UnitRecord& current = station.units.current;
  const visa::ViStatus status =
      station.driver.quor_init(choice.resource, id_query, reset, current.session);
  current.resource = current.session != 0 ? choice.resource : std::string();
  if (status != visa::VI_SUCCESS) {
    const std::string step =
        std::string(initialize_text::kFailedStep) + initialize_text::kModuleName;
    const std::string report = station.driver.format_error_report(current, status, step);
    std::vector<std::string>& reported = station.driver_state.reported_errors;
    if (reported.size() < driver::kReportedErrorLimit) reported.push_back(report);
    station.person.message(report);
  }
}

constexpr std::array<CatalogueRow, 1> kCatalogue{{
    {driver::kQuorModelCode, "Quor Bus Initialization", &find_quor_modules, "No Quor Bus's Found",
     &open_quor_module},
}};

}  // namespace

const CatalogueRow* find_catalogue_row(std::uint16_t model_code) {
  for (const CatalogueRow& row : kCatalogue) {
    if (row.model_code == model_code) return &row;
  }
  return nullptr;
}

}  // namespace procedures
