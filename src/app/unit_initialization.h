// The windows of Initialize UUT, Initialize QA and Initialize All: the Initialize dialog made
// for each selection and taken away after it, with the technician's choice and the dialog's
// close passed on to the unit initialization as they come.
#pragma once

#include <string>
#include <vector>

#include <QPointer>

#include "app/initialize_dialog.h"
#include "core/station.h"
#include "procedures/unit_init.h"

namespace app {

class UnitInitialization final : public procedures::SelectionView {
 public:
  UnitInitialization(core::Station& station, procedures::MainWindowView& main_view);
  ~UnitInitialization() override;
  UnitInitialization(const UnitInitialization&) = delete;
  UnitInitialization& operator=(const UnitInitialization&) = delete;

  void initialize_uut() { procedure_.initialize_uut(); }
  void initialize_qcu() { procedure_.initialize_qcu(); }
  void initialize_all() { procedure_.initialize_all(); }
  // Ends a waiting selection as cancelled (the main window is closing).
  void cancel_pending_selection() { procedure_.cancel_pending_selection(); }

  procedures::UnitInitialization& procedure() { return procedure_; }
  // The dialog while a selection is shown, else null.
  InitializeDialog* dialog() const { return dialog_; }

  void open_selection(const std::string& caption) override;
  void show_modules(const std::vector<std::string>& resources) override;
  void close_selection() override;
  void unload_selection() override;

 private:
  QPointer<InitializeDialog> dialog_;
  procedures::UnitInitialization procedure_;
};

}  // namespace app
