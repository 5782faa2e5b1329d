// Runs of register accesses as the trace hands them to a sink that takes runs, and the trace
// file: one line per call or run, the resource names, the status texts, flushed at every
// message-based call.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "testing/sim_bench.h"
#include "visa/visa_call_trace.h"
#include "visa/visa_trace_file.h"

namespace visa {
namespace {

struct RunSink final : VisaCallSink {
  std::vector<VisaCall> calls;
  void record(const VisaCall& call) override { calls.push_back(call); }
  bool takes_register_runs() const override { return true; }
};

struct RunBench : ::testing::Test, testing_support::SimBench {
  RunBench() {
    traced.viOpenDefaultRM(&manager);
    traced.viOpen(manager, "VXI0::8::INSTR", 0, 0, &uut);
    traced.viOpen(manager, "VXI0::24::INSTR", 0, 0, &qcu);
    sink.calls.clear();
  }
  void fill(ViSession session, ViBusAddress first, int words, ViUInt16 start) {
    for (int i = 0; i < words; ++i) {
      ASSERT_EQ(traced.viOut16(session, VI_A24_SPACE, first + 2 * i, start + i), VI_SUCCESS);
    }
  }
  RunSink sink;
  TracingVisa traced{chassis, &sink};
  ViSession manager = 0;
  ViSession uut = 0;
  ViSession qcu = 0;
};

TEST_F(RunBench, ConsecutiveAccessesBecomeOneRunEndedByTheNextCall) {
  fill(uut, 0x100, 1026, 1);
  EXPECT_TRUE(sink.calls.empty()) << "the run is open until another call comes";
  ViAttrState space = 0;
  ASSERT_EQ(traced.viGetAttribute(uut, VI_ATTR_MEM_SPACE, &space), VI_SUCCESS);
  ASSERT_EQ(sink.calls.size(), 2U);
  const VisaCall& run = sink.calls[0];
  EXPECT_EQ(run.function, VisaFunction::Out16);
  EXPECT_EQ(run.object, uut);
  EXPECT_EQ(run.count, 1026U);
  EXPECT_EQ(run.offset, 0x100U);
  EXPECT_EQ(run.value, 1026U) << "the last value";
  EXPECT_EQ(run.run_values[0], 1);
  EXPECT_EQ(run.run_values[7], 8);
  EXPECT_GE(run.duration.count(), 0);
  EXPECT_EQ(sink.calls[1].function, VisaFunction::GetAttribute);
  EXPECT_EQ(chassis.module_at(8)->memory_word(0x100 + 2 * 1025), 1026) << "every write went on";
}

TEST_F(RunBench, AGapAnotherSessionSpaceOrFunctionStartsANewRun) {
  fill(uut, 0, 4, 1);
  fill(uut, 0x10, 2, 1);  // a gap
  fill(qcu, 0x14, 2, 1);  // the next offset, another session
  ViUInt16 value = 0;
  traced.viIn16(qcu, VI_A24_SPACE, 0x18, &value);  // the next offset, another function
  traced.viIn16(qcu, VI_A16_SPACE, 0x1A, &value);  // the next offset, another space
  traced.flush();
  ASSERT_EQ(sink.calls.size(), 5U);
  const std::uint64_t counts[] = {4, 2, 2, 1, 1};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(sink.calls[i].count, counts[i]) << i;
}

TEST_F(RunBench, AFailingAccessEndsTheRunAndIsACallOfItsOwn) {
  fill(uut, 0, 3, 1);
  chassis.module_at(8)->fail_next(sim::VisaFunction::Out16, VI_ERROR_BERR);
  EXPECT_EQ(traced.viOut16(uut, VI_A24_SPACE, 6, 4), VI_ERROR_BERR);
  fill(uut, 8, 2, 5);
  traced.flush();
  ASSERT_EQ(sink.calls.size(), 3U);
  EXPECT_EQ(sink.calls[0].count, 3U);
  EXPECT_EQ(sink.calls[1].count, 1U);
  EXPECT_EQ(sink.calls[1].status, VI_ERROR_BERR);
  EXPECT_EQ(sink.calls[1].offset, 6U);
  EXPECT_EQ(sink.calls[2].count, 2U);
  EXPECT_EQ(sink.calls[2].offset, 8U);
}

// A run of either function, as long as the values it keeps or longer, that a failing access
// ends: the run keeps its count, first and last values; the failure is a call of its own at the
// offset the run would have gone on with; the run after it starts afresh.
struct FailedRunRow {
  const char* label;
  VisaFunction function;
  int words;  // before the failing access
};

class FailedRun : public RunBench, public ::testing::WithParamInterface<FailedRunRow> {
 protected:
  ViStatus access(ViBusAddress offset, ViUInt16 value) {
    if (GetParam().function == VisaFunction::Out16) {
      return traced.viOut16(qcu, VI_A24_SPACE, offset, value);
    }
    ViUInt16 read = 0;
    const ViStatus status = traced.viIn16(qcu, VI_A24_SPACE, offset, &read);
    if (status == VI_SUCCESS) {
      EXPECT_EQ(read, value) << "offset " << offset;
    }
    return status;
  }
};

TEST_P(FailedRun, EndsTheRunAndIsACallOfItsOwn) {
  const FailedRunRow& row = GetParam();
  constexpr ViBusAddress kFirst = 0x2000;
  for (int i = 0; i < row.words + 3; ++i) {
    traced.viOut16(qcu, VI_A24_SPACE, kFirst + 2 * i, static_cast<ViUInt16>(0x100 + i));
  }
  traced.flush();
  sink.calls.clear();
  for (int i = 0; i < row.words; ++i) {
    ASSERT_EQ(access(kFirst + 2 * i, static_cast<ViUInt16>(0x100 + i)), VI_SUCCESS);
  }
  const ViBusAddress failing = kFirst + 2 * row.words;
  chassis.module_at(24)->fail_next(row.function, VI_ERROR_BERR);
  EXPECT_EQ(access(failing, 0), VI_ERROR_BERR);
  ASSERT_EQ(access(failing + 2, static_cast<ViUInt16>(0x100 + row.words + 1)), VI_SUCCESS);
  ASSERT_EQ(access(failing + 4, static_cast<ViUInt16>(0x100 + row.words + 2)), VI_SUCCESS);
  traced.flush();
  ASSERT_EQ(sink.calls.size(), 3U);
  const VisaCall& run = sink.calls[0];
  EXPECT_EQ(run.function, row.function);
  EXPECT_EQ(run.object, qcu);
  EXPECT_EQ(run.count, static_cast<std::uint64_t>(row.words));
  EXPECT_EQ(run.offset, kFirst);
  EXPECT_EQ(run.value, 0x100U + row.words - 1) << "the last value";
  const int kept = std::min<int>(row.words, static_cast<int>(kRunValuesKept));
  for (int i = 0; i < kept; ++i) EXPECT_EQ(run.run_values[i], 0x100 + i) << i;
  const VisaCall& failure = sink.calls[1];
  EXPECT_EQ(failure.function, row.function);
  EXPECT_EQ(failure.object, qcu);
  EXPECT_EQ(failure.space, VI_A24_SPACE);
  EXPECT_EQ(failure.offset, failing);
  EXPECT_EQ(failure.count, 1U);
  EXPECT_EQ(failure.value, 0U);
  EXPECT_EQ(failure.status, VI_ERROR_BERR);
  const VisaCall& after = sink.calls[2];
  EXPECT_EQ(after.count, 2U);
  EXPECT_EQ(after.offset, failing + 2);
  EXPECT_EQ(after.run_values[0], 0x100 + row.words + 1);
  EXPECT_EQ(after.value, 0x100U + row.words + 2);
  EXPECT_EQ(
      describe_arguments(after).substr(describe_arguments(after).find("values")),
      "values " + hex_text(0x100 + row.words + 1, 4) + " " + hex_text(0x100 + row.words + 2, 4));
}

INSTANTIATE_TEST_SUITE_P(Runs, FailedRun,
                         ::testing::Values(FailedRunRow{"In16One", VisaFunction::In16, 1},
                                           FailedRunRow{"In16AllKept", VisaFunction::In16, 8},
                                           FailedRunRow{"In16Longer", VisaFunction::In16, 9},
                                           FailedRunRow{"Out16One", VisaFunction::Out16, 1},
                                           FailedRunRow{"Out16Long", VisaFunction::Out16, 300}),
                         [](const ::testing::TestParamInfo<FailedRunRow>& row) {
                           return std::string(row.param.label);
                         });

TEST_F(RunBench, ASinkThatTakesNoRunsGetsEveryAccess) {
  struct EachCall final : VisaCallSink {
    int calls = 0;
    void record(const VisaCall& call) override {
      EXPECT_EQ(call.count, 1U);
      ++calls;
    }
  } each;
  traced.set_sink(&each);
  fill(uut, 0, 10, 1);
  EXPECT_EQ(each.calls, 10);
}

TEST_F(RunBench, ChangingTheSinkHandsTheOpenRunToTheOldOne) {
  fill(uut, 0, 5, 1);
  RunSink other;
  traced.set_sink(&other);
  ASSERT_EQ(sink.calls.size(), 1U);
  EXPECT_EQ(sink.calls[0].count, 5U);
  EXPECT_TRUE(other.calls.empty());
}

TEST(TraceArgumentsTest, ARunShowsItsCountOffsetsAndValues) {
  VisaCall run;
  run.function = VisaFunction::In16;
  run.object = 2;
  run.space = VI_A24_SPACE;
  run.offset = 0x100000;
  run.count = 10;
  for (std::uint16_t i = 0; i < kRunValuesKept; ++i) run.run_values[i] = i;
  run.value = 9;
  EXPECT_EQ(describe_arguments(run),
            "A24, 10 words 0x100000..0x100012, values 0x0000 0x0001 0x0002 0x0003 0x0004 0x0005 "
            "0x0006 0x0007 ... 0x0009");
  run.count = 2;
  EXPECT_EQ(describe_arguments(run), "A24, 2 words 0x100000..0x100002, values 0x0000 0x0001");
  EXPECT_EQ(describe_call(run),
            "viIn16 x2(0x00000002, A24, 2 words 0x100000..0x100002, values 0x0000 0x0001) -> "
            "VI_SUCCESS");
}

// --- The file ---

std::vector<std::string> lines_of(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

TEST(TraceFileTest, WritesOneLinePerCallOrRunWithNamesStatusTextsAndTimes) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "quor_trace_file_test.txt").string();
  testing_support::SimBench bench;
  sim::SimChassis& chassis = bench.chassis;
  std::string error;
  std::unique_ptr<TraceFileSink> file =
      TraceFileSink::open(path, library_status_describer(chassis), error);
  ASSERT_NE(file, nullptr) << error;
  TracingVisa traced(chassis, file.get());
  ViSession manager = 0;
  ViSession uut = 0;
  traced.viOpenDefaultRM(&manager);
  traced.viOpen(manager, "VXI0::8::INSTR", 0, 0, &uut);
  for (ViUInt16 i = 0; i < 300; ++i) traced.viOut16(uut, VI_A24_SPACE, 2 * i, i);
  const unsigned char command[] = "*RST\n";
  ViUInt32 returned = 0;
  traced.viWrite(uut, command, 5, &returned);
  // Flushed at the message-based call: the lines are in the file while the trace goes on.
  const std::vector<std::string> lines = lines_of(path);
  ASSERT_EQ(lines.size(), 4U);
  const std::regex time_and_name(
      R"(^\d\d:\d\d:\d\d\.\d{6} viOpen 0x[0-9A-F]{8} resource-manager )");
  EXPECT_TRUE(std::regex_search(lines[1], time_and_name)) << lines[1];
  EXPECT_NE(lines[1].find("(VXI0::8::INSTR, mode 0, 0 ms) -> VI_SUCCESS"), std::string::npos)
      << lines[1];
  EXPECT_NE(lines[2].find(" viOut16 x300 "), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find(" VXI0::8::INSTR (A24, 300 words 0x000000..0x000256, values 0x0000"),
            std::string::npos)
      << lines[2];
  EXPECT_NE(lines[2].find("... 0x012B) -> VI_SUCCESS \""), std::string::npos) << lines[2];
  EXPECT_TRUE(std::regex_search(lines[2], std::regex(R"(\d+\.\d us$)"))) << lines[2];
  EXPECT_NE(lines[3].find(" viWrite "), std::string::npos);
  EXPECT_NE(lines[3].find("VXI0::8::INSTR (\"*RST\\n\", 5 bytes) -> VI_SUCCESS"), std::string::npos)
      << lines[3];

  // A failing call carries its status's name and the library's text.
  ViUInt16 value = 0;
  chassis.module_at(8)->fail_next(sim::VisaFunction::In16, VI_ERROR_TMO);
  traced.viIn16(uut, VI_A24_SPACE, 0, &value);
  traced.viClose(manager);
  traced.set_sink(nullptr);
  file.reset();
  const std::vector<std::string> all = lines_of(path);
  ASSERT_EQ(all.size(), 6U);
  std::array<ViChar, VI_FIND_BUFLEN> text{};
  chassis.viStatusDesc(0, VI_ERROR_TMO, text.data());
  EXPECT_NE(all[4].find("-> VI_ERROR_TMO \"" + std::string(text.data()) + "\""), std::string::npos)
      << all[4];
  std::filesystem::remove(path);
}

TEST(TraceFileTest, AFileThatCannotBeWrittenIsRefusedWithItsName) {
  std::string error;
  EXPECT_EQ(TraceFileSink::open("/nonexistent/dir/trace.txt", {}, error), nullptr);
  EXPECT_EQ(error, "cannot write the trace file /nonexistent/dir/trace.txt");
}

TEST(TraceSinksTest, TheTraceHasNoSinkWhileNoneIsOnAndFeedsEachThatIs) {
  testing_support::SimBench bench;
  sim::SimChassis& chassis = bench.chassis;
  TracingVisa traced(chassis);
  TraceSinks sinks(traced);
  EXPECT_EQ(traced.sink(), nullptr);
  RunSink first;
  RunSink second;
  sinks.add(&first);
  EXPECT_EQ(traced.sink(), &first);
  sinks.add(&second);
  ViSession manager = 0;
  traced.viOpenDefaultRM(&manager);
  EXPECT_EQ(first.calls.size(), 1U);
  EXPECT_EQ(second.calls.size(), 1U);
  sinks.remove(&first);
  sinks.remove(&second);
  EXPECT_EQ(traced.sink(), nullptr);
  EXPECT_FALSE(sinks.feeds(&first));
}

}  // namespace
}  // namespace visa
