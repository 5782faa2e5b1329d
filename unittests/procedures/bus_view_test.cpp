// What a bus test shows through its view, in which order, and the facts it leaves: outcome,
// passes, failures and the report, the same report the results window is given.
#include <gtest/gtest.h>

#include "bus_test_fixture.h"

namespace procedures_suite {
namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

class BusViewTest : public BusTest {};

TEST_F(BusViewTest, ARunShowsThePromptThenTheCountAndLeavesItsReportInTheFacts) {
  procedures::ConsoleLine while_prompting;
  bool running_while_prompting = false;
  Texts captions_while_prompting;
  person.while_shown = [&](const std::string& text) {
    if (text != "Hit OK to Start Test!") return;
    while_prompting = view.line;
    running_while_prompting = view.tests_running;
    captions_while_prompting = view.captions;
  };
  run(core::ProcedureKind::rec);
  EXPECT_EQ(while_prompting.text, procedures::text::kQcuToUut);
  EXPECT_DOUBLE_EQ(while_prompting.point_size, 10);
  EXPECT_TRUE(running_while_prompting);
  EXPECT_EQ(captions_while_prompting, Texts{"Testing Rec"});
  EXPECT_EQ(view.captions, (Texts{"Testing Rec", "Testing of the Quor-Bus"}));
  EXPECT_EQ(view.line.text, "Count: 50    Failures: 0");
  EXPECT_DOUBLE_EQ(view.line.point_size, 28);
  EXPECT_FALSE(view.tests_running);
  EXPECT_EQ(view.main_window_sent_back, 1);
  EXPECT_EQ(view.reports_opened, 1);
  EXPECT_FALSE(view.report_open);
  EXPECT_EQ(view.progress_maximum, 50);
  EXPECT_EQ(view.progress_value, 50);

  const core::RunFacts& facts = station.run;
  EXPECT_EQ(facts.outcome, core::Outcome::passed);
  EXPECT_EQ(facts.passes_run, 50);
  EXPECT_EQ(facts.failures, 0);
  EXPECT_TRUE(facts.report_begun);
  EXPECT_EQ(facts.report.substr(0, 20), "Quor Bus--Rec Test\r\n");
  EXPECT_EQ(facts.report.substr(facts.report.size() - 11), "Unit Passes");
  EXPECT_EQ(facts.report, view.report);
}

// How a run ends, and what its facts and its console line say then. The line shows the count of
// the last pass displayed; the facts count every pass run.
struct Ending {
  const char* name;
  core::ProcedureKind test;
  bool receiver_unreadable;
  std::uint64_t stop_at_yield;  // 0: never
  core::Outcome outcome;
  int passes_run;
  int failures;
  const char* line;
};

std::ostream& operator<<(std::ostream& out, const Ending& row) { return out << row.name; }

class EndingTest : public BusTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(EndingTest, LeavesItsOutcomeAndCountsInTheFacts) {
  const Ending& row = GetParam();
  // Rec's receiver is the UUT; the other rows' the QCU.
  sim::SimModule& receiver = row.test == core::ProcedureKind::rec ? uut() : qcu();
  if (row.receiver_unreadable) {
    receiver.fail_next(VisaFunction::In16, visa::VI_ERROR_BERR, 100'000'000);
  }
  if (row.stop_at_yield > 0) pump.at_yield(row.stop_at_yield, [this] { stop(); });
  run(row.test);
  const core::RunFacts& facts = station.run;
  EXPECT_EQ(facts.outcome, row.outcome);
  EXPECT_EQ(facts.passes_run, row.passes_run);
  EXPECT_EQ(facts.failures, row.failures);
  EXPECT_EQ(label(), row.line);
  EXPECT_EQ(facts.report, view.report);
  EXPECT_FALSE(view.report_open);
  EXPECT_FALSE(view.tests_running);
  // The closing box only after a run that went through all its passes.
  const bool completed =
      row.outcome == core::Outcome::passed || row.outcome == core::Outcome::failed;
  EXPECT_EQ(person.texts().back(), completed ? "Test Completed!" : "Hit OK to Start Test!");
}

INSTANTIATE_TEST_SUITE_P(
    Endings, EndingTest,
    ::testing::Values(Ending{"RecFailsEveryPass", core::ProcedureKind::rec, true, 0,
                             core::Outcome::failed, 50, 50, "Count: 50    Failures: 50"},
                      Ending{"TrncrecmEndsBeforeShowingItsLimit", core::ProcedureKind::trncrecm,
                             true, 0, core::Outcome::failure_limit, 5, 5,
                             "Count: 4    Failures: 4"},
                      Ending{"TrnsrecmEndsAfterShowingItsLimit", core::ProcedureKind::trnsrecm,
                             true, 0, core::Outcome::failure_limit, 5, 5,
                             "Count: 5    Failures: 5"},
                      // A Rec pass yields four times: three waits and the pass's own event run.
                      Ending{"RecStoppedInItsThirdPass", core::ProcedureKind::rec, false, 9,
                             core::Outcome::stopped, 3, 0, "Count: 3    Failures: 0"}),
    [](const ::testing::TestParamInfo<Ending>& row) { return std::string(row.param.name); });

TEST_F(BusViewTest, ARefusedTestShowsNothingAndNamesItselfByItsCaption) {
  const core::Procedure holder{"Self Test", "Wait for it", core::ProcedureKind::self_test};
  core::ProcedureScope held(station, holder);
  ASSERT_TRUE(held.claimed());
  run(core::ProcedureKind::self_loop2);
  EXPECT_EQ(person.texts(), Texts{"Self Test is running. Wait for it before starting the "
                                  "SELFLOOP2 test."});
  EXPECT_TRUE(view.captions.empty());
  EXPECT_EQ(view.reports_opened, 0);
  EXPECT_FALSE(view.tests_running);
  EXPECT_EQ(uut().command_count("*idn?"), 0U);
}

}  // namespace
}  // namespace procedures_suite
