// The station's person at the keyboard as the procedures reach it. It passes every box and input
// through to the technician, except the prompts a running sequence has already settled: a final
// test confirms the cabling once for several tests, and then answers each test's own "start"
// and "completed" boxes itself, as the technician would have.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "driver/operator.h"

namespace core {

class PromptRelay final : public driver::Operator {
 public:
  // Says whether a message box with this text is answered without showing it.
  using Answers = std::function<bool(const std::string& text)>;

  explicit PromptRelay(driver::Operator& technician) : technician_(technician) {}

  void message(const std::string& text, const std::string& title = {}) override {
    if (answers_ && answers_(text)) return;
    technician_.message(text, title);
  }
  std::optional<std::string> input(const std::string& prompt, const std::string& default_answer,
                                   const std::string& title = {}) override {
    return technician_.input(prompt, default_answer, title);
  }
  void print(const std::string& text) override { technician_.print(text); }
  std::string short_date() override { return technician_.short_date(); }

  driver::Operator& technician() { return technician_; }

  // Answers the boxes `answers` accepts until the returned guard is destroyed.
  class Scope {
   public:
    Scope(PromptRelay& relay, Answers answers)
        : relay_(relay), previous_(std::move(relay.answers_)) {
      relay_.answers_ = std::move(answers);
    }
    ~Scope() { relay_.answers_ = std::move(previous_); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    PromptRelay& relay_;
    Answers previous_;
  };

 private:
  driver::Operator& technician_;
  Answers answers_;
};

}  // namespace core
