// Where the buffer compares and the functional tests write their report lines (the results
// window's text box).
#pragma once

#include <string>

namespace driver {

class ReportSink {
 public:
  virtual ~ReportSink() = default;
  // Appends `text` to the report, as it stands (line ends included by the caller).
  virtual void append_report(const std::string& text) = 0;
};

}  // namespace driver
