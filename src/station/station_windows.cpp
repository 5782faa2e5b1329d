#include "station/station_windows.h"

namespace station {

StationWindows::StationWindows(core::Station& station, std::function<void()> end_program)
    : form_(station),
      console_(station, form_),
      non_vol_(station, std::move(end_program)),
      production_(station, form_) {
  // The production buttons and the calibration controls, then the menu items.
  app::DisplayForm::Handlers handlers = app::production_handlers(production_);
  handlers.main_testing = [this] { console_.show_console(); };
  handlers.load_non_vol = [this] { non_vol_.load_non_vol(); };
  handlers.shut_down = [this] {
    console_.close_windows();
    if (trace_) trace_->close();
  };
  handlers_ = handlers;
  form_.set_handlers(std::move(handlers));
}

void StationWindows::attach_trace(visa::TraceSinks& sinks, visa::StatusDescriber describe) {
  handlers_.trace = [this, &sinks, describe = std::move(describe)] {
    if (!trace_) {
      trace_ = std::make_unique<app::TraceWindow>(sinks, describe, &form_.station());
    }
    trace_->show();
    trace_->raise();
    trace_->activateWindow();
  };
  form_.set_handlers(handlers_);
}

StationWindows::~StationWindows() {
  // The main window outlives the parts attached to it: it must not call them while it goes.
  form_.set_handlers({});
}

}  // namespace station
