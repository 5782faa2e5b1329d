#include "procedures/bus_tests.h"

#include "procedures/bus_test_texts.h"

namespace procedures {

using visa::ViStatus;

void BusTests::Report::set(const std::string& text) {
  station_.run.report = text;
  view_.set_report(text);
}

void BusTests::Report::append_report(const std::string& text) {
  station_.run.report += text;
  view_.append_report(text);
}

BusTests::BusTests(core::Station& station, BusTestView& view)
    : station_(station),
      view_(view),
      report_(station, view),
      memory_(station.visa, station.driver_state) {}

void BusTests::run_from_console(core::ProcedureKind test) {
  if (running_) return;
  const core::ProcedureScope units(station_, core::procedure(test));
  if (!units.claimed()) return;
  running_ = true;
  view_.set_tests_running(true);
  run(plan_for(test));
  view_.set_console_caption(text::kConsoleCaptionAfterTest);
  running_ = false;
  view_.set_tests_running(false);
}

TestPlan BusTests::plan_for(core::ProcedureKind test) {
  switch (test) {
    case core::ProcedureKind::self_loop:
    case core::ProcedureKind::self_loop2:
    case core::ProcedureKind::self_long:
      return self_loop_plan(test);
    case core::ProcedureKind::stamp:
      return stamp_plan();
    default:
      return wrap_plan(test);
  }
}

void BusTests::run(const TestPlan& plan) {
  state_.stop = false;
  view_.set_console_caption(plan.run_caption);
  view_.show_console_line({plan.connection_prompt, text::kPromptPoints});
  station_.person.message(text::kHitOkToStart);
  core::RunFacts& facts = station_.run;
  if (station_.shutting_down) {
    facts.outcome = core::Outcome::interrupted;
    return;
  }
  view_.show_console_line({plan.connection_prompt, text::kCountPoints});

  std::string identity;
  const ViStatus status = station_.driver.quor_cmd(uut().session, "*idn?", identity);
  state_.identity = identity;
  station_.units.uut_identity = identity;
  station_.driver.report_status(uut(), status, text::kIdentityStep);

  view_.open_report();
  view_.send_main_window_back();
  write_header(plan);
  facts.report_begun = true;

  plan.prepare();
  view_.set_progress_maximum(static_cast<float>(plan.passes));

  const auto finish = [this, &facts](core::Outcome outcome) {
    facts.outcome = outcome;
    view_.report_done();
  };
  int failures = 0;
  for (int pass = 1; pass <= plan.passes; ++pass) {
    failures += plan.pass_body(pass);
    facts.passes_run = pass;
    facts.failures = failures;
    // A pass cut short by the shut-down has no result to show.
    if (station_.shutting_down) return finish(core::Outcome::interrupted);
    if (plan.limit == FailureLimit::BeforeDisplay && failures == kFailureLimit) {
      return finish(core::Outcome::failure_limit);
    }
    view_.show_console_line(
        {"Count: " + std::to_string(pass) + "    Failures: " + std::to_string(failures),
         text::kCountPoints});
    station_.pump.process_events();
    if (plan.limit == FailureLimit::AfterDisplay && failures == kFailureLimit) {
      return finish(core::Outcome::failure_limit);
    }
    if (stop_requested()) {
      return finish(station_.shutting_down ? core::Outcome::interrupted : core::Outcome::stopped);
    }
    view_.set_progress_value(static_cast<float>(pass));
  }
  if (failures == 0) report_.append_report(text::kUnitPasses);
  finish(failures == 0 ? core::Outcome::passed : core::Outcome::failed);
  station_.person.message(text::kTestCompleted);
}

void BusTests::write_header(const TestPlan& plan) {
  report_.set(std::string(plan.title_line) + "\r\n");
  report_.append_report("Date " + station_.person.short_date() + "\r\n\r\n");
  const std::string prefix = plan.identity_without_prefix ? "" : text::kIdentityPrefix;
  report_.append_report(prefix + state_.identity + "\r\n\r\n\r\n");
}

void BusTests::send(const driver::UnitRecord& unit, const std::string& command, const char* label) {
  if (station_.shutting_down) return;
  std::string reply;
  const ViStatus status = station_.driver.quor_cmd(unit.session, command, reply);
  uut().test_reply = driver::fixed_text(reply);
  station_.driver.report_status(unit, status, label);
}

void BusTests::reset(const driver::UnitRecord& unit, const char* label) {
  if (station_.shutting_down) return;
  station_.driver.report_status(unit, station_.driver.quor_reset(unit.session), label);
}

void BusTests::write_word(const driver::UnitRecord& unit, std::uint16_t space, std::uint32_t offset,
                          std::uint16_t value) {
  if (station_.shutting_down) return;
  station_.driver_state.last_visa_status =
      station_.visa.viOut16(unit.session, space, offset, value);
}

std::uint16_t BusTests::memory_space(const driver::UnitRecord& unit) {
  if (station_.shutting_down) return 0;
  visa::ViAttrState space = 0;
  station_.driver_state.last_visa_status =
      station_.visa.viGetAttribute(unit.session, visa::VI_ATTR_MEM_SPACE, &space);
  return static_cast<std::uint16_t>(space);
}

void BusTests::read_memory_spaces(UnitSpaces& spaces) {
  spaces.uut = memory_space(uut());
  spaces.qcu = memory_space(qcu());
}

void BusTests::write_frame(const driver::UnitRecord& unit, std::uint16_t space,
                           std::uint32_t offset, std::uint16_t start, std::uint16_t step,
                           std::uint32_t length, std::uint16_t stop_word) {
  write_word(unit, space, offset, kStartWord);
  fill(unit, offset + 2, space, start, step, length);
  write_word(unit, space, offset + 2 * (length + 1), stop_word);
}

void BusTests::fill(const driver::UnitRecord& unit, std::uint32_t offset, std::uint16_t space,
                    std::uint16_t start, std::uint16_t step, std::uint32_t count) {
  if (station_.shutting_down) return;
  memory_.fill_pattern(unit.session, offset, space, start, step, count);
}

std::int16_t BusTests::compare(const driver::UnitRecord& unit, std::uint32_t offset,
                               std::uint16_t space, std::uint16_t start, std::uint16_t step,
                               std::uint32_t count, driver::BufferMemory::CompareKind kind) {
  if (station_.shutting_down) return 0;
  return memory_.compare_pattern(unit.session, offset, space, start, step, count, kind, report_);
}

}  // namespace procedures
