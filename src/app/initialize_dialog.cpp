#include "app/initialize_dialog.h"

#include <QCloseEvent>

#include "app/instrument_catalogue.h"
#include "app/twips.h"

namespace app {
namespace {

constexpr int kClientWidthTwips = 5010;
constexpr int kClientHeightTwips = 3255;
constexpr const char* kDialogFontFamily = "MS Sans Serif";

QRadioButton* make_option(QGroupBox* frame, const char* name, int index, const char* caption) {
  auto* option = new QRadioButton(caption, frame);
  option->setObjectName(name);
  option->setProperty("index", index);
  return option;
}

}  // namespace

InitializeDialog::InitializeDialog(Station& station, QWidget* parent)
    : QWidget(parent, Qt::Window), station_(station) {
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

  IdQueryFrame = new QGroupBox("ID Query", this);
  IdQueryFrame->setObjectName("IdQueryFrame");
  IdQueryFrame->setGeometry(twips_rect(480, 1920, 1580, 860));
  IdQuery[1] = make_option(IdQueryFrame, "IdQuery", 1, "Id Query");
  IdQuery[1]->setGeometry(twips_rect(120, 240, 1215, 255));
  IdQuery[0] = make_option(IdQueryFrame, "IdQuery", 0, "No Id Query");
  IdQuery[0]->setGeometry(twips_rect(120, 480, 1215, 255));
  IdQuery[1]->setChecked(true);

  ResetFrame = new QGroupBox("Reset", this);
  ResetFrame->setObjectName("ResetFrame");
  ResetFrame->setGeometry(twips_rect(2760, 1920, 1580, 860));
  ResetOption[1] = make_option(ResetFrame, "ResetOption", 1, "Reset");
  ResetOption[1]->setGeometry(twips_rect(120, 240, 1095, 255));
  ResetOption[0] = make_option(ResetFrame, "ResetOption", 0, "No Reset");
  ResetOption[0]->setGeometry(twips_rect(120, 480, 1095, 255));
  ResetOption[1]->setChecked(true);

  connect(List_Of_Resources, &QComboBox::activated, this, [this](int) { on_selection(); });
}

void InitializeDialog::on_selection() {
  if (answered_) return;
  if (List_Of_Resources->currentText().isEmpty()) {
    station_.person.message(initialize_text::kSelectPrompt);
    return;
  }
  initialize_selected();
}

void InitializeDialog::initialize_selected() {
  answered_ = true;
  if (const CatalogueRow* row = find_catalogue_row(station_.units.current.model_code)) {
    row->initializer(*this);
  }
  station_.units.selection_done = true;
}

void InitializeDialog::open_selected_unit() {
  const std::int16_t id_query = IdQuery[1]->isChecked() ? 1 : 0;
  const std::int16_t reset = ResetOption[1]->isChecked() ? 1 : 0;
  driver::UnitRecord& current = station_.units.current;
  const visa::ViStatus status = station_.driver.quor_init(
      List_Of_Resources->currentText().toStdString(), id_query, reset, current.session);
  if (status != visa::VI_SUCCESS) {
    const std::string step =
        std::string(initialize_text::kFailedStep) + initialize_text::kModuleName;
    station_.person.message(station_.driver.format_error_report(current, status, step));
  }
}

void InitializeDialog::unload() {
  answered_ = true;
  hide();
}

void InitializeDialog::closeEvent(QCloseEvent* event) {
  if (!answered_) {
    answered_ = true;
    station_.units.selection_cancelled = true;
    station_.units.selection_done = true;
  }
  event->accept();
}

}  // namespace app
