// The instruments the station can initialize, keyed by model code: the selection window's
// caption during the search, the finder, the none-found text and the initializer run after the
// technician's choice.
#pragma once

#include <cstdint>

#include "core/station.h"
#include "procedures/selection_view.h"

namespace procedures {

namespace initialize_text {
inline constexpr const char* kSelectPrompt = "Please select an instrument from the Drop Down List";
inline constexpr const char* kFailedStep = "Failed Initializing ";
inline constexpr const char* kModuleName = "Quor Bus";
}  // namespace initialize_text

struct CatalogueRow {
  std::uint16_t model_code;
  const char* dialog_caption;
  // Fills the found-module table; true when the search found modules.
  bool (*finder)(core::Station& station);
  const char* none_found_text;
  // Opens the chosen module into the current unit record.
  void (*initializer)(core::Station& station, const ModuleChoice& choice);
};

// The row for a model code, or null.
const CatalogueRow* find_catalogue_row(std::uint16_t model_code);

}  // namespace procedures
