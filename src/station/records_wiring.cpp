#include "station/records_wiring.h"

#include <utility>

#include "functional/frm_results.h"

#ifndef QUOR_PROGRAM_VERSION
#define QUOR_PROGRAM_VERSION "unknown"
#endif

namespace station {

namespace {

records::RecorderSources sources_of(StationWindows& windows) {
  records::RecorderSources sources;
  sources.report = [&windows](core::ProcedureKind kind) -> std::string {
    if (core::is_functional_test(kind)) {
      const functional::FrmResults* results = windows.test_console().results_window();
      return results != nullptr ? results->report_text() : std::string();
    }
    // The production tests leave their verdict on the instruction line.
    if (kind == core::ProcedureKind::self_test || kind == core::ProcedureKind::memory_test) {
      return windows.form().InstructionLabel->text().toStdString();
    }
    return {};
  };
  sources.operator_fields = [&windows] {
    const app::DisplayForm& form = windows.form();
    return records::OperatorFields{form.TestTechnicianName->text().trimmed().toStdString(),
                                   form.TopSerialNumber->text().trimmed().toStdString(),
                                   form.SubSerialNumber->text().trimmed().toStdString()};
  };
  return sources;
}

}  // namespace

RecordsWiring::RecordsWiring(core::Station& station, StationWindows& windows,
                             RecordsOptions options)
    : station_(station),
      windows_(windows),
      store_(std::move(options.path)),
      recorder_(station, store_, {std::move(options.station_id), QUOR_PROGRAM_VERSION},
                sources_of(windows)) {
  // No file named (a command line in error): records are not kept, and the status line says so.
  if (!store_.path().empty()) store_.open();
  for (const std::string& notice : store_.take_notices()) {
    station_.person.message(notice, records::window_text::kCaption);
  }
  station_.procedure.observers.push_back(&recorder_);
  recorder_.set_written_callback([this] {
    update_status();
    // The list follows finished runs; a report saved in passing does not move it.
    if (window_ != nullptr && window_->isVisible() && !recorder_.running()) window_->refresh();
  });

  progress_timer_.setInterval(kProgressInterval);
  QObject::connect(&progress_timer_, &QTimer::timeout, [this] { save_progress(); });
  progress_timer_.start();
  retry_timer_.setInterval(kRetryInterval);
  QObject::connect(&retry_timer_, &QTimer::timeout, [this] { retry(); });
  retry_timer_.start();

  app::DisplayForm::Handlers handlers = windows_.form().handlers();
  handlers.records = [this] { show_window(); };
  windows_.form().set_handlers(std::move(handlers));
  update_status();
}

RecordsWiring::~RecordsWiring() {
  progress_timer_.stop();
  retry_timer_.stop();
  std::erase(station_.procedure.observers, &recorder_);
  app::DisplayForm::Handlers handlers = windows_.form().handlers();
  handlers.records = nullptr;
  windows_.form().set_handlers(std::move(handlers));
  delete window_.data();
}

records::RecordsWindow& RecordsWiring::show_window() {
  if (window_ == nullptr)
    window_ = new records::RecordsWindow(store_, station_.person);
  else
    window_->refresh();
  window_->show();
  window_->raise();
  window_->activateWindow();
  return *window_;
}

void RecordsWiring::update_status() {
  const std::size_t waiting = store_.waiting();
  const std::string runs = std::to_string(waiting) + (waiting == 1 ? " run waits" : " runs wait");
  std::string line;
  if (!store_.keeping_records()) {
    // Short enough to share the status line with the VISA line; the tool tip tells the rest.
    line = "Records not kept: " + store_.reason();
    if (waiting > 0) line += " (" + std::to_string(waiting) + " in memory)";
  } else if (waiting > 0) {
    line = runs + " to be written to the record file.";
  }
  windows_.form().show_records_status(line, store_.status_text());
}

void RecordsWiring::save_progress() { recorder_.save_progress(); }

void RecordsWiring::retry() {
  if (store_.keeping_records() && store_.waiting() == 0) return;
  store_.retry();
  update_status();
}

}  // namespace station
