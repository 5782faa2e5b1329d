#include "station/records_wiring.h"

#include <QDateTime>
#include <utility>

#include "station/messages.h"

#ifndef QUOR_PROGRAM_VERSION
#define QUOR_PROGRAM_VERSION "unknown"
#endif

namespace station {

namespace {

RecorderSources sources_of(StationWindows& windows) {
  RecorderSources sources;
  sources.operator_fields = [&windows] {
    const app::DisplayForm& form = windows.form();
    return OperatorFields{form.TestTechnicianName->text().trimmed().toStdString(),
                          form.TopSerialNumber->text().trimmed().toStdString(),
                          form.SubSerialNumber->text().trimmed().toStdString()};
  };
  return sources;
}

// "1 run waits", "3 runs wait".
std::string runs_wait(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " run waits" : " runs wait");
}

// The local time of day a run finished, for the status line.
std::string time_of_day(records::TimePoint time) {
  return QDateTime::fromMSecsSinceEpoch(time.time_since_epoch().count())
      .toLocalTime()
      .toString(QStringLiteral("HH:mm"))
      .toStdString();
}

records::RecordWriter::Options writer_options(std::string path, std::string station_id,
                                              bool forward, std::function<void()> state_changed) {
  records::RecordWriter::Options options;
  options.path = std::move(path);
  options.station_id = std::move(station_id);
  options.forward = forward;
  options.state_changed = std::move(state_changed);
  return options;
}

}  // namespace

RecordsWiring::RecordsWiring(core::Station& station, StationWindows& windows,
                             RecordsOptions options)
    : station_(station),
      windows_(windows),
      options_(std::move(options)),
      writer_(writer_options(options_.path, options_.station_id, !options_.shared_store.empty(),
                             [this] {
                               QMetaObject::invokeMethod(
                                   &window_thread_, [this] { state_changed(); },
                                   Qt::QueuedConnection);
                             })),
      recorder_(station, writer_, {options_.station_id, QUOR_PROGRAM_VERSION}, sources_of(windows)),
      unit_results_(station, writer_, recorder_, {options_.station_id, QUOR_PROGRAM_VERSION}) {
  // The record file is open (or known not to be) before the first run and before forwarding
  // reads it.
  writer_.open();
  for (const std::string& notice : writer_.take_notices()) {
    station_.person.message(notice, app::window_text::kCaption);
  }
  // A record file that cannot be opened now may be later: the forwarder opens it again each time
  // it tries.
  if (!options_.shared_store.empty()) {
    records::RecordForwarder::Options forward;
    forward.station_store = options_.path;
    forward.shared_store = options_.shared_store;
    forward.state_changed = [this] {
      QMetaObject::invokeMethod(
          &window_thread_, [this] { update_status(); }, Qt::QueuedConnection);
    };
    forwarder_ = std::make_unique<records::RecordForwarder>(std::move(forward));
  }
  station_.procedure.observers.push_back(&recorder_);

  progress_timer_.setInterval(kProgressInterval);
  QObject::connect(&progress_timer_, &QTimer::timeout, [this] { save_progress(); });
  progress_timer_.start();

  app::DisplayForm::Handlers handlers = windows_.form().handlers();
  handlers.records = [this] { show_window(); };
  window_shut_down_ = handlers.shut_down;
  handlers.shut_down = [this] {
    if (window_shut_down_) window_shut_down_();
    write_out();
  };
  windows_.form().set_handlers(std::move(handlers));
  update_status();
}

RecordsWiring::~RecordsWiring() {
  progress_timer_.stop();
  std::erase(station_.procedure.observers, &recorder_);
  app::DisplayForm::Handlers handlers = windows_.form().handlers();
  handlers.records = nullptr;
  handlers.shut_down = window_shut_down_;
  windows_.form().set_handlers(std::move(handlers));
  // The forwarder's end (a connection being opened may take its connect time-out) runs beside the
  // window's (a read of a hung server is waited for a while), not after it.
  if (forwarder_ != nullptr) forwarder_->stop();
  delete window_.data();
  // The forwarder ends first; what it has not sent stays queued in the file for the next start,
  // and the writer then writes what was handed over before it ends.
  forwarder_.reset();
}

records::RecordStore& RecordsWiring::reader() {
  if (reader_ == nullptr) {
    const bool shared = !options_.shared_store.empty();
    reader_ = std::make_unique<records::RecordStore>(shared ? options_.shared_store : options_.path,
                                                     records::OpenMode::reader);
  }
  if (!reader_->keeping_records()) reader_->open();
  return *reader_;
}

app::RecordsWindow& RecordsWiring::show_window() {
  // The window reads on connections of its own, off this thread: opening it waits for nothing.
  if (window_ == nullptr) {
    window_ = new app::RecordsWindow(
        options_.shared_store.empty() ? options_.path : options_.shared_store, station_.person);
    // The yield report names the program as the command line's report does.
    window_->set_program_text(std::string(kProgramName) + " " + QUOR_PROGRAM_VERSION);
  } else {
    window_->refresh();
  }
  update_status();
  window_->show();
  window_->raise();
  window_->activateWindow();
  return *window_;
}

void RecordsWiring::state_changed() {
  update_status();
  if (forwarder_ != nullptr) forwarder_->nudge();
  // The list follows finished runs; a report saved in passing does not move it. The window reads
  // on its own thread, and a burst of runs' ends shares its reads.
  if (window_ != nullptr && window_->isVisible() && !recorder_.running()) window_->refresh();
}

void RecordsWiring::update_status() {
  const records::StoreState state = writer_.state();
  std::string line;
  std::string details = state.status_text;
  std::string set_aside;  // for the records window
  if (!state.keeping_records) {
    // Short enough to share the status line with the VISA line; the tool tip tells the rest.
    line = "Records not kept: " + state.reason;
    if (state.in_memory > 0) {
      line += " (" + std::to_string(state.in_memory) + " in memory)";
    } else if (state.waiting > 0) {
      line += " (" + std::to_string(state.waiting) + " in the journal)";
    }
  } else if (state.waiting > 0) {
    line = runs_wait(state.waiting) + " to be written to the record file.";
  }
  // While the record file is not kept the line above says so; what waits for the server follows
  // once it is.
  if (forwarder_ != nullptr && state.keeping_records) {
    const records::ForwardState forward = forwarder_->state();
    if (forward.waiting > 0 || !forward.reason.empty()) {
      std::string waiting = runs_wait(forward.waiting) + " for the records server";
      if (forward.waiting_since) waiting += " since " + time_of_day(*forward.waiting_since);
      if (!forward.reason.empty()) waiting += ": " + forward.reason;
      line = line.empty() ? waiting : line + " " + waiting;
      if (!details.empty()) details += "\n";
      details += waiting + " (" + options_.shared_store_shown + ").";
    }
    // Runs the server refused for their content stay in the record file; the others go on.
    if (forward.set_aside > 0) {
      const std::string aside = std::to_string(forward.set_aside) +
                                (forward.set_aside == 1 ? " run" : " runs") +
                                " set aside, refused by the records server";
      line = line.empty() ? aside + "." : line + " " + aside + ".";
      if (!details.empty()) details += "\n";
      details +=
          aside + " (latest: " + forward.set_aside_reason + "); they stay in the record file.";
      set_aside = aside + ": " + forward.set_aside_reason + ". They stay in the record file.";
    }
  }
  windows_.form().show_records_status(line, details);
  if (window_ != nullptr) window_->show_set_aside(set_aside);
}

void RecordsWiring::save_progress() { recorder_.save_progress(); }

procedures::ExpectedDuration RecordsWiring::expected_duration() {
  return [this](core::ProcedureKind kind) {
    return writer_.typical_duration(kind, station_.visa_in_use.simulated);
  };
}

void RecordsWiring::retry() { writer_.retry(); }

void RecordsWiring::write_out() {
  writer_.write_out(kCloseTime, [this] {
    const records::StoreState state = writer_.state();
    const std::size_t count = state.waiting + state.handed_over;
    if (count == 0) return;
    windows_.form().show_records_status("Writing " + std::to_string(count) +
                                            (count == 1 ? " run" : " runs") +
                                            " to the record file...",
                                        state.status_text);
    // The window thread waits here: the line is painted at once.
    windows_.form().recordsStatusLabel->repaint();
  });
  update_status();
}

void RecordsWiring::flush() {
  writer_.flush();
  state_changed();
}

}  // namespace station
