// The Instrument Initialization dialog: the technician picks which of the modules found becomes
// the UUT or the QCU, and whether it is reset and its identity checked when it is opened.
#pragma once

#include <array>
#include <functional>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

#include "core/station.h"

namespace app {

namespace initialize_text {
inline constexpr const char* kDesignCaption = "Instrument Initialization";
inline constexpr const char* kInstruction =
    "Select the requried Instrument from the following Drop Down list";
inline constexpr const char* kSelectPrompt = "Please select an instrument from the Drop Down List";
inline constexpr const char* kFailedStep = "Failed Initializing ";
inline constexpr const char* kModuleName = "Quor Bus";
}  // namespace initialize_text

class InitializeDialog final : public QWidget {
  Q_OBJECT

 public:
  explicit InitializeDialog(core::Station& station, QWidget* parent = nullptr);

  // Selection of an entry of List_Of_Resources.
  void on_selection();
  // Runs the catalogue row's initializer for the current unit record, then ends the wait.
  void initialize_selected();
  // The Quor Bus row's initializer: opens the chosen resource into the current unit record.
  void open_selected_unit();

  // Closes the window without ending any wait (the selection is over).
  void unload();

  QLabel* InstructionLabel = nullptr;
  QComboBox* List_Of_Resources = nullptr;
  QGroupBox* IdQueryFrame = nullptr;
  std::array<QRadioButton*, 2> IdQuery{};  // element 1: "Id Query"
  QGroupBox* ResetFrame = nullptr;
  std::array<QRadioButton*, 2> ResetOption{};  // element 1: "Reset"

 protected:
  // Closing the window without a choice ends the wait as a cancelled selection.
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  core::Station& station_;
  bool answered_ = false;
};

}  // namespace app
