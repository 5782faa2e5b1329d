// Initialize UUT, Initialize QA and Initialize All: search for Quor Bus modules, let the
// technician pick one in the Initialize dialog, and configure the opened session.
#pragma once

#include <QPointer>

#include "app/initialize_dialog.h"
#include "core/station.h"

namespace app {

class DisplayForm;

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
// How a refusal to start another procedure says an initialization ends.
inline constexpr const char* kEndSelection =
    "Choose a module in the Quor Bus Initialization window (or close that window)";
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
  UnitInitialization(core::Station& station, DisplayForm& form);
  ~UnitInitialization();
  UnitInitialization(const UnitInitialization&) = delete;
  UnitInitialization& operator=(const UnitInitialization&) = delete;

  void initialize_uut();
  void initialize_qcu();
  void initialize_all();

  // Runs a selection for `record` (in and out).
  Selection select_unit(driver::UnitRecord& record);
  // Fills and shows the dialog for the current unit record; false when nothing can be chosen.
  bool find_units();

  // The dialog while a selection is shown, else null.
  InitializeDialog* dialog() const { return dialog_; }
  // Ends a waiting selection as cancelled (the main window is closing).
  void cancel_pending_selection();

 private:
  bool refuse_if_busy(const core::Procedure& procedure);
  // Each returns how its part of the run ended.
  core::RunOutcome run_uut_initialization();
  core::RunOutcome run_qcu_initialization();
  core::RunOutcome outcome_of(Selection selection, const driver::UnitRecord& unit) const;
  // Puts the unit time-out in force and reads the memory space, reporting each step.
  void configure_session(driver::UnitRecord& unit, const char* timeout_step,
                         const char* space_step);
  InitializeDialog& ensure_dialog();
  void unload_dialog();
  // Closes the session a new initialization replaced, unless a record still holds it.
  void release_replaced_session(visa::ViSession previous, const driver::UnitRecord& record,
                                const driver::UnitRecord& other);

  core::Station& station_;
  DisplayForm& form_;
  QPointer<InitializeDialog> dialog_;
};

}  // namespace app
