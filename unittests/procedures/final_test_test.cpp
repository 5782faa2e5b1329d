// A unit's final test: its sequence file, its verdict over every way a step can end, and the
// runner on the simulated bench, whose VISA traffic is the procedures' own run one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "procedures/bus_test_texts.h"
#include "procedures/bus_tests.h"
#include "procedures/final_test.h"
#include "procedures/production_tests.h"
#include "procedures/unit_init.h"
#include "sim/sim_module.h"
#include "testing/recording_bus_view.h"
#include "testing/scripted_views.h"
#include "testing/sim_station.h"

namespace procedures_tests {
namespace {

using core::Outcome;
using core::ProcedureKind;
using procedures::StepResult;
using procedures::StepState;
using procedures::Verdict;
using K = core::ProcedureKind;

// --- The sequence file ---

struct ParseRow {
  const char* name;
  const char* text;
  std::vector<ProcedureKind> steps;  // when it reads
  int line;                          // when it does not: the line named
  const char* message_part;
};

class ParseSequenceTest : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ParseSequenceTest, ReadsTheStepsOrNamesTheWrongLine) {
  const ParseRow& row = GetParam();
  const auto parsed = procedures::parse_sequence(row.text, "line.seq");
  if (!row.steps.empty()) {
    ASSERT_TRUE(std::holds_alternative<procedures::Sequence>(parsed))
        << std::get<procedures::SequenceError>(parsed).message;
    EXPECT_EQ(std::get<procedures::Sequence>(parsed),
              (procedures::Sequence{"line.seq", row.steps}));
    return;
  }
  ASSERT_TRUE(std::holds_alternative<procedures::SequenceError>(parsed));
  const auto& error = std::get<procedures::SequenceError>(parsed);
  EXPECT_EQ(error.line, row.line);
  EXPECT_EQ(error.message.rfind("line " + std::to_string(row.line) + ": ", 0), 0U) << error.message;
  EXPECT_NE(error.message.find(row.message_part), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParseSequenceTest,
    ::testing::Values(
        ParseRow{"CaptionsIdsCommentsAndBlankLines",
                 "# the fixture's short run\n\n  REC  # QCU to UUT\r\nself_test\nselfloop2\n"
                 "Calibrate Outputs\n\t\n",
                 {K::rec, K::self_test, K::self_loop2, K::output_calibration},
                 0,
                 ""},
        ParseRow{
            "CaseAndNoLastLineEnd", "memory test\nTRNCRECM", {K::memory_test, K::trncrecm}, 0, ""},
        ParseRow{"AnUnknownName", "REC\n\nRECX\nSTAMP\n", {}, 3, "\"RECX\" is no procedure"},
        ParseRow{"AnInitialization",
                 "Self Test\nInitialize UUT\n",
                 {},
                 2,
                 "Initialize UUT cannot be a step"},
        ParseRow{"LoadNonVol", "load_non_vol\n", {}, 1, "Load Non-Vol cannot be a step"},
        ParseRow{"TwoNamesOnALine", "REC RECM\n", {}, 1, "\"REC RECM\" is no procedure"},
        ParseRow{"OnlyComments", "# nothing yet\n\n", {}, 2, "names no procedure"},
        ParseRow{"Empty", "", {}, 1, "names no procedure"}),
    [](const ::testing::TestParamInfo<ParseRow>& row) { return std::string(row.param.name); });

// --- Cabling and the default order ---

TEST(CablingTest, IsEachBusTestsOwnPromptAndTheDefaultOrderChangesItLeast) {
  testing_support::SimStation bench;
  testing_support::RecordingBusView view;
  procedures::BusTests tests(bench.station, view);
  for (const core::ProcedureRow& row : core::procedure_table()) {
    const std::string_view expected =
        row.bus_test ? std::string_view(tests.plan_for(row.kind).connection_prompt) : "";
    EXPECT_EQ(procedures::cabling_of(row.kind), expected) << row.caption;
  }
  // Every procedure that tests a unit without the technician's hands, once, and each cabling
  // in one run of steps.
  const procedures::Sequence sequence = procedures::default_sequence();
  std::vector<ProcedureKind> sorted = sequence.steps;
  std::sort(sorted.begin(), sorted.end());
  std::vector<ProcedureKind> expected;
  for (const core::ProcedureRow& row : core::procedure_table()) {
    if (row.bus_test || row.kind == K::self_test || row.kind == K::memory_test) {
      expected.push_back(row.kind);
    }
  }
  EXPECT_EQ(sorted, expected);
  std::vector<std::string_view> cablings;
  for (ProcedureKind kind : sequence.steps) {
    const std::string_view cabling = procedures::cabling_of(kind);
    if (!cabling.empty() && (cablings.empty() || cablings.back() != cabling)) {
      cablings.push_back(cabling);
    }
  }
  EXPECT_EQ(cablings.size(), 4U) << "four cablings, each confirmed once";
  EXPECT_EQ(procedures::cabling_of(sequence.steps.front()), "") << "the cable-free steps first";
}

// --- The verdict ---

// A step as its run ended; `never` for a step left waiting.
struct Ended {
  std::optional<Outcome> outcome;
  bool never = false;
};

StepResult step_of(Ended ended, std::size_t index) {
  StepResult step;
  if (ended.never) return step;
  step.facts.outcome = ended.outcome;
  step.state = procedures::step_state_of(ended.outcome);
  step.finding = step.state == StepState::passed ? "" : "finding " + std::to_string(index);
  return step;
}

std::vector<Ended> every_end() {
  std::vector<Ended> ends{{std::nullopt, false}, {std::nullopt, true}};
  for (Outcome outcome : core::all_outcomes()) ends.push_back({outcome, false});
  return ends;
}

TEST(VerdictTest, OverEveryPairOfEndsPassNeedsBothPassedAndAFailureOutranksAnError) {
  const auto failed = [](const Ended& e) {
    return !e.never && (e.outcome == Outcome::failed || e.outcome == Outcome::failure_limit);
  };
  const auto passed = [](const Ended& e) { return !e.never && e.outcome == Outcome::passed; };
  for (const Ended& first : every_end()) {
    for (const Ended& second : every_end()) {
      const std::vector<StepResult> steps{step_of(first, 0), step_of(second, 1)};
      const procedures::UnitVerdict verdict = procedures::verdict_of(steps);
      const auto name = [](const Ended& e) {
        return std::string(e.never     ? "never"
                           : e.outcome ? core::stored_id(*e.outcome)
                                       : "undecided");
      };
      const std::string where = name(first) + " then " + name(second);
      if (passed(first) && passed(second)) {
        EXPECT_EQ(verdict.verdict, Verdict::pass) << where;
        EXPECT_FALSE(verdict.step.has_value()) << where;
        continue;
      }
      const bool fail = failed(first) || failed(second);
      EXPECT_EQ(verdict.verdict, fail ? Verdict::fail : Verdict::error) << where;
      // The first step that decides it, with what it found.
      const std::size_t decider = fail ? (failed(first) ? 0 : 1) : (passed(first) ? 1 : 0);
      EXPECT_EQ(verdict.step, decider) << where;
      const bool never = decider == 0 ? first.never : second.never;
      EXPECT_EQ(verdict.finding, never ? "not run" : "finding " + std::to_string(decider)) << where;
    }
  }
  EXPECT_EQ(procedures::verdict_of({}).verdict, Verdict::error) << "no step tested the unit";
}

// --- The runner on the bench ---

// Keeps every call as the trace describes it, without its time.
class CallLines final : public visa::VisaCallSink {
 public:
  void record(const visa::VisaCall& call) override { lines.push_back(visa::describe_call(call)); }
  bool takes_register_runs() const override { return true; }
  std::vector<std::string> lines;
};

// The final test's view as a technician at the bench answers it.
class BenchView final : public procedures::FinalTestView {
 public:
  bool accept_serial_mismatch(const std::string& entered, const std::string& reported) override {
    mismatches.push_back(entered + " / " + reported);
    return accept_mismatch;
  }
  bool confirm_cabling(const std::string& prompt) override {
    cablings.push_back(prompt);
    if (on_cabling) on_cabling();
    return cablings.size() <= confirmations;
  }
  void step_changed(std::size_t index, const StepResult& step) override {
    changes.emplace_back(index, step.state);
  }
  void step_progress(std::size_t index, double value, double maximum) override {
    last_progress = {index, value, maximum};
  }
  void time_left(std::optional<std::chrono::milliseconds> left) override {
    lefts.push_back(left);
    if (before_step) std::exchange(before_step, {})();
  }

  bool accept_mismatch = true;
  std::size_t confirmations = 100;
  std::function<void()> on_cabling;
  // Once, when the first step is about to start (the units are open by then).
  std::function<void()> before_step;
  std::vector<std::string> mismatches;
  std::vector<std::string> cablings;
  std::vector<std::pair<std::size_t, StepState>> changes;
  std::tuple<std::size_t, double, double> last_progress{};
  std::vector<std::optional<std::chrono::milliseconds>> lefts;
};

class Recorder final : public procedures::FinalTestObserver {
 public:
  void unit_started(const procedures::FinalTestResult& result) override {
    seen.push_back("started " + result.unit.top_serial + (result.finished ? " finished" : ""));
  }
  void unit_ended(const procedures::FinalTestResult& result) override {
    seen.push_back("ended " + std::string(procedures::verdict_text(result.verdict.verdict)) +
                   (result.finished ? " finished" : ""));
  }
  std::vector<std::string> seen;
};

constexpr const char* kUut = "VXI0::8::INSTR";
constexpr const char* kQcu = "VXI0::24::INSTR";

struct TracedStation : testing_support::SimStation {
  TracedStation() : SimStation({.traced = true}) {
    traced->set_sink(&calls);
    station.driver.set_step_display(&main_view);
    station.driver.set_error_options(4);
  }
  ~TracedStation() {
    station.driver.set_step_display(nullptr);
    // The trace hands its open run to the sink while the sink still stands.
    traced->set_sink(nullptr);
  }
  sim::SimModule& module(int la) { return *chassis.module_at(static_cast<std::int16_t>(la)); }

  CallLines calls;
  testing_support::ScriptedMainView main_view;
};

class FinalTestRunnerTest : public ::testing::Test {
 protected:
  FinalTestRunnerTest()
      : production(bench.station, bench.main_view), runner(bench.station, production, view) {
    runner.add_observer(recorder);
  }

  procedures::FinalTestResult run(const procedures::Sequence& sequence,
                                  std::string serial = "SIM-LA008") {
    return runner.run({serial, "SUB-1", "Ada", kUut, kQcu}, sequence);
  }

  TracedStation bench;
  procedures::ProductionTests production;
  BenchView view;
  Recorder recorder;
  procedures::FinalTestRunner runner;
};

// The procedures run one by one as the technician runs them from the windows: Initialize All
// with the same choices, then each step from its button.
std::vector<std::string> one_by_one(const procedures::Sequence& sequence) {
  TracedStation bench;
  testing_support::RecordingBusView bus_view;
  procedures::BusTests tests(bench.station, bus_view);
  procedures::ProductionTests production(bench.station, bench.main_view);
  testing_support::ScriptedSelectionView selection;
  procedures::UnitInitialization init(bench.station, bench.main_view, selection);
  std::deque<std::string> choices{kUut, kQcu};
  bench.pump.then([&] { init.module_chosen({choices.front(), true, true}); });
  bench.pump.then([&] {
    choices.pop_front();
    init.module_chosen({choices.front(), true, true});
  });
  init.initialize_all();
  for (ProcedureKind kind : sequence.steps) {
    if (kind == K::self_test) production.on_test_button(3);
    if (kind == K::memory_test) production.on_test_button(2);
    if (core::procedure_row(kind).bus_test) tests.run_from_console(kind);
  }
  return bench.calls.lines;
}

TEST_F(FinalTestRunnerTest, TheDefaultSequenceSendsWhatTheProceduresSendOneByOneAndPasses) {
  const procedures::Sequence sequence = procedures::default_sequence();
  const procedures::FinalTestResult result = run(sequence);

  const std::vector<std::string> expected = one_by_one(sequence);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(bench.calls.lines.size(), expected.size());
  EXPECT_TRUE(bench.calls.lines == expected)
      << "the traces part at call "
      << std::mismatch(bench.calls.lines.begin(), bench.calls.lines.end(), expected.begin(),
                       expected.end())
                 .first -
             bench.calls.lines.begin();

  EXPECT_EQ(result.verdict.verdict, Verdict::pass) << result.verdict.finding;
  ASSERT_EQ(result.steps.size(), sequence.steps.size());
  for (const StepResult& step : result.steps) {
    EXPECT_EQ(step.state, StepState::passed) << core::procedure_row(step.kind).caption;
    EXPECT_TRUE(step.finding.empty());
  }
  EXPECT_EQ(result.uut_identity.rfind("ARDENVALE,QUOR BUS SIMULATED,SIM-LA008", 0), 0U);
  // Each cabling asked once; the steps' own boxes answered; no serial question.
  EXPECT_EQ(view.cablings, (std::vector<std::string>{
                               procedures::text::kQcuToUut, procedures::text::kUutToQcu,
                               procedures::text::kUutToInput1, procedures::text::kUutToInput2}));
  EXPECT_TRUE(bench.person.texts().empty()) << bench.person.texts().front();
  EXPECT_TRUE(view.mismatches.empty());
  EXPECT_EQ(view.changes.size(), 2 * sequence.steps.size());
  EXPECT_EQ(std::get<0>(view.last_progress), sequence.steps.size() - 1);
  EXPECT_EQ(recorder.seen, (std::vector<std::string>{"started SIM-LA008", "ended PASS finished"}));
  EXPECT_FALSE(runner.running());
}

TEST_F(FinalTestRunnerTest, AFailingStepNamesItsFirstMiscompareAndTheRestStillRun) {
  sim::DataBitFault fault;
  fault.stuck_high = 0x80;
  bench.module(8).set_receive_data_fault(fault);
  const procedures::FinalTestResult result = run({"short", {K::self_test, K::rec, K::memory_test}});
  EXPECT_EQ(result.verdict.verdict, Verdict::fail);
  EXPECT_EQ(result.verdict.step, 1U);
  EXPECT_EQ(result.verdict.finding, "Miscompare at 2 Expected 4 Got 84");
  EXPECT_EQ(result.steps[2].state, StepState::passed);
  // A failing bus test ends without its "Test Completed!" box: nothing reaches the technician.
  EXPECT_TRUE(bench.person.texts().empty());
}

TEST_F(FinalTestRunnerTest, AStepWithAVisaErrorOnTheWayIsAnErrorThoughItsReportPasses) {
  view.before_step = [&] {
    bench.module(8).fail_next(sim::VisaFunction::Write, visa::VI_ERROR_BERR);
  };
  const procedures::FinalTestResult result = run({"short", {K::self_test, K::memory_test}});
  EXPECT_EQ(result.steps[0].facts.verdict, "Self Test Passed");
  EXPECT_EQ(result.steps[0].state, StepState::error);
  EXPECT_EQ(result.verdict.verdict, Verdict::error);
  EXPECT_EQ(result.verdict.step, 0U);
  EXPECT_EQ(result.verdict.finding.rfind("Resetting the UUT: ", 0), 0U) << result.verdict.finding;
  EXPECT_EQ(result.steps[1].state, StepState::passed);
}

struct SerialRow {
  const char* name;
  const char* entered;
  bool accept;
  bool asked;
  bool steps_run;
};

class SerialTest : public FinalTestRunnerTest, public ::testing::WithParamInterface<SerialRow> {};

TEST_P(SerialTest, AMismatchIsAskedBeforeTheStepsAndADeclineRunsNone) {
  const SerialRow& row = GetParam();
  view.accept_mismatch = row.accept;
  const procedures::FinalTestResult result = run({"short", {K::self_test}}, row.entered);
  EXPECT_EQ(view.mismatches,
            row.asked ? std::vector<std::string>{std::string(row.entered) + " / SIM-LA008"}
                      : std::vector<std::string>{});
  EXPECT_EQ(result.steps[0].state, row.steps_run ? StepState::passed : StepState::waiting);
  EXPECT_EQ(result.verdict.verdict, row.steps_run ? Verdict::pass : Verdict::error);
  if (!row.steps_run) {
    EXPECT_EQ(result.verdict.finding, "the serial entered (" + std::string(row.entered) +
                                          ") is not the UUT's own (SIM-LA008)");
    EXPECT_EQ(bench.module(8).command_log().end() - std::find(bench.module(8).command_log().begin(),
                                                              bench.module(8).command_log().end(),
                                                              "*TST?"),
              0)
        << "no self test sent";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Serials, SerialTest,
    ::testing::Values(SerialRow{"Same", "SIM-LA008", false, false, true},
                      SerialRow{"SameButCaseAndBlanks", " sim-la008 ", false, false, true},
                      SerialRow{"MismatchAccepted", "QB-1234", true, true, true},
                      SerialRow{"MismatchDeclined", "QB-1234", false, true, false}),
    [](const ::testing::TestParamInfo<SerialRow>& row) { return std::string(row.param.name); });

TEST_F(FinalTestRunnerTest, StopEndsTheRunningStepAsStopTestDoesAndTheSequenceAfterIt) {
  // STOP clicked while the second cabling is asked for: the next bus test is stopped at its
  // first pass and nothing after it runs.
  runner.set_expected_duration([](ProcedureKind) { return std::chrono::milliseconds(1000); });
  view.on_cabling = [&] {
    if (view.cablings.size() == 2) bench.pump.then([&] { runner.request_stop(); });
  };
  const procedures::FinalTestResult result = run({"stop", {K::rec, K::trnsrecm, K::trnorecm}});
  EXPECT_EQ(result.steps[0].state, StepState::passed);
  EXPECT_EQ(result.steps[1].state, StepState::stopped);
  EXPECT_EQ(result.steps[1].facts.passes_run, 1);
  EXPECT_EQ(result.steps[2].state, StepState::waiting);
  EXPECT_EQ(result.verdict.verdict, Verdict::error);
  EXPECT_EQ(result.verdict.step, 1U);
  EXPECT_EQ(result.verdict.finding, "stopped");
  // Three steps left, then two, then none.
  EXPECT_EQ(view.lefts, (std::vector<std::optional<std::chrono::milliseconds>>{
                            std::chrono::milliseconds(3000), std::chrono::milliseconds(2000),
                            std::chrono::milliseconds(0)}));
}

TEST_F(FinalTestRunnerTest, AResourceNotFoundIsAnErrorBeforeAnyStep) {
  const procedures::FinalTestResult result =
      runner.run({"SIM-LA008", "", "Ada", "VXI0::99::INSTR", kQcu}, {"short", {K::self_test}});
  EXPECT_EQ(result.verdict.verdict, Verdict::error);
  EXPECT_FALSE(result.verdict.step.has_value());
  EXPECT_EQ(result.verdict.finding.rfind("Initialize UUT on VXI0::99::INSTR did not open", 0), 0U)
      << result.verdict.finding;
  EXPECT_EQ(result.steps[0].state, StepState::waiting);
  EXPECT_TRUE(view.changes.empty());
}

}  // namespace
}  // namespace procedures_tests
