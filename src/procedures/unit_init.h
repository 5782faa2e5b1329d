// Initialize UUT, Initialize QA and Initialize All: search for Quor Bus modules, let the
// technician pick one in the selection window, and configure the opened session.
#pragma once

#include "core/station.h"
#include "procedures/main_view.h"
#include "procedures/selection_view.h"

namespace procedures {

namespace init_text {
inline constexpr const char* kUutComplete = "UUT Initialization Complete";
inline constexpr const char* kQcuComplete = "QC Quor Bus Initialization Complete";
inline constexpr const char* kNoneInstalled = "There is no Quor Bus installed in the system";
inline constexpr const char* kNoneInstalledTitle = "Quor Bus UUT";
inline constexpr const char* kDriverNotFound = "Invalid Resource - Driver not found for";
inline constexpr const char* kModelCodeLine = "            Model Code ";
inline constexpr const char* kSelectionBusy =
    "An instrument selection is already waiting in the Quor Bus Initialization window.\n"
    "Choose a module there (or close that window) before starting another initialization.";
inline constexpr const char* kUutTimeoutStep = "Setting Time Out on Quor Bus";
inline constexpr const char* kUutSpaceStep = "Querying the UUT Address Space";
inline constexpr const char* kUutIdStep = "Querying the Module ID";
inline constexpr const char* kQcuTimeoutStep = "Setting Time Out on QC Quor Bus";
inline constexpr const char* kQcuSpaceStep = "Querying the Known Good Quor Bus Address Space";
}  // namespace init_text

inline constexpr std::uint32_t kUnitTimeoutMs = 6000;

enum class Selection {
  Selected,   // modules were found and the technician chose one (its open may have failed)
  NoneFound,  // the search found no Quor Bus module
  Cancelled,  // the dialog was closed without a choice, or the station is shutting down
};

class UnitInitialization {
 public:
  UnitInitialization(core::Station& station, MainWindowView& main_view, SelectionView& selection);
  UnitInitialization(const UnitInitialization&) = delete;
  UnitInitialization& operator=(const UnitInitialization&) = delete;

  void initialize_uut();
  void initialize_qcu();
  void initialize_all();

  // Runs a selection for `record` (in and out).
  Selection select_unit(driver::UnitRecord& record);
  // Fills and shows the selection window for the current unit record; false when nothing can
  // be chosen.
  bool find_units();

  // The technician picked an entry of the list: the module is opened and the wait ends. No entry
  // asks for one; a second pick of the same selection does nothing.
  void module_chosen(const ModuleChoice& choice);
  // The selection window was closed: without a choice the wait ends as cancelled.
  void selection_closed();
  // Ends a waiting selection as cancelled (the main window is closing).
  void cancel_pending_selection();
  // True from the search's window to the end of the selection.
  bool selection_open() const { return selection_open_; }

 private:
  bool refuse_if_busy(const core::Procedure& procedure);
  // Each returns how its part of the run ended.
  core::Outcome run_uut_initialization();
  core::Outcome run_qcu_initialization();
  core::Outcome outcome_of(Selection selection, const driver::UnitRecord& unit) const;
  // Puts the unit time-out in force and reads the memory space, reporting each step.
  void configure_session(driver::UnitRecord& unit, const char* timeout_step,
                         const char* space_step);
  void unload_selection();
  // Closes the session a new initialization replaced, unless a record still holds it.
  void release_replaced_session(visa::ViSession previous, const driver::UnitRecord& record,
                                const driver::UnitRecord& other);

  core::Station& station_;
  MainWindowView& main_view_;
  SelectionView& selection_;
  bool selection_open_ = false;
  // The technician has answered the open selection (or it was taken away).
  bool answered_ = false;
};

}  // namespace procedures
