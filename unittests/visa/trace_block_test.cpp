// Blocks of register accesses (in16_run, out16_run) through the call trace: the library sees the
// calls the accesses one by one make, and every sink gets the same calls and runs, and the trace
// file the same lines, as when the accesses come one by one.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "testing/sim_bench.h"
#include "visa/visa_call_trace.h"
#include "visa/visa_trace_file.h"

namespace visa {
namespace {

struct Step {
  VisaFunction function;
  bool uut;  // else the QCU's session
  ViBusAddress first;
  int words;
  int fail_at = -1;          // the step's first access that fails, if any
  int fail_times = 1;        // and how many fail from there on
  bool single = false;       // made one by one on both paths (the open run a block goes on with)
  ViBusSize stop_after = 0;  // reads: a check that counts every word a mismatch, stopping here
};

struct BlockRow {
  const char* label;
  std::vector<Step> steps;
};

struct Sink final : VisaCallSink {
  explicit Sink(bool take_runs) : runs(take_runs) {}
  bool runs;
  std::vector<VisaCall> calls;
  void record(const VisaCall& call) override { calls.push_back(call); }
  bool takes_register_runs() const override { return runs; }
};

// One bench: a chassis, the trace over it and a sink; plays a row's steps one access at a time
// or a block at a time.
struct Bench : testing_support::SimBench {
  explicit Bench(bool runs) : sink(runs) {
    traced.viOpenDefaultRM(&manager);
    traced.viOpen(manager, "VXI0::8::INSTR", 0, 0, &uut);
    traced.viOpen(manager, "VXI0::24::INSTR", 0, 0, &qcu);
  }

  void play(const std::vector<Step>& steps, bool blocks) {
    for (const Step& step : steps) {
      const ViSession session = step.uut ? uut : qcu;
      sim::SimModule& module = *chassis.module_at(step.uut ? 8 : 24);
      if (step.fail_at >= 0) {
        module.fail_after(step.function, step.fail_at, VI_ERROR_BERR, step.fail_times);
      }
      std::vector<ViUInt16> words(static_cast<std::size_t>(step.words));
      for (std::size_t i = 0; i < words.size(); ++i) {
        words[i] = static_cast<ViUInt16>(0x1000 * (step.uut ? 1 : 2) + step.first + i);
      }
      std::vector<ViStatus> statuses(words.size(), 12345);
      const std::vector<ViUInt16> expected(words.size(), 0xFFFF);
      ReadCheck check;
      check.expected = expected.data();
      check.limit = step.stop_after;
      const ReadCheck* checked = step.stop_after != 0 ? &check : nullptr;
      if (blocks && !step.single) {
        if (step.function == VisaFunction::Out16) {
          traced.out16_run(session, VI_A24_SPACE, step.first, words.data(), words.size(),
                           statuses.data());
        } else {
          const ViBusSize made = traced.in16_run(session, VI_A24_SPACE, step.first, words.data(),
                                                 words.size(), statuses.data(), checked);
          words.resize(made);
          statuses.resize(made);
        }
      } else {
        ViBusSize mismatches = 0;
        for (std::size_t i = 0; i < words.size(); ++i) {
          const ViBusAddress offset = step.first + 2 * i;
          if (step.function == VisaFunction::Out16) {
            statuses[i] = traced.viOut16(session, VI_A24_SPACE, offset, words[i]);
            continue;
          }
          statuses[i] = traced.viIn16(session, VI_A24_SPACE, offset, &words[i]);
          if (checked != nullptr && check.mismatch(words[i], i) && ++mismatches >= check.limit) {
            words.resize(i + 1);
            statuses.resize(i + 1);
            break;
          }
        }
      }
      seen.insert(seen.end(), words.begin(), words.end());
      results.insert(results.end(), statuses.begin(), statuses.end());
    }
    ViAttrState space = 0;
    traced.viGetAttribute(uut, VI_ATTR_MEM_SPACE, &space);  // ends the last run
    traced.set_sink(nullptr);
  }

  Sink sink;
  TracingVisa traced{chassis, &sink};
  ViSession manager = 0;
  ViSession uut = 0;
  ViSession qcu = 0;
  std::vector<ViUInt16> seen;     // every word written or read, in order
  std::vector<ViStatus> results;  // every access's status, in order
};

// A trace file line without its time of day and duration, which differ from run to run.
std::string timeless(const std::string& line) {
  static const std::regex kTime(R"(^\d\d:\d\d:\d\d\.\d{6} | \d+\.\d us\n$)");
  return std::regex_replace(line, kTime, "");
}

class TraceBlock : public ::testing::TestWithParam<BlockRow> {};

TEST_P(TraceBlock, GivesTheSinksWhatTheAccessesOneByOneGive) {
  for (const bool runs : {true, false}) {
    SCOPED_TRACE(runs ? "sink taking runs" : "sink taking every access");
    Bench one_by_one(runs);
    Bench blocks(runs);
    one_by_one.play(GetParam().steps, false);
    blocks.play(GetParam().steps, true);
    EXPECT_EQ(blocks.seen, one_by_one.seen) << "the words written and read";
    EXPECT_EQ(blocks.results, one_by_one.results) << "the statuses";
    const std::vector<VisaCall>& want = one_by_one.sink.calls;
    const std::vector<VisaCall>& got = blocks.sink.calls;
    ASSERT_EQ(got.size(), want.size());
    TraceFormatter want_lines([](ViStatus status) { return status_name(status); });
    TraceFormatter got_lines([](ViStatus status) { return status_name(status); });
    for (std::size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE("call " + std::to_string(i) + ": " + describe_call(want[i]));
      EXPECT_EQ(got[i].function, want[i].function);
      EXPECT_EQ(got[i].object, want[i].object);
      EXPECT_EQ(got[i].status, want[i].status);
      EXPECT_EQ(got[i].space, want[i].space);
      EXPECT_EQ(got[i].offset, want[i].offset);
      EXPECT_EQ(got[i].value, want[i].value);
      EXPECT_EQ(got[i].count, want[i].count);
      EXPECT_EQ(got[i].run_values, want[i].run_values);
      EXPECT_GE(got[i].duration.count(), 0);
      if (i > 0) {
        EXPECT_GE(got[i].start, got[i - 1].start) << "in the order they were made";
      }
      EXPECT_EQ(timeless(got_lines.line(got[i])), timeless(want_lines.line(want[i])));
    }
  }
}

std::vector<BlockRow> block_rows() {
  using F = VisaFunction;
  return {
      {"CleanOneWord", {{F::Out16, true, 0x100, 1}, {F::In16, true, 0x100, 1}}},
      {"CleanThreeWords", {{F::Out16, true, 0x100, 3}, {F::In16, true, 0x100, 3}}},
      {"CleanAllKept", {{F::Out16, true, 0x200, 8}, {F::In16, true, 0x200, 8}}},
      {"CleanOnePastKept", {{F::Out16, false, 0x200, 9}, {F::In16, false, 0x200, 9}}},
      {"CleanFrame", {{F::Out16, true, 0, 1026}, {F::In16, true, 0, 1026}}},
      {"FailAtStart", {{F::Out16, true, 0, 10, 0}, {F::In16, true, 0, 10, 0}}},
      {"FailInTheMiddle", {{F::Out16, true, 0, 20, 9}, {F::In16, true, 0, 20, 4}}},
      {"FailAtTheEnd", {{F::Out16, true, 0, 10, 9}, {F::In16, true, 0, 10, 9}}},
      {"FailTwiceInARow", {{F::Out16, false, 0, 12, 3, 2}, {F::In16, false, 0, 12, 10, 2}}},
      {"EveryAccessFails", {{F::In16, true, 0, 3, 0, 3}}},
      {"SessionsTakeTurns",
       {{F::Out16, true, 0, 4},
        {F::Out16, false, 8, 4},
        {F::Out16, true, 8, 4},
        {F::In16, false, 0x10, 5, 2}}},
      {"BlocksGoOnWithTheOpenRun",
       {{F::Out16, true, 0, 1, -1, 1, true},
        {F::Out16, true, 2, 5},
        {F::Out16, true, 12, 5},
        {F::Out16, true, 22, 2, -1, 1, true},
        {F::In16, true, 0, 3, -1, 1, true},
        {F::In16, true, 6, 4, 1}}},
      {"BlockAfterAFailedSingleAccess",
       {{F::Out16, true, 0, 1, 0, 1, true}, {F::Out16, true, 2, 3}}},
      {"ReadsStopAtTheCheck",
       {{F::In16, true, 0, 20, -1, 1, false, 11}, {F::In16, true, 22, 5, -1, 1, false, 11}}},
  };
}

INSTANTIATE_TEST_SUITE_P(Blocks, TraceBlock, ::testing::ValuesIn(block_rows()),
                         [](const ::testing::TestParamInfo<BlockRow>& row) {
                           return std::string(row.param.label);
                         });

TEST(TraceBlockTest, WithoutASinkTheLibraryGetsTheSameCallsAndNothingIsRecorded) {
  testing_support::SimBench bench;
  sim::SimChassis& chassis = bench.chassis;
  TracingVisa traced(chassis);
  ViSession manager = 0;
  ViSession uut = 0;
  traced.viOpenDefaultRM(&manager);
  traced.viOpen(manager, "VXI0::8::INSTR", 0, 0, &uut);
  const std::vector<ViUInt16> written = {1, 2, 3, 4, 5};
  std::vector<ViStatus> statuses(5);
  chassis.reset_call_counts();
  chassis.module_at(8)->fail_after(VisaFunction::Out16, 2, VI_ERROR_BERR);
  EXPECT_EQ(traced.out16_run(uut, VI_A24_SPACE, 0x40, written.data(), 5, statuses.data()),
            VI_SUCCESS)
      << "the last write's status";
  EXPECT_EQ(statuses,
            (std::vector<ViStatus>{VI_SUCCESS, VI_SUCCESS, VI_ERROR_BERR, VI_SUCCESS, VI_SUCCESS}));
  std::vector<ViUInt16> read(5);
  EXPECT_EQ(traced.in16_run(uut, VI_A24_SPACE, 0x40, read.data(), 5, statuses.data(), nullptr), 5U);
  EXPECT_EQ(read, (std::vector<ViUInt16>{1, 2, 0, 4, 5})) << "the failed write wrote nothing";
  EXPECT_EQ(chassis.call_count(VisaFunction::Out16), 5U);
  EXPECT_EQ(chassis.call_count(VisaFunction::In16), 5U);
}

}  // namespace
}  // namespace visa
