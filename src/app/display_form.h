// The main window: menu bar, production test buttons, operator identity fields, calibration
// controls and the error report area.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "core/station.h"
#include "procedures/main_view.h"
#include "procedures/production_tests.h"

namespace app {

class UnitInitialization;

namespace display_text {
inline constexpr const char* kCaption = "Quor-Bus Test Program Rev.1.00";
}

// The most characters the technician and serial number fields take. They take no control
// characters either; a field that refuses what was typed or pasted says why beside it.
inline constexpr int kOperatorFieldLength = 64;
// "Technician Name takes at most 64 characters and no control characters."
QString operator_field_limit_text(const QString& field_caption);

class DisplayForm final : public QMainWindow, public procedures::MainWindowView {
  Q_OBJECT

 public:
  explicit DisplayForm(core::Station& station, QWidget* parent = nullptr);
  ~DisplayForm() override;

  // What the buttons and menu items of the other parts of the station run. The window only
  // dispatches; a menu item without a handler stays disabled.
  struct Handlers {
    std::function<void()> load_non_vol;       // mnuNonVol
    std::function<void()> main_testing;       // mnuTest
    std::function<void(int)> test_button;     // TestButton, with the element index
    std::function<void()> start_calibration;  // cmdStartCal
    std::function<void()> cal_up;             // CalUp
    std::function<void()> cal_down;           // CalDown
    std::function<void()> cal_good;           // CalGood
    std::function<void()> shut_down;          // after the window's own shut-down sequence
    std::function<void()> records;            // mnuRecords
    std::function<void()> trace;              // mnuTrace
    std::function<void()> final_test;         // mnuFinalTest
  };
  void set_handlers(Handlers handlers);
  const Handlers& handlers() const { return handlers_; }

  core::Station& station() { return station_; }
  UnitInitialization& unit_initialization() { return *initialization_; }

  // Shows the text in ErrorReportLabel.
  void show_step_text(const std::string& text) override;

  // The steps of the production work, each with the controls it shows and hides.
  using Step = procedures::MainStep;
  void show_controls_for(Step step) override;
  // InstructionLabel, StatusByte and CalConstant, in the module's bytes (Latin-1).
  void show_instruction(const std::string& text) override;
  void show_status_byte(const std::string& text) override;
  void show_cal_constant(const std::string& text) override;

  // Menu bar, in order.
  QMenu* Instrument = nullptr;
  QAction* Init_ALL = nullptr;
  QAction* Init_UUT = nullptr;
  QAction* Init_QA = nullptr;
  QAction* mnuNonVol = nullptr;
  QAction* mnuTest = nullptr;
  QAction* mnuRecords = nullptr;  // the engineer's items, after the technician's
  QAction* mnuTrace = nullptr;
  QAction* mnuFinalTest = nullptr;  // a unit's whole final test, after the menu items above

  // Controls.
  QLabel* TechNameLabel = nullptr;
  QLineEdit* TestTechnicianName = nullptr;
  QLabel* TopSNLabel = nullptr;
  QLineEdit* TopSerialNumber = nullptr;
  QLabel* SubSNLabel = nullptr;
  QLineEdit* SubSerialNumber = nullptr;
  QLabel* InstructionLabel = nullptr;
  QLabel* lblCalInstr = nullptr;
  QLabel* StatusByte = nullptr;
  QPushButton* cmdStartCal = nullptr;
  std::array<QPushButton*, 4> TestButton{};  // a control array: element index is the handler's
  QPushButton* Abort = nullptr;
  QLabel* CalConstantLabel = nullptr;
  QLabel* CalConstant = nullptr;
  QPushButton* CalUp = nullptr;
  QPushButton* CalGood = nullptr;
  QPushButton* CalDown = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* ErrorReportLabel = nullptr;
  QTimer* DelayTimer = nullptr;

  // Below the layout: which VISA implementation the station talks to, and beside it whether
  // production records are being kept (hidden while they are).
  QLabel* visaStatusLabel = nullptr;
  QLabel* recordsStatusLabel = nullptr;
  // A short line for the label and the whole story for its tool tip; an empty line hides it.
  void show_records_status(const std::string& text, const std::string& details);

 protected:
  // Unloading the window: the shut-down sequence. It never cancels the close.
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_menu();
  void build_controls();
  void build_status_line();
  // Bounds a technician or serial number field and makes it say so when it refuses input.
  void bound_operator_field(QLineEdit* field, const QLabel* caption);
  void startup();
  void shutdown();

  core::Station& station_;
  Handlers handlers_;
  std::unique_ptr<UnitInitialization> initialization_;
};

// The main window's handlers of the production buttons and the calibration controls (the other
// members stay empty): each click is passed on to the procedure as it is.
DisplayForm::Handlers production_handlers(procedures::ProductionTests& tests);

}  // namespace app
