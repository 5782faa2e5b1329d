// The instruments the station can initialize, keyed by model code: the dialog caption during
// the search, the finder, the none-found text and the initializer run after the choice.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "core/station.h"

namespace app {

class InitializeDialog;

struct CatalogueRow {
  std::uint16_t model_code;
  const char* dialog_caption;
  // Fills the found-module table; true when the search found modules.
  bool (*finder)(core::Station& station);
  const char* none_found_text;
  void (*initializer)(InitializeDialog& dialog);
};

// The row for a model code, or null.
const CatalogueRow* find_catalogue_row(std::uint16_t model_code);

}  // namespace app
