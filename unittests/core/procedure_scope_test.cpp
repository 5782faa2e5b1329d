// One procedure on the units at a time: the claim, its release on every path, the refusal and
// what the observers are told.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/station.h"
#include "testing/sim_station.h"

namespace core {
namespace {

struct Log final : ProcedureObserver {
  std::vector<std::string> lines;
  void started(const Procedure& p) override { lines.push_back("started " + p.name); }
  void ended(const Procedure& p) override { lines.push_back("ended " + p.name); }
  void refused(const Procedure& running, const Procedure& refused) override {
    lines.push_back("refused " + refused.name + " during " + running.name);
  }
  void refused_without_units(const Procedure& refused, const std::string& why) override {
    lines.push_back("refused " + refused.name + ": " + why);
  }
};

class ProcedureScopeTest : public ::testing::Test, protected testing_support::SimStation {
 protected:
  ProcedureScopeTest() { station.procedure.observers.push_back(&log); }

  Log log;
};

// As the table of procedures names them.
const Procedure kRec = procedure(ProcedureKind::rec);
const Procedure kSelfTest = procedure(ProcedureKind::self_test);

TEST_F(ProcedureScopeTest, ASecondProcedureIsRefusedWhileTheFirstHoldsTheUnits) {
  station.units.uut.session = 1;
  station.units.qcu.session = 2;
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
  station.units.uut.session = 1;
  const auto procedure = [&](bool leave_early) {
    const ProcedureScope units(station, kSelfTest);
    if (!units.claimed() || leave_early) return;
    ADD_FAILURE() << "not reached";
  };
  procedure(true);
  EXPECT_FALSE(station.procedure.running.has_value());
  EXPECT_TRUE(person.texts().empty());
}

// A procedure that works on a unit no initialization opened is refused with the initialization
// to run; the initializations, and Load Non-Vol (it opens the module it loads), never are.
struct UnitsRow {
  ProcedureKind kind;
  bool uut_open;
  bool qcu_open;
  const char* refusal;  // null: claimed
};

void PrintTo(const UnitsRow& row, std::ostream* out) {
  *out << procedure_row(row.kind).caption << (row.uut_open ? " UUT" : "")
       << (row.qcu_open ? " QCU" : "");
}

class UninitializedUnitsTest : public ProcedureScopeTest,
                               public ::testing::WithParamInterface<UnitsRow> {};

TEST_P(UninitializedUnitsTest, RefusesWithTheInitializationToRunAndTellsTheObservers) {
  const UnitsRow& row = GetParam();
  // A session number stands for an opened unit; the scope opens nothing itself.
  if (row.uut_open) station.units.uut.session = 1;
  if (row.qcu_open) station.units.qcu.session = 2;
  const Procedure asked = procedure(row.kind);
  {
    const ProcedureScope units(station, asked);
    EXPECT_EQ(units.claimed(), row.refusal == nullptr);
  }
  EXPECT_FALSE(station.procedure.running.has_value());
  if (row.refusal == nullptr) {
    EXPECT_TRUE(person.texts().empty());
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"started " + asked.name, "ended " + asked.name}));
    return;
  }
  EXPECT_EQ(person.texts(), std::vector<std::string>{row.refusal});
  EXPECT_EQ(log.lines, std::vector<std::string>{"refused " + asked.name + ": " + row.refusal});
}

INSTANTIATE_TEST_SUITE_P(
    Units, UninitializedUnitsTest,
    ::testing::Values(
        UnitsRow{ProcedureKind::rec, false, false,
                 "No UUT and no QCU have been initialized. Run Initialize All before starting "
                 "the REC test."},
        UnitsRow{ProcedureKind::trncrecm, true, false,
                 "No QCU has been initialized. Run Initialize QA before starting the TRNCRECM "
                 "test."},
        UnitsRow{ProcedureKind::recm, false, true,
                 "No UUT has been initialized. Run Initialize UUT before starting the RECM test."},
        UnitsRow{ProcedureKind::self_loop2, false, true,
                 "No UUT has been initialized. Run Initialize UUT before starting the SELFLOOP2 "
                 "test."},
        UnitsRow{ProcedureKind::self_test, false, false,
                 "No UUT has been initialized. Run Initialize UUT before starting Self Test."},
        UnitsRow{ProcedureKind::output_calibration, false, true,
                 "No UUT has been initialized. Run Initialize UUT before starting Calibrate "
                 "Outputs."},
        UnitsRow{ProcedureKind::self_loop, true, false, nullptr},
        UnitsRow{ProcedureKind::rec, true, true, nullptr},
        UnitsRow{ProcedureKind::memory_test, true, false, nullptr},
        UnitsRow{ProcedureKind::initialize_uut, false, false, nullptr},
        UnitsRow{ProcedureKind::initialize_qcu, false, false, nullptr},
        UnitsRow{ProcedureKind::initialize_all, false, false, nullptr},
        UnitsRow{ProcedureKind::load_non_vol, false, false, nullptr}));

// A run that ends as passed after a VISA or command error was reported on the way did not run
// as it should: it ends as an error. Any other end stays as it was.
struct ErrorOutcomeRow {
  std::optional<Outcome> decided;
  bool error_reported;
  std::optional<Outcome> ended;
};

class ErrorOutcomeTest : public ProcedureScopeTest,
                         public ::testing::WithParamInterface<ErrorOutcomeRow> {};

TEST_P(ErrorOutcomeTest, APassWithAReportedErrorEndsAsAnError) {
  const ErrorOutcomeRow& row = GetParam();
  station.units.uut.session = 1;
  std::optional<Outcome> seen_by_observer;
  struct Ended final : ProcedureObserver {
    Station* station = nullptr;
    std::optional<Outcome>* seen = nullptr;
    void started(const Procedure&) override {}
    void ended(const Procedure&) override { *seen = station->run.outcome; }
    void refused(const Procedure&, const Procedure&) override {}
  } ended;
  ended.station = &station;
  ended.seen = &seen_by_observer;
  station.procedure.observers.push_back(&ended);
  {
    const ProcedureScope units(station, kSelfTest);
    ASSERT_TRUE(units.claimed());
    if (row.error_reported) station.driver_state.reported_errors.push_back("Resetting the UUT\n");
    station.run.outcome = row.decided;
    station.run.verdict = "Self Test Passed";
  }
  EXPECT_EQ(station.run.outcome, row.ended);
  EXPECT_EQ(seen_by_observer, row.ended) << "the observers read the outcome it ends with";
  EXPECT_EQ(station.run.verdict, "Self Test Passed") << "the report text stays";
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ErrorOutcomeTest,
                         ::testing::Values(ErrorOutcomeRow{Outcome::passed, true, Outcome::error},
                                           ErrorOutcomeRow{Outcome::passed, false, Outcome::passed},
                                           ErrorOutcomeRow{Outcome::failed, true, Outcome::failed},
                                           ErrorOutcomeRow{Outcome::stopped, true,
                                                           Outcome::stopped},
                                           ErrorOutcomeRow{std::nullopt, true, std::nullopt}));

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
