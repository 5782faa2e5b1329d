#include "app/instrument_catalogue.h"

#include <array>

#include "app/initialize_dialog.h"
#include "driver/quor_codes.h"

namespace app {
namespace {

// A search that succeeds but finds no Quor Bus module counts as none found, so the technician
// is never left with an empty list to choose from.
bool find_quor_modules(core::Station& station) {
  core::FoundModules& found = station.units.found;
  const visa::ViStatus status = station.driver.quor_find_modules(
      found.logical_address, found.slot, found.interface_number, found.count, found.gpib_vxi);
  return status == visa::VI_SUCCESS && found.count > 0;
}

void open_quor_module(InitializeDialog& dialog) { dialog.open_selected_unit(); }

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

}  // namespace app
