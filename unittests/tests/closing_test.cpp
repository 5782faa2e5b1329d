// Closing the main window during a test: the wait in progress ends at once, the test stops at
// its next check without touching the units or writing to the report, and every VISA object is
// closed.
#include <gtest/gtest.h>

#include <QPointer>

#include "tests_fixture.h"

namespace tests_suite {
namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

class ClosingTest : public ConsoleTest {};

TEST_F(ClosingTest, ClosingDuringSelfLongsDwellEndsTheTestAtOnceWithoutTouchingTheUnits) {
  std::uint64_t calls_at_close = 0;
  std::uint64_t time_at_close = 0;
  std::string report_at_close;
  const QPointer<tests::FrmResults> results_window = &results();
  // The first yields are the one-second ticks of the first pass's dwell.
  pump.at_yield(2, [&] {
    report_at_close = report();
    windows->form().close();
    calls_at_close = chassis.total_calls();
    time_at_close = clock.now_us();
  });
  console().cmdSelfLong->click();
  EXPECT_EQ(time_at_close, 2'000'000U);
  EXPECT_EQ(clock.now_us(), time_at_close);
  EXPECT_EQ(chassis.total_calls(), calls_at_close);
  EXPECT_EQ(uut().command_count("mode idle"), 0U);
  ASSERT_NE(results_window, nullptr);
  EXPECT_EQ(results_window->report_text(), report_at_close);
  EXPECT_EQ(chassis.open_object_count(), 0);
  EXPECT_EQ(person.texts(), Texts{"Hit OK to Start Test!"});
}

TEST_F(ClosingTest, ClosingDuringStampsWaitEndsTheTestWithoutReportLines) {
  std::uint64_t writes_at_close = 0;
  std::uint64_t reads_at_close = 0;
  std::string report_at_close;
  const QPointer<tests::FrmResults> results_window = &results();
  pump.at_yield(25, [&] {  // the second pass's wait
    report_at_close = report();
    windows->form().close();
    writes_at_close = chassis.call_count(VisaFunction::Write);
    reads_at_close = chassis.call_count(VisaFunction::In16);
  });
  console().cmdStamp->click();
  EXPECT_EQ(chassis.call_count(VisaFunction::Write), writes_at_close);
  EXPECT_EQ(chassis.call_count(VisaFunction::In16), reads_at_close);
  ASSERT_NE(results_window, nullptr);
  EXPECT_EQ(results_window->report_text(), report_at_close);
  EXPECT_EQ(chassis.open_object_count(), 0);
}

}  // namespace
}  // namespace tests_suite
