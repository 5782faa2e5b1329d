#include "testing/scripted_views.h"

namespace testing_support {

std::string ScriptedMainView::instruction() const {
  return instructions.empty() ? std::string() : instructions.back();
}

void ScriptedSelectionView::open_selection(const std::string& title) {
  made = true;
  shown = false;
  caption = title;
  resources.clear();
  ++opens;
}

void ScriptedSelectionView::show_modules(const std::vector<std::string>& listed) {
  resources = listed;
  shown = true;
}

void ScriptedSelectionView::unload_selection() {
  made = false;
  shown = false;
  ++unloads;
}

}  // namespace testing_support
