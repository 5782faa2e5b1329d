#include "app/initialize_dialog.h"

#include <QCloseEvent>

#include "app/accessibility.h"
#include "app/twips.h"

namespace app {
namespace {

constexpr int kClientWidthTwips = 5010;
constexpr int kClientHeightTwips = 3255;
constexpr const char* kDialogFontFamily = "MS Sans Serif";

// A frame holding a two-element option array: element 1 (the affirmative choice) on top and
// selected, element 0 below it.
QGroupBox* make_option_frame(QWidget* parent, const char* frame_name, const char* title, int left,
                             std::array<QRadioButton*, 2>& options, const char* options_name,
                             const char* yes, const char* no, int option_width) {
  auto* frame = new QGroupBox(title, parent);
  frame->setObjectName(frame_name);
  frame->setGeometry(twips_rect(left, 1920, 1580, 860));
  const char* captions[] = {no, yes};
  const int tops[] = {480, 240};
  // The top element first, so that the tab order follows the screen.
  for (std::size_t index : {std::size_t{1}, std::size_t{0}}) {
    auto* option = new QRadioButton(captions[index], frame);
    option->setObjectName(options_name);
    option->setProperty("index", static_cast<int>(index));
    option->setGeometry(twips_rect(120, tops[index], option_width, 255));
    options[index] = option;
  }
  options[1]->setChecked(true);
  return frame;
}

}  // namespace

InitializeDialog::InitializeDialog(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("Initialize");
  setWindowTitle(initialize_text::kDesignCaption);
  setFixedSize(twips_size(kClientWidthTwips, kClientHeightTwips));
  setFont(station_font(8.25, false, kDialogFontFamily));

  InstructionLabel = new QLabel(initialize_text::kInstruction, this);
  InstructionLabel->setObjectName("InstructionLabel");
  InstructionLabel->setWordWrap(true);
  InstructionLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  InstructionLabel->setGeometry(twips_rect(360, 120, 4335, 855));
  InstructionLabel->setFont(station_font(9.75, false, kDialogFontFamily));

  List_Of_Resources = new QComboBox(this);
  List_Of_Resources->setObjectName("List_Of_Resources");
  List_Of_Resources->setGeometry(twips_rect(1440, 1320, 2175, 315));
  List_Of_Resources->setEditable(false);

  IdQueryFrame = make_option_frame(this, "IdQueryFrame", "ID Query", 480, IdQuery, "IdQuery",
                                   "Id Query", "No Id Query", 1215);
  ResetFrame = make_option_frame(this, "ResetFrame", "Reset", 2760, ResetOption, "ResetOption",
                                 "Reset", "No Reset", 1095);

  connect(List_Of_Resources, &QComboBox::activated, this, [this](int) { on_selection(); });
  // Choosing opens (and by default resets) a module: a stray turn of the mouse wheel over the
  // list must not choose for the technician.
  List_Of_Resources->installEventFilter(this);
  make_accessible(*this);
}

bool InitializeDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == List_Of_Resources && event->type() == QEvent::Wheel) return true;
  return QWidget::eventFilter(watched, event);
}

void InitializeDialog::on_selection() {
  if (unloaded_ || !handlers_.chosen) return;
  handlers_.chosen({List_Of_Resources->currentText().toStdString(), IdQuery[1]->isChecked(),
                    ResetOption[1]->isChecked()});
}

void InitializeDialog::unload() {
  unloaded_ = true;
  hide();
}

void InitializeDialog::closeEvent(QCloseEvent* event) {
  if (!unloaded_ && handlers_.closed) handlers_.closed();
  event->accept();
}

}  // namespace app
