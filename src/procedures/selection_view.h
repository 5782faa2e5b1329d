// The window in which the technician picks which of the modules found becomes the UUT or the
// QCU: its caption, the list to choose from, and its closing. The technician's choice comes
// back to the unit initialization (UnitInitialization::module_chosen, selection_closed); the
// wait for it runs on the station's event pump.
#pragma once

#include <string>
#include <vector>

namespace procedures {

// The technician's choice: the entry picked (empty when none is) and the two options.
struct ModuleChoice {
  std::string resource;
  bool id_query = true;
  bool reset = true;
};

class SelectionView {
 public:
  virtual ~SelectionView() = default;
  // Makes the window with its caption, not shown yet (the search runs after).
  virtual void open_selection(const std::string& caption) = 0;
  // Lists the modules found in search order with none chosen, and shows the window in front.
  virtual void show_modules(const std::vector<std::string>& resources) = 0;
  // Closes the window as its close box does.
  virtual void close_selection() = 0;
  // Takes the window away once the selection is over; no wait is ended by it.
  virtual void unload_selection() = 0;
};

}  // namespace procedures
