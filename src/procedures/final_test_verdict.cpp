// How a step's run ends as a step, what it found, and the unit's verdict.
//
// The verdict: PASS only when there are steps and every one of them ran and passed. A step that
// failed (its procedure ran as it should and found the unit wanting: a failed run, or one ended
// at its failure limit) makes the unit FAIL, even where another step could not run: a fault
// found is a fault of the unit whatever else went wrong. Otherwise a step that could not run as
// specified (an error on the way, refused, interrupted, aborted, stopped, or never run) makes it
// ERROR. The first such step, in the sequence's order, is the one the verdict names.
#include <string>

#include "procedures/final_test.h"

namespace procedures {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n\r\n";

// The first line of `text` from `from` on that holds more than blanks; empty when none does.
std::string_view first_line_from(std::string_view text, std::size_t from) {
  while (from < text.size()) {
    std::size_t end = text.find_first_of("\r\n", from);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(from, end - from);
    if (line.find_first_not_of(" \t") != std::string_view::npos) return line;
    from = end + 1;
  }
  return {};
}

// An error report ("step\nmessage   ...") on one line.
std::string one_line(std::string_view text) {
  std::string line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!line.empty()) line += ": ";
      continue;
    }
    line += c;
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == ':')) line.pop_back();
  return line;
}

}  // namespace

StepState step_state_of(std::optional<core::Outcome> outcome) {
  if (!outcome) return StepState::error;
  switch (*outcome) {
    case core::Outcome::passed:
      return StepState::passed;
    case core::Outcome::failed:
    case core::Outcome::failure_limit:
      return StepState::failed;
    case core::Outcome::stopped:
      return StepState::stopped;
    default:
      return StepState::error;
  }
}

std::string finding_of(core::ProcedureKind kind, StepState state, const core::RunFacts& facts,
                       std::span<const std::string> reported_errors) {
  if (state == StepState::passed || state == StepState::waiting || state == StepState::running) {
    return {};
  }
  const std::string outcome =
      facts.outcome ? std::string(core::stored_id(*facts.outcome)) : "ended undecided";
  if (state != StepState::failed) {
    if (!reported_errors.empty()) return one_line(reported_errors.front());
    if (!facts.errors.empty()) return one_line(facts.errors);
    if (state == StepState::stopped) return "stopped";
    if (facts.outcome == core::Outcome::refused && !facts.report.empty()) return facts.report;
    return outcome;
  }
  if (core::procedure_row(kind).bus_test) {
    const std::string_view report = facts.report;
    const std::size_t header = report.find(kHeaderEnd);
    if (header != std::string_view::npos) {
      const std::string_view line = first_line_from(report, header + kHeaderEnd.size());
      if (!line.empty()) return std::string(line);
    }
    return std::to_string(facts.failures) + " failures in " + std::to_string(facts.passes_run) +
           " passes";
  }
  if (facts.memory_miscompares && *facts.memory_miscompares > 0) {
    return facts.verdict + ": " + std::to_string(*facts.memory_miscompares) + " words miscompared";
  }
  if (!facts.verdict.empty()) return facts.verdict;
  return outcome;
}

UnitVerdict verdict_of(std::span<const StepResult> steps) {
  if (steps.empty()) return {Verdict::error, std::nullopt, "the sequence has no step"};
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].state == StepState::failed) return {Verdict::fail, i, steps[i].finding};
  }
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const StepResult& step = steps[i];
    if (step.state == StepState::passed) continue;
    std::string finding = step.finding;
    if (finding.empty()) {
      finding = step.state == StepState::waiting   ? "not run"
                : step.state == StepState::running ? "did not end"
                : step.state == StepState::stopped ? "stopped"
                                                   : "could not run as it should";
    }
    return {Verdict::error, i, std::move(finding)};
  }
  return {Verdict::pass, std::nullopt, {}};
}

std::string_view verdict_text(Verdict verdict) {
  switch (verdict) {
    case Verdict::pass:
      return "PASS";
    case Verdict::fail:
      return "FAIL";
    case Verdict::error:
      return "ERROR";
  }
  return "ERROR";
}

}  // namespace procedures
