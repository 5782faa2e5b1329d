// An operator that answers from a script and records every text it was shown.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "driver/operator.h"

namespace testing_support {

class ScriptedOperator final : public driver::Operator {
 public:
  struct Shown {
    std::string text;
    std::string title;
  };

  void message(const std::string& text, const std::string& title) override;
  std::optional<std::string> input(const std::string& prompt, const std::string& default_answer,
                                   const std::string& title) override;
  void print(const std::string& text) override { printed.push_back(text); }
  std::string short_date() override { return date; }

  // Texts of the message boxes, in order.
  std::vector<std::string> texts() const;

  std::vector<Shown> shown;
  std::deque<std::optional<std::string>> answers;  // answers to input; the default when empty
  std::vector<std::string> printed;
  std::string date = "12/7/2026";
  // Runs while a box is "open", with the box's text: a click the technician makes meanwhile.
  std::function<void(const std::string&)> while_shown;
};

}  // namespace testing_support
