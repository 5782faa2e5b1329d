#include "app/unit_initialization.h"

namespace app {

UnitInitialization::UnitInitialization(core::Station& station,
                                       procedures::MainWindowView& main_view)
    : procedure_(station, main_view, *this) {}

UnitInitialization::~UnitInitialization() { delete dialog_.data(); }

void UnitInitialization::open_selection(const std::string& caption) {
  if (dialog_ == nullptr) {
    dialog_ = new InitializeDialog();
    InitializeDialog::Handlers handlers;
    handlers.chosen = [this](const procedures::ModuleChoice& choice) {
      procedure_.module_chosen(choice);
    };
    handlers.closed = [this] { procedure_.selection_closed(); };
    dialog_->set_handlers(std::move(handlers));
  }
  dialog_->setWindowTitle(QString::fromStdString(caption));
}

void UnitInitialization::show_modules(const std::vector<std::string>& resources) {
  if (dialog_ == nullptr) return;
  for (const std::string& resource : resources) {
    dialog_->List_Of_Resources->addItem(QString::fromStdString(resource));
  }
  dialog_->List_Of_Resources->setCurrentIndex(-1);
  dialog_->show();
  dialog_->raise();
}

void UnitInitialization::close_selection() {
  if (dialog_ != nullptr) dialog_->close();
}

void UnitInitialization::unload_selection() {
  if (dialog_ == nullptr) return;
  InitializeDialog* dialog = dialog_.data();
  dialog_ = nullptr;
  dialog->unload();
  delete dialog;
}

}  // namespace app
