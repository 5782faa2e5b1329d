// The test console and the results window, and the skeleton every bus test runs in.
#include <gtest/gtest.h>

#include <QPointer>

#include "app/twips.h"
#include "test_console_fixture.h"

namespace console_suite {
namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

// Every read of the module's memory fails, so every compare finds miscompares.
void make_memory_unreadable(sim::SimModule& module) {
  module.fail_next(VisaFunction::In16, visa::VI_ERROR_BERR, 100'000'000);
}

class ConsoleWindowTest : public ConsoleTest {};

TEST_F(ConsoleWindowTest, LayoutAndIdleState) {
  app::FrmTests& c = console();
  EXPECT_EQ(c.windowTitle(), "Main Testing of Quor-Bus");
  EXPECT_EQ(c.objectName(), "frmTests");
  EXPECT_EQ(c.size(), app::twips_size(6705, 5145));
  EXPECT_EQ(c.cmdRec->text(), "REC");
  EXPECT_EQ(c.cmdRecM->text(), "RECM");
  EXPECT_EQ(c.cmdSelfloop2->objectName(), "cmdSelfloop2");
  EXPECT_EQ(c.cmdStamp->geometry(), app::twips_rect(4440, 3840, 1575, 495));
  EXPECT_EQ(c.cmdStop->geometry(), app::twips_rect(240, 4080, 855, 615));
  EXPECT_EQ(c.lblText->font().family(), "Arial Black");
  EXPECT_DOUBLE_EQ(c.lblText->font().pointSizeF(), 27.75);
  EXPECT_TRUE(c.isVisible());
  EXPECT_TRUE(c.cmdExit->isVisible());
  EXPECT_FALSE(c.cmdStop->isVisible());
  for (QPushButton* button : c.test_buttons()) EXPECT_TRUE(button->isEnabled());
}

// The refusals and the records name a test by its caption in the table of procedures; its
// button reads the same, and clicking it runs that test.
TEST_F(ConsoleWindowTest, EachButtonReadsAndRunsItsProcedure) {
  std::vector<core::ProcedureKind> started;
  struct Started final : core::ProcedureObserver {
    explicit Started(std::vector<core::ProcedureKind>& kinds) : kinds_(kinds) {}
    void started(const core::Procedure& procedure) override { kinds_.push_back(procedure.kind); }
    void ended(const core::Procedure&) override {}
    void refused(const core::Procedure&, const core::Procedure&) override {}
    std::vector<core::ProcedureKind>& kinds_;
  } observer(started);
  station.procedure.observers.push_back(&observer);
  // Every test is stopped at its first yield.
  for (const core::ProcedureKind test : app::kConsoleTests) {
    EXPECT_EQ(console().button(test)->text().toStdString(), core::procedure_row(test).caption);
    pump.then([this] { console().cmdStop->click(); });
    console().button(test)->click();
  }
  std::erase(station.procedure.observers, &observer);
  EXPECT_EQ(started,
            std::vector<core::ProcedureKind>(app::kConsoleTests.begin(), app::kConsoleTests.end()));
  EXPECT_EQ(console().button(core::ProcedureKind::self_test), nullptr);
}

TEST_F(ConsoleWindowTest, MainTestingTwiceShowsTheSameConsoleAndExitUnloadsIt) {
  app::FrmTests* first = &console();
  windows->form().mnuTest->trigger();
  EXPECT_EQ(&console(), first);
  first->cmdExit->click();
  EXPECT_EQ(windows->test_console().console(), nullptr);
  windows->form().mnuTest->trigger();
  ASSERT_NE(windows->test_console().console(), nullptr);
  EXPECT_EQ(console().windowTitle(), "Main Testing of Quor-Bus");
}

TEST_F(ConsoleWindowTest, ResultsWindowLayoutPrintAndProgressClamp) {
  app::FrmResults& r = results();
  EXPECT_EQ(r.windowTitle(), "Test Results");
  EXPECT_EQ(r.Label1->text(), "Test Progress");
  EXPECT_EQ(r.TestProgressBar->maximum(), 100);
  r.set_report("Quor Bus--Rec Test\r\n");
  r.append_report("Unit Passes");
  EXPECT_EQ(r.txtFail->toPlainText(), "Quor Bus--Rec Test\nUnit Passes");
  r.mnuPrint->trigger();
  EXPECT_EQ(person.printed, Texts{"Quor Bus--Rec Test\r\nUnit Passes"});
  r.set_progress_maximum(250);
  r.set_progress_value(250);
  r.set_progress_maximum(5);  // a shorter test after a longer one
  EXPECT_EQ(r.TestProgressBar->maximum(), 5);
  EXPECT_EQ(r.TestProgressBar->value(), 5);
  r.set_progress_value(9);
  EXPECT_EQ(r.TestProgressBar->value(), 5);
}

class SkeletonTest : public ConsoleTest {};

TEST_F(SkeletonTest, RecNeverStopsOnFailuresAndEndsWithTheCompletionBox) {
  make_memory_unreadable(uut());
  std::string prompt_while_waiting;
  person.while_shown = [&](const std::string& text) {
    if (text == "Hit OK to Start Test!") {
      prompt_while_waiting = label();
      EXPECT_DOUBLE_EQ(console().lblText->font().pointSizeF(), 10);
      EXPECT_FALSE(console().cmdRec->isEnabled());
      EXPECT_TRUE(console().cmdStop->isVisible());
      EXPECT_FALSE(console().cmdExit->isVisible());
      EXPECT_EQ(console().windowTitle(), "Testing Rec");
    }
  };
  console().cmdRec->click();
  EXPECT_EQ(prompt_while_waiting, "Connect the OCU's Output 1(or 2,3,4) to UUT's Input 1");
  EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}));
  EXPECT_EQ(label(), "Count: 50    Failures: 50");
  EXPECT_DOUBLE_EQ(console().lblText->font().pointSizeF(), 28);
  EXPECT_EQ(results().TestProgressBar->maximum(), 50);
  EXPECT_EQ(results().TestProgressBar->value(), 50);
  EXPECT_EQ(report().find("Unit Passes"), std::string::npos);
  EXPECT_EQ(console().windowTitle(), "Testing of the Quor-Bus");
  EXPECT_TRUE(console().cmdRec->isEnabled());
  EXPECT_FALSE(console().cmdStop->isVisible());
  EXPECT_TRUE(console().cmdExit->isVisible());
  EXPECT_TRUE(results().isVisible());
}

TEST_F(SkeletonTest, ReportHeaderHoldsTitleDateAndIdentity) {
  make_memory_unreadable(uut());
  console().cmdRecM->click();
  // The built-in chassis's UUT says it is simulated, so the report can never pass for a real one.
  const std::string identity = "ARDENVALE,QUOR BUS SIMULATED,SIM-LA008,1.00\n";
  const std::string header =
      "Quor Bus--Recm\r\nDate 12/7/2026\r\n\r\n*idn? results = " + identity + "\r\n\r\n\r\n";
  EXPECT_EQ(report().substr(0, header.size()), header);
  EXPECT_EQ(functional().state().identity, identity);
  EXPECT_EQ(uut().command_count("*idn?"), 1U);
}

TEST_F(SkeletonTest, StopDuringPassThreeEndsAfterThatPassSilently) {
  make_memory_unreadable(uut());
  // A Rec pass yields four times: three waits and the pass's own event run.
  pump.at_yield(9, [this] { console().cmdStop->click(); });
  console().cmdRec->click();
  EXPECT_EQ(label(), "Count: 3    Failures: 3");
  EXPECT_EQ(results().TestProgressBar->value(), 2);
  EXPECT_EQ(person.texts(), Texts{"Hit OK to Start Test!"});
  EXPECT_EQ(report().find("Unit Passes"), std::string::npos);
  EXPECT_TRUE(console().cmdRec->isEnabled());
  EXPECT_FALSE(console().cmdStop->isVisible());
  // Both units were left idle by the pass that completed.
  EXPECT_EQ(uut().mode(), sim::Mode::Idle);
  EXPECT_EQ(qcu().mode(), sim::Mode::Idle);
  // The next test clears the stop request.
  person.shown.clear();
  console().cmdRec->click();
  EXPECT_EQ(label(), "Count: 50    Failures: 50");
}

TEST_F(SkeletonTest, ASecondTestReplacesTheFirstReport) {
  make_memory_unreadable(uut());
  make_memory_unreadable(qcu());
  console().cmdTrnorecm->click();
  EXPECT_EQ(report().substr(0, 25), "Quor Bus--Trnorecm Test\r\n");
  console().cmdSelfLong->click();
  EXPECT_EQ(report().substr(0, 25), "Quor Bus--SelfLong Test\r\n");
  EXPECT_EQ(report().find("Trnorecm"), std::string::npos);
}

TEST_F(SkeletonTest, ResultsWindowCannotBeUnloadedWhileATestWritesToIt) {
  make_memory_unreadable(uut());
  bool exit_enabled = true;
  pump.at_yield(2, [&] {
    exit_enabled = results().mnuExit->isEnabled();
    results().mnuExit->trigger();
    results().close();
  });
  console().cmdRec->click();
  EXPECT_FALSE(exit_enabled);
  ASSERT_NE(windows->test_console().results_window(), nullptr);
  EXPECT_EQ(report().substr(0, 20), "Quor Bus--Rec Test\r\n");
  // After the run Exit unloads it; the next test creates it again.
  results().mnuExit->trigger();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(windows->test_console().results_window(), nullptr);
}

TEST_F(SkeletonTest, ClosingTheMainWindowEndsARunningTestAtOnce) {
  make_memory_unreadable(uut());
  // The console is unloaded once the test has returned; Qt deletes it later.
  const QPointer<app::FrmTests> running_console = &console();
  const QPointer<app::FrmResults> results_window = &results();
  pump.at_yield(2, [this] { windows->form().close(); });
  console().cmdRec->click();
  ASSERT_NE(running_console, nullptr);
  // The pass the close cut short neither ran on nor counted.
  EXPECT_EQ(running_console->lblText->text().toStdString(), procedures::text::kQcuToUut);
  EXPECT_EQ(uut().command_count("mode idle"), 0U);
  EXPECT_EQ(person.texts(), Texts{"Hit OK to Start Test!"});
  EXPECT_EQ(chassis.open_session_count(), 0);
  // The console and the results window go with the main window.
  EXPECT_FALSE(running_console->isVisible());
  EXPECT_EQ(windows->test_console().console(), nullptr);
  EXPECT_EQ(windows->test_console().results_window(), nullptr);
  ASSERT_NE(results_window, nullptr);
  EXPECT_FALSE(results_window->isVisible());
}

TEST_F(SkeletonTest, ClosingTheMainWindowWhileIdleClosesTheConsoleAndResults) {
  results().show();
  windows->form().close();
  EXPECT_EQ(windows->test_console().console(), nullptr);
  EXPECT_EQ(windows->test_console().results_window(), nullptr);
}

TEST_F(SkeletonTest, ClosingTheWindowsFromTheirTitleBarsUnloadsThem) {
  make_memory_unreadable(uut());
  pump.at_yield(4, [this] { console().cmdStop->click(); });
  console().cmdRec->click();
  EXPECT_EQ(console().windowTitle(), "Testing of the Quor-Bus");
  results().close();
  EXPECT_EQ(windows->test_console().results_window(), nullptr);
  console().close();
  EXPECT_EQ(windows->test_console().console(), nullptr);
  // "Main Testing" brings a fresh console, with its design caption and an empty label.
  windows->form().mnuTest->trigger();
  EXPECT_EQ(console().windowTitle(), "Main Testing of Quor-Bus");
  EXPECT_EQ(label(), "");
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace console_suite
