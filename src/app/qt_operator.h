// The operator seam on real windows: message boxes, the input box, the printer, the date.
#pragma once

#include "driver/operator.h"

namespace app {

class QtOperator final : public driver::Operator {
 public:
  void message(const std::string& text, const std::string& title) override;
  std::optional<std::string> input(const std::string& prompt, const std::string& default_answer,
                                   const std::string& title) override;
  void print(const std::string& text) override;
  std::string short_date() override;
};

}  // namespace app
