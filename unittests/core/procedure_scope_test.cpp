// One procedure on the units at a time: the claim, its release on every path, the refusal and
// what the observers are told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/station.h"
#include "sim/sim_chassis.h"
#include "testing/scripted_operator.h"
#include "testing/virtual_pump.h"

namespace core {
namespace {

struct Log final : ProcedureObserver {
  std::vector<std::string> lines;
  void started(const Procedure& p) override { lines.push_back("started " + p.name); }
  void ended(const Procedure& p) override { lines.push_back("ended " + p.name); }
  void refused(const Procedure& running, const Procedure& refused) override {
    lines.push_back("refused " + refused.name + " during " + running.name);
  }
};

class ProcedureScopeTest : public ::testing::Test {
 protected:
  ProcedureScopeTest()
      : chassis(sim::benches::standard(), clock), pump(clock), station(chassis, person, pump) {
    station.procedure.observers.push_back(&log);
  }

  sim::VirtualClock clock;
  sim::SimChassis chassis;
  testing_support::ScriptedOperator person;
  testing_support::VirtualPump pump;
  Station station;
  Log log;
};

// As the table of procedures names them.
const Procedure kRec = procedure(ProcedureKind::rec);
const Procedure kSelfTest = procedure(ProcedureKind::self_test);

TEST_F(ProcedureScopeTest, ASecondProcedureIsRefusedWhileTheFirstHoldsTheUnits) {
  {
    const ProcedureScope rec(station, kRec);
    ASSERT_TRUE(rec.claimed());
    const ProcedureScope self_test(station, kSelfTest);
    EXPECT_FALSE(self_test.claimed());
    ASSERT_TRUE(station.procedure.running.has_value());
    EXPECT_EQ(station.procedure.running->name, "the REC test") << "the refused one took nothing";
  }
  EXPECT_FALSE(station.procedure.running.has_value()) << "released when the holder ends";
  EXPECT_EQ(person.texts(),
            std::vector<std::string>{"The REC test is running. Stop it with STOP TEST on the test "
                                     "console before starting Self Test."});
  EXPECT_EQ(log.lines, (std::vector<std::string>{"started the REC test",
                                                 "refused Self Test during the REC test",
                                                 "ended the REC test"}));
  const ProcedureScope again(station, kSelfTest);
  EXPECT_TRUE(again.claimed()) << "free again after the first ended";
}

TEST_F(ProcedureScopeTest, AProcedureLeftByAnEarlyReturnReleasesTheUnits) {
  const auto procedure = [&](bool leave_early) {
    const ProcedureScope units(station, kSelfTest);
    if (!units.claimed() || leave_early) return;
    ADD_FAILURE() << "not reached";
  };
  procedure(true);
  EXPECT_FALSE(station.procedure.running.has_value());
  EXPECT_TRUE(person.texts().empty());
}

struct RefusalRow {
  Procedure running;
  Procedure refused;
  const char* text;
};

class RefusalText : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(RefusalText, NamesTheRunningProcedureAndHowToEndIt) {
  EXPECT_EQ(refusal_text(GetParam().running, GetParam().refused), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RefusalText,
    ::testing::Values(
        RefusalRow{kRec, kSelfTest,
                   "The REC test is running. Stop it with STOP TEST on the test console before "
                   "starting Self Test."},
        RefusalRow{procedure(ProcedureKind::output_calibration), kRec,
                   "Calibrate Outputs is running. End it with Cal Complete or Abort before "
                   "starting the REC test."},
        RefusalRow{procedure(ProcedureKind::initialize_qcu), kSelfTest,
                   "Initialize QA is running. Choose a module in the Quor Bus Initialization "
                   "window (or close that window) before starting Self Test."},
        RefusalRow{{"", "Wait", ProcedureKind::rec},
                   kRec,
                   " is running. Wait before starting the REC test."}));

}  // namespace
}  // namespace core
