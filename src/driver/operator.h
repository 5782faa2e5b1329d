// What the station asks of the person at the keyboard: message boxes, an input box, printing
// and the date. The windows supply the real one; the test suites a scripted one.
#pragma once

#include <optional>
#include <string>

namespace driver {

class Operator {
 public:
  virtual ~Operator() = default;
  // Modal box with an OK button; an empty title means the application's default title.
  virtual void message(const std::string& text, const std::string& title = {}) = 0;
  // Input box with a default answer; empty when the operator cancels.
  virtual std::optional<std::string> input(const std::string& prompt,
                                           const std::string& default_answer,
                                           const std::string& title = {}) = 0;
  // Prints `text` as one item on the default printer and ends the document.
  virtual void print(const std::string& text) = 0;
  // The current date as the system's short date text.
  virtual std::string short_date() = 0;
};

}  // namespace driver
