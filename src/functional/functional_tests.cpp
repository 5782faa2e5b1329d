#include "functional/functional_tests.h"

#include <QFont>

#include "functional/test_texts.h"

namespace functional {

using visa::ViStatus;

namespace {

core::ProcedureKind kind_of(TestId test) {
  switch (test) {
    case TestId::SelfLoop:
      return core::ProcedureKind::self_loop;
    case TestId::Rec:
      return core::ProcedureKind::rec;
    case TestId::RecM:
      return core::ProcedureKind::recm;
    case TestId::SelfLoop2:
      return core::ProcedureKind::self_loop2;
    case TestId::Stamp:
      return core::ProcedureKind::stamp;
    case TestId::Trncrecm:
      return core::ProcedureKind::trncrecm;
    case TestId::Trndrecm:
      return core::ProcedureKind::trndrecm;
    case TestId::Trnorecm:
      return core::ProcedureKind::trnorecm;
    case TestId::SelfLong:
      return core::ProcedureKind::self_long;
    case TestId::Trnsrecm:
      return core::ProcedureKind::trnsrecm;
  }
  return core::ProcedureKind::rec;
}

}  // namespace

FunctionalTests::FunctionalTests(core::Station& station, app::DisplayForm& form, FrmTests& console,
                                 std::function<FrmResults&()> results)
    : station_(station),
      form_(form),
      console_(console),
      results_(std::move(results)),
      memory_(station.visa, station.driver_state) {}

void FunctionalTests::run_from_console(TestId test) {
  if (console_.running()) return;
  const core::ProcedureScope units(station_, core::procedure(kind_of(test)));
  if (!units.claimed()) return;
  console_.set_running(true);
  run(plan_for(test));
  console_.setWindowTitle(text::kConsoleCaptionAfterTest);
  console_.set_running(false);
}

TestPlan FunctionalTests::plan_for(TestId test) {
  switch (test) {
    case TestId::SelfLoop:
    case TestId::SelfLoop2:
    case TestId::SelfLong:
      return self_loop_plan(test);
    case TestId::Stamp:
      return stamp_plan();
    default:
      return wrap_plan(test);
  }
}

void FunctionalTests::run(const TestPlan& plan) {
  state_.stop = false;
  console_.setWindowTitle(plan.run_caption);
  QFont font = console_.lblText->font();
  font.setPointSizeF(10);
  console_.lblText->setFont(font);
  console_.lblText->setText(plan.connection_prompt);
  station_.person.message(text::kHitOkToStart);
  core::RunFacts& facts = station_.run;
  if (station_.shutting_down) {
    facts.outcome = core::RunOutcome::interrupted;
    return;
  }
  font.setPointSizeF(28);
  console_.lblText->setFont(font);

  std::string identity;
  const ViStatus status = station_.driver.quor_cmd(uut().session, "*idn?", identity);
  state_.identity = identity;
  station_.units.uut_identity = identity;
  station_.driver.report_status(uut(), status, text::kIdentityStep);

  FrmResults& report = results();
  report.set_test_running(true);
  report.show();
  report.lower();
  form_.lower();
  write_header(plan);
  facts.report_begun = true;

  plan.prepare();
  report.set_progress_maximum(static_cast<float>(plan.passes));

  const auto finish = [&report, &facts](core::RunOutcome outcome) {
    facts.outcome = outcome;
    report.set_test_running(false);
  };
  int failures = 0;
  for (int pass = 1; pass <= plan.passes; ++pass) {
    failures += plan.pass_body(pass);
    facts.passes_run = pass;
    facts.failures = failures;
    // A pass cut short by the shut-down has no result to show.
    if (station_.shutting_down) return finish(core::RunOutcome::interrupted);
    if (plan.limit == FailureLimit::BeforeDisplay && failures == kFailureLimit) {
      return finish(core::RunOutcome::failure_limit);
    }
    console_.lblText->setText(QString("Count: %1    Failures: %2").arg(pass).arg(failures));
    station_.pump.process_events();
    if (plan.limit == FailureLimit::AfterDisplay && failures == kFailureLimit) {
      return finish(core::RunOutcome::failure_limit);
    }
    if (stop_requested()) {
      return finish(station_.shutting_down ? core::RunOutcome::interrupted
                                           : core::RunOutcome::stopped);
    }
    report.set_progress_value(static_cast<float>(pass));
  }
  if (failures == 0) report.append_report(text::kUnitPasses);
  finish(failures == 0 ? core::RunOutcome::passed : core::RunOutcome::failed);
  station_.person.message(text::kTestCompleted);
}

void FunctionalTests::write_header(const TestPlan& plan) {
  FrmResults& report = results();
  report.set_report(std::string(plan.title_line) + "\r\n");
  report.append_report("Date " + station_.person.short_date() + "\r\n\r\n");
  const std::string prefix = plan.identity_without_prefix ? "" : text::kIdentityPrefix;
  report.append_report(prefix + state_.identity + "\r\n\r\n\r\n");
}

void FunctionalTests::send(const driver::UnitRecord& unit, const std::string& command,
                           const char* label) {
  if (station_.shutting_down) return;
  std::string reply;
  const ViStatus status = station_.driver.quor_cmd(unit.session, command, reply);
  uut().test_reply = driver::fixed_text(reply);
  station_.driver.report_status(unit, status, label);
}

void FunctionalTests::reset(const driver::UnitRecord& unit, const char* label) {
  if (station_.shutting_down) return;
  station_.driver.report_status(unit, station_.driver.quor_reset(unit.session), label);
}

void FunctionalTests::write_word(const driver::UnitRecord& unit, std::uint16_t space,
                                 std::uint32_t offset, std::uint16_t value) {
  if (station_.shutting_down) return;
  station_.driver_state.last_visa_status =
      station_.visa.viOut16(unit.session, space, offset, value);
}

std::uint16_t FunctionalTests::memory_space(const driver::UnitRecord& unit) {
  if (station_.shutting_down) return 0;
  visa::ViAttrState space = 0;
  station_.driver_state.last_visa_status =
      station_.visa.viGetAttribute(unit.session, visa::VI_ATTR_MEM_SPACE, &space);
  return static_cast<std::uint16_t>(space);
}

void FunctionalTests::read_memory_spaces(UnitSpaces& spaces) {
  spaces.uut = memory_space(uut());
  spaces.qcu = memory_space(qcu());
}

void FunctionalTests::write_frame(const driver::UnitRecord& unit, std::uint16_t space,
                                  std::uint32_t offset, std::uint16_t start, std::uint16_t step,
                                  std::uint32_t length, std::uint16_t stop_word) {
  write_word(unit, space, offset, kStartWord);
  fill(unit, offset + 2, space, start, step, length);
  write_word(unit, space, offset + 2 * (length + 1), stop_word);
}

void FunctionalTests::fill(const driver::UnitRecord& unit, std::uint32_t offset,
                           std::uint16_t space, std::uint16_t start, std::uint16_t step,
                           std::uint32_t count) {
  if (station_.shutting_down) return;
  memory_.fill_pattern(unit.session, offset, space, start, step, count);
}

std::int16_t FunctionalTests::compare(const driver::UnitRecord& unit, std::uint32_t offset,
                                      std::uint16_t space, std::uint16_t start, std::uint16_t step,
                                      std::uint32_t count, driver::BufferMemory::CompareKind kind) {
  if (station_.shutting_down) return 0;
  return memory_.compare_pattern(unit.session, offset, space, start, step, count, kind, results());
}

}  // namespace functional
