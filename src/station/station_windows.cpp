#include "station/station_windows.h"

namespace station {

StationWindows::StationWindows(app::Station& station, std::function<void()> end_program)
    : form_(station), console_(station, form_), non_vol_(station, std::move(end_program)) {
  app::DisplayForm::Handlers handlers;
  handlers.main_testing = [this] { console_.show_console(); };
  handlers.load_non_vol = [this] { non_vol_.load_non_vol(); };
  form_.set_handlers(std::move(handlers));
}

}  // namespace station
