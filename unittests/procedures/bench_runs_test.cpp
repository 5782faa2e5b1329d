// The bus tests run end to end on the simulated bench: a healthy UUT
// passes every one of them, and a UUT with a fault fails the test made to catch it.
#include <gtest/gtest.h>

#include "bus_test_fixture.h"
#include "pass_rows.h"

namespace procedures_suite {
namespace {

using Texts = std::vector<std::string>;

struct BenchRun {
  const char* name;
  core::ProcedureKind test;
  const char* title;
  int passes;
};

class HealthyBenchTest : public BusTest, public ::testing::WithParamInterface<BenchRun> {};

TEST_P(HealthyBenchTest, PassesEveryPassAndSaysSo) {
  const BenchRun bench = GetParam();
  run(bench.test);
  EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}));
  EXPECT_EQ(label(), "Count: " + std::to_string(bench.passes) + "    Failures: 0");
  EXPECT_EQ(view.progress_value, bench.passes);
  EXPECT_EQ(report().substr(0, std::string(bench.title).size()), bench.title);
  EXPECT_EQ(report().find("Miscompare"), std::string::npos) << report().substr(0, 400);
  EXPECT_EQ(report().find("Failure at Stamp"), std::string::npos);
  // The header ends with three line ends and "Unit Passes" follows directly.
  EXPECT_EQ(report().substr(report().size() - 17), "\r\n\r\n\r\nUnit Passes");
  // No step failed on the way.
  EXPECT_EQ(station.driver_state.last_error_text, "No Error");
}

// The rows of the wrap and self-loop tests, and the Stamp test.
std::vector<BenchRun> bench_runs() {
  std::vector<BenchRun> runs;
  for (const PassRow& row : pass_rows())
    runs.push_back({row.name, row.test, row.title, row.passes});
  runs.push_back({"Stamp", core::ProcedureKind::stamp, "Quor Bus--Stamp Test", 5});
  return runs;
}

INSTANTIATE_TEST_SUITE_P(EachTest, HealthyBenchTest, ::testing::ValuesIn(bench_runs()),
                         [](const ::testing::TestParamInfo<BenchRun>& run) {
                           return std::string(run.param.name);
                         });

class FaultyUutTest : public BusTest {};

TEST_F(FaultyUutTest, ARepeatedFrameFailsTrnorecm) {
  uut().set_repeated_frames(1);
  run(core::ProcedureKind::trnorecm);
  EXPECT_EQ(label(), "Count: 5    Failures: 5");
  // The copy's start word at 0x804 has a zero low byte; its data follows.
  EXPECT_NE(report().find("Miscompare at 806 Expected 0 Got 1\r\n"), std::string::npos);
  EXPECT_EQ(person.texts(), Texts{"Hit OK to Start Test!"});
}

TEST_F(FaultyUutTest, ABadTimeStampFailsStampWithItsInterval) {
  uut().set_stamp_skew(4, 5);
  run(core::ProcedureKind::stamp);
  // One bad interval a pass, and the limit is met exactly at the fifth: before the display.
  EXPECT_EQ(label(), "Count: 4    Failures: 4");
  EXPECT_NE(report().find("from Stamp's Return value: 10005\r\n"), std::string::npos);
  EXPECT_EQ(report().find("Miscompare"), std::string::npos);
}

TEST_F(FaultyUutTest, ADeadProtectedInputFailsSelfLoop2Only) {
  uut().set_route_dead(sim::Route::Prot);
  run(core::ProcedureKind::self_loop2);
  EXPECT_EQ(label(), "Count: 5    Failures: 5");
  EXPECT_NE(report().find("Miscompare at 100002 Expected 5 Got 0"), std::string::npos);
  person.shown.clear();
  run(core::ProcedureKind::self_loop);
  EXPECT_EQ(label(), "Count: 250    Failures: 0");
}

TEST_F(FaultyUutTest, AStuckReceiveBitFailsRecEveryPass) {
  sim::DataBitFault fault;
  fault.stuck_high = 0x80;
  uut().set_receive_data_fault(fault);
  run(core::ProcedureKind::rec);
  EXPECT_EQ(label(), "Count: 50    Failures: 50");
  EXPECT_NE(report().find("Miscompare at 2 Expected 4 Got 84\r\n"), std::string::npos);
  EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}));
}

TEST_F(FaultyUutTest, ACutCableFailsTheUutTransmitTests) {
  ASSERT_TRUE(chassis.cut_cable({8, sim::Route::Out1, 24, sim::Route::Unpr}));
  run(core::ProcedureKind::trncrecm);
  EXPECT_EQ(label(), "Count: 4    Failures: 4");
  EXPECT_NE(report().find("Miscompare at 2 Expected 1 Got 0"), std::string::npos);
}

TEST_F(FaultyUutTest, TestsRunOneAfterAnotherOnTheSameUnits) {
  for (core::ProcedureKind test :
       {core::ProcedureKind::recm, core::ProcedureKind::trncrecm, core::ProcedureKind::stamp,
        core::ProcedureKind::self_loop, core::ProcedureKind::rec}) {
    person.shown.clear();
    run(test);
    EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}))
        << core::procedure_row(test).caption;
    EXPECT_EQ(report().find("Miscompare"), std::string::npos) << core::procedure_row(test).caption;
  }
}

}  // namespace
}  // namespace procedures_suite
