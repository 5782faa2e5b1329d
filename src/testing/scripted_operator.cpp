#include "testing/scripted_operator.h"

namespace testing_support {

void ScriptedOperator::message(const std::string& text, const std::string& title) {
  shown.push_back({text, title});
  if (while_shown) while_shown(text);
}

std::optional<std::string> ScriptedOperator::input(const std::string& prompt,
                                                   const std::string& default_answer,
                                                   const std::string& title) {
  shown.push_back({prompt, title});
  if (answers.empty()) return default_answer;
  std::optional<std::string> answer = answers.front();
  answers.pop_front();
  return answer;
}

std::vector<std::string> ScriptedOperator::texts() const {
  std::vector<std::string> result;
  result.reserve(shown.size());
  for (const Shown& box : shown) result.push_back(box.text);
  return result;
}

}  // namespace testing_support
