// Closing the main window during a test: the wait in progress ends at once, the test stops at
// its next check without touching the units or writing to the report, and every VISA object is
// closed.
#include <gtest/gtest.h>

#include <QPointer>

#include "test_console_fixture.h"

namespace console_suite {
namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

struct ClosedDuringWait {
  const char* name;
  core::ProcedureKind test;
  std::uint64_t close_at_yield;
};

std::ostream& operator<<(std::ostream& out, const ClosedDuringWait& row) { return out << row.name; }

class ClosingTest : public ConsoleTest, public ::testing::WithParamInterface<ClosedDuringWait> {};

TEST_P(ClosingTest, EndsTheTestAtOnceWithoutTouchingTheUnitsOrTheReport) {
  std::uint64_t calls_at_close = 0;
  std::uint64_t writes_at_close = 0;
  std::uint64_t time_at_close = 0;
  std::string report_at_close;
  const QPointer<app::FrmResults> results_window = &results();
  pump.at_yield(GetParam().close_at_yield, [&] {
    report_at_close = report();
    windows->form().close();
    calls_at_close = chassis.total_calls();
    writes_at_close = chassis.call_count(VisaFunction::Write);
    time_at_close = clock.now_us();
  });
  console().button(GetParam().test)->click();
  EXPECT_EQ(clock.now_us(), time_at_close);
  EXPECT_EQ(chassis.total_calls(), calls_at_close);
  EXPECT_EQ(chassis.call_count(VisaFunction::Write), writes_at_close);
  EXPECT_EQ(chassis.open_object_count(), 0);
  ASSERT_NE(results_window, nullptr);
  EXPECT_EQ(results_window->report_text(), report_at_close);
  EXPECT_EQ(person.texts(), Texts{"Hit OK to Start Test!"});
}

// The first yields are the ticks of the first pass's wait (SelfLong: one a second, 8 of them;
// Stamp: one each half second, 19 of them, then one between passes).
INSTANTIATE_TEST_SUITE_P(
    Waits, ClosingTest,
    ::testing::Values(ClosedDuringWait{"TwoSecondsIntoSelfLongsDwell",
                                       core::ProcedureKind::self_long, 2},
                      ClosedDuringWait{"DuringStampsSecondPass", core::ProcedureKind::stamp, 25}),
    [](const ::testing::TestParamInfo<ClosedDuringWait>& row) { return row.param.name; });

}  // namespace
}  // namespace console_suite
