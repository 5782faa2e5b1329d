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

#include "procedures/selection_view.h"

namespace app {

namespace initialize_text {
inline constexpr const char* kDesignCaption = "Instrument Initialization";
inline constexpr const char* kInstruction =
    "Select the requried Instrument from the following Drop Down list";
}  // namespace initialize_text

class InitializeDialog final : public QWidget {
  Q_OBJECT

 public:
  explicit InitializeDialog(QWidget* parent = nullptr);

  // What the technician's choice and the window's close run; the dialog only passes them on.
  struct Handlers {
    std::function<void(const procedures::ModuleChoice&)> chosen;  // an entry of the list picked
    std::function<void()> closed;                                 // the window closed
  };
  void set_handlers(Handlers handlers) { handlers_ = std::move(handlers); }

  // Selection of an entry of List_Of_Resources: the entry and the two options as they stand.
  void on_selection();

  // Hides the window without passing on a close (the selection is over).
  void unload();

  QLabel* InstructionLabel = nullptr;
  QComboBox* List_Of_Resources = nullptr;
  QGroupBox* IdQueryFrame = nullptr;
  std::array<QRadioButton*, 2> IdQuery{};  // element 1: "Id Query"
  QGroupBox* ResetFrame = nullptr;
  std::array<QRadioButton*, 2> ResetOption{};  // element 1: "Reset"

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Handlers handlers_;
  bool unloaded_ = false;
};

}  // namespace app
