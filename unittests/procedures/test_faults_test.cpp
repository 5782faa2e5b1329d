// The Stamp test's step labels, and how the wrap tests react to a unit that receives nothing or
// starts failing in the middle of a run.
#include <gtest/gtest.h>

#include "bus_test_fixture.h"

namespace procedures_suite {
namespace {

using sim::VisaFunction;
using Texts = std::vector<std::string>;

// Every command is rejected and every report opens a box, so the boxes list the step labels.
class StepLabelTest : public BusTest {
 protected:
  Texts labels_of_one_pass(core::ProcedureKind test, std::uint64_t yields_per_pass) {
    station.driver.set_error_options(2);
    uut().set_query_reply("*STB?", "4");
    qcu().set_query_reply("*STB?", "4");
    pump.at_yield(yields_per_pass, [this] { stop(); });
    run(test);
    Texts labels;
    for (const auto& box : person.shown) {
      if (box.title == "Error") labels.push_back(box.text.substr(0, box.text.find('\n')));
    }
    return labels;
  }
};

TEST_F(StepLabelTest, StampEndsEachPassWithTheStampQuery) {
  const Texts labels = labels_of_one_pass(core::ProcedureKind::stamp, 20);
  ASSERT_EQ(labels.size(), 21U);
  EXPECT_EQ(labels[7], "time 1000 of QCU");
  EXPECT_EQ(labels[8], "Enable Quor Bus Input 1");
  EXPECT_EQ(labels[11], "Initialize the Start and Stop comparators of QCU");
  EXPECT_EQ(labels[14], "Start transmitter running send the PING buffer of QCU");
  EXPECT_EQ(labels[20], "trac:data? stamp of UUT");
}

class ReceiverFaultTest : public BusTest {};

TEST_F(ReceiverFaultTest, RecWithNothingReceivedReportsBothBuffers) {
  uut().set_route_dead(sim::Route::Unpr);
  pump.at_yield(4, [this] { stop(); });
  run(core::ProcedureKind::rec);
  const std::string r = report();
  EXPECT_NE(r.find("\r\n\r\n\r\nMiscompare at 2 Expected 4 Got 0\r\n"), std::string::npos);
  EXPECT_NE(r.find("Got 0\r\n\r\nMiscompare at 100002 Expected 3 Got 0\r\n"), std::string::npos);
  EXPECT_NE(r.find("Miscompare at 100016 Expected 21 Got 0\r\n\r\n"), std::string::npos);
  EXPECT_EQ(label(), "Count: 1    Failures: 1");
}

TEST_F(ReceiverFaultTest, RecmWithNothingReceivedRunsAllFiftyPasses) {
  uut().set_route_dead(sim::Route::Unpr);
  run(core::ProcedureKind::recm);
  EXPECT_EQ(label(), "Count: 50    Failures: 50");
  EXPECT_EQ(person.texts(), (Texts{"Hit OK to Start Test!", "Test Completed!"}));
}

TEST_F(ReceiverFaultTest, TrnorecmWithNothingReceivedFailsOnlyItsFirstCompare) {
  qcu().set_route_dead(sim::Route::Unpr);
  pump.at_yield(2, [this] { stop(); });
  run(core::ProcedureKind::trnorecm);
  const std::string r = report();
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = r.find("Miscompare at ", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 11U);
  EXPECT_NE(r.find("Miscompare at 2 Expected 1 Got 0\r\n"), std::string::npos);
}

// Reads succeed for the first four passes' compares, then fail: the fifth failure is pass 9.
class LateFailureTest : public BusTest {
 protected:
  void fail_from_pass_five(sim::SimModule& module) {
    module.fail_after(VisaFunction::In16, 4 * 3 * 1024, visa::VI_ERROR_BERR, 100'000'000);
  }
};

TEST_F(LateFailureTest, TrnsrecmShowsTheFifthFailureBeforeEnding) {
  fail_from_pass_five(qcu());
  run(core::ProcedureKind::trnsrecm);
  EXPECT_EQ(label(), "Count: 9    Failures: 5");
  EXPECT_EQ(view.progress_value, 8);
}

TEST_F(LateFailureTest, TrncrecmEndsBeforeShowingTheFifthFailure) {
  fail_from_pass_five(qcu());
  run(core::ProcedureKind::trncrecm);
  EXPECT_EQ(label(), "Count: 8    Failures: 4");
  EXPECT_EQ(view.progress_value, 8);
}

}  // namespace
}  // namespace procedures_suite
