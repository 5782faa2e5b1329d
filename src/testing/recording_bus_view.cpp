#include "testing/recording_bus_view.h"

#include <algorithm>
#include <cmath>

namespace testing_support {

void RecordingBusView::set_console_caption(const std::string& text) {
  caption = text;
  captions.push_back(text);
}

void RecordingBusView::show_console_line(const procedures::ConsoleLine& shown) { line = shown; }

void RecordingBusView::open_report() {
  report_open = true;
  ++reports_opened;
}

void RecordingBusView::set_progress_maximum(float maximum) {
  progress_maximum = std::max(static_cast<int>(std::lround(maximum)), 0);
  progress_value = std::min(progress_value, progress_maximum);
}

void RecordingBusView::set_progress_value(float value) {
  progress_value = std::clamp(static_cast<int>(std::lround(value)), 0, progress_maximum);
}

}  // namespace testing_support
