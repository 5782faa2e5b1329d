// The VISA call trace: what it records of each call, and that it changes nothing it forwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testing/sim_bench.h"
#include "visa/visa_call_trace.h"

namespace visa {
namespace {

struct RecordingSink final : VisaCallSink {
  std::vector<VisaCall> calls;
  void record(const VisaCall& call) override { calls.push_back(call); }
};

struct TracedBench : ::testing::Test, testing_support::SimBench {
  RecordingSink sink;
  TracingVisa traced{chassis, &sink};

  ViSession open_uut(ViSession* manager) {
    EXPECT_EQ(traced.viOpenDefaultRM(manager), VI_SUCCESS);
    ViSession uut = 0;
    EXPECT_EQ(traced.viOpen(*manager, "VXI0::8::INSTR", 0, 0, &uut), VI_SUCCESS);
    return uut;
  }
};

TEST_F(TracedBench, RecordsEveryCallInOrderWithItsObjectArgumentsAndStatus) {
  ViSession rm = 0;
  const ViSession uut = open_uut(&rm);
  const unsigned char command[] = "*IDN?\n";
  ViUInt32 returned = 0;
  ASSERT_EQ(traced.viWrite(uut, command, 6, &returned), VI_SUCCESS);
  unsigned char reply[256];
  ASSERT_GE(traced.viRead(uut, reply, sizeof reply, &returned), VI_SUCCESS);
  const ViUInt32 reply_length = returned;
  ViUInt16 id = 0;
  ASSERT_EQ(traced.viIn16(uut, VI_A16_SPACE, 0, &id), VI_SUCCESS);
  ASSERT_EQ(traced.viOut16(uut, VI_A24_SPACE, 0x10, 0x55AA), VI_SUCCESS);
  ASSERT_EQ(traced.viClose(uut), VI_SUCCESS);
  EXPECT_EQ(traced.viIn16(uut, VI_A16_SPACE, 0, &id), VI_ERROR_INV_OBJECT) << "closed session";

  const std::vector<VisaFunction> expected = {
      VisaFunction::OpenDefaultRM, VisaFunction::Open,  VisaFunction::Write, VisaFunction::Read,
      VisaFunction::In16,          VisaFunction::Out16, VisaFunction::Close, VisaFunction::In16};
  ASSERT_EQ(sink.calls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(sink.calls[i].function, expected[i]) << "call " << i;
  }
  EXPECT_EQ(sink.calls[0].opened, rm);
  EXPECT_EQ(sink.calls[1].object, rm);
  EXPECT_EQ(sink.calls[1].text, "VXI0::8::INSTR");
  EXPECT_EQ(sink.calls[1].opened, uut);
  EXPECT_EQ(sink.calls[2].object, uut);
  EXPECT_EQ(sink.calls[2].text, "\"*IDN?\\n\"");
  EXPECT_EQ(sink.calls[2].value, 6U);
  EXPECT_EQ(sink.calls[3].value, reply_length);
  EXPECT_EQ(sink.calls[3].text, escaped_bytes(reply, reply_length))
      << "the bytes read, as they came";
  EXPECT_EQ(sink.calls[4].value, id);
  EXPECT_EQ(sink.calls[5].space, VI_A24_SPACE);
  EXPECT_EQ(sink.calls[5].offset, 0x10U);
  EXPECT_EQ(sink.calls[5].value, 0x55AAU);
  EXPECT_EQ(sink.calls[7].status, VI_ERROR_INV_OBJECT);
  EXPECT_EQ(sink.calls[7].value, 0U) << "a failed read reports no value";
  for (const VisaCall& call : sink.calls) EXPECT_GE(call.duration.count(), 0);
}

TEST_F(TracedBench, WithoutASinkForwardsTheSameAndRecordsNothing) {
  ViSession rm = 0;
  const ViSession uut = open_uut(&rm);
  sink.calls.clear();
  traced.set_sink(nullptr);
  ViUInt16 through_trace = 0;
  ViUInt16 direct = 0;
  ASSERT_EQ(traced.viIn16(uut, VI_A16_SPACE, 0, &through_trace), VI_SUCCESS);
  ASSERT_EQ(chassis.viIn16(uut, VI_A16_SPACE, 0, &direct), VI_SUCCESS);
  EXPECT_EQ(through_trace, direct);
  EXPECT_TRUE(sink.calls.empty());
}

TEST_F(TracedBench, ASearchRecordsItsExpressionCountAndNames) {
  ViSession rm = 0;
  ASSERT_EQ(traced.viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = 0;
  ViUInt32 count = 0;
  ViChar name[VI_FIND_BUFLEN] = {};
  ASSERT_EQ(traced.viFindRsrc(rm, "?*VXI[0-9]*::?*INSTR", &list, &count, name), VI_SUCCESS);
  ASSERT_EQ(traced.viFindNext(list, name), VI_SUCCESS);
  ASSERT_EQ(sink.calls.size(), 3U);
  EXPECT_EQ(sink.calls[1].text, "?*VXI[0-9]*::?*INSTR -> VXI0::8::INSTR");
  EXPECT_EQ(sink.calls[1].value, count);
  EXPECT_EQ(sink.calls[1].opened, list);
  EXPECT_EQ(sink.calls[2].object, list);
  EXPECT_EQ(sink.calls[2].text, "VXI0::24::INSTR");
  char expected[160];
  std::snprintf(expected, sizeof expected,
                "viFindRsrc(0x%08X, ?*VXI[0-9]*::?*INSTR -> VXI0::8::INSTR) -> VI_SUCCESS, "
                "handle 0x%08X, 3 found",
                rm, list);
  EXPECT_EQ(describe_call(sink.calls[1]), expected);
}

struct DescribeRow {
  const char* label;
  VisaCall call;
  const char* line;
};

VisaCall make(VisaFunction function, ViObject object, ViStatus status) {
  VisaCall call;
  call.function = function;
  call.object = object;
  call.status = status;
  return call;
}

std::vector<DescribeRow> describe_rows() {
  std::vector<DescribeRow> rows;
  VisaCall in16 = make(VisaFunction::In16, 0x12, VI_SUCCESS);
  in16.space = VI_A16_SPACE;
  in16.offset = 0x3E;
  in16.value = 0x4FD5;
  rows.push_back({"In16", in16, "viIn16(0x00000012, A16, 0x00003E, 0x4FD5) -> VI_SUCCESS"});
  VisaCall out16 = make(VisaFunction::Out16, 0x12, VI_ERROR_BERR);
  out16.space = VI_A24_SPACE;
  out16.offset = 0x100000;
  out16.value = 0xFF;
  rows.push_back(
      {"Out16Berr", out16, "viOut16(0x00000012, A24, 0x100000, 0x00FF) -> VI_ERROR_BERR"});
  VisaCall move = make(VisaFunction::MoveIn16, 0x12, VI_ERROR_TMO);
  move.space = VI_A32_SPACE;
  move.offset = 2;
  move.value = 1000;
  rows.push_back(
      {"MoveIn16", move, "viMoveIn16(0x00000012, A32, 0x000002, 1000 words) -> VI_ERROR_TMO"});
  VisaCall write = make(VisaFunction::Write, 7, VI_SUCCESS);
  write.text = "\"*RST\\n\"";
  write.value = 5;
  rows.push_back({"Write", write, "viWrite(0x00000007, \"*RST\\n\", 5 bytes) -> VI_SUCCESS"});
  VisaCall open = make(VisaFunction::Open, 1, VI_SUCCESS);
  open.text = "VXI0::8::INSTR";
  open.timeout_ms = 8000;
  open.opened = 0x21;
  rows.push_back(
      {"Open", open,
       "viOpen(0x00000001, VXI0::8::INSTR, mode 0, 8000 ms) -> VI_SUCCESS, handle 0x00000021"});
  VisaCall attribute = make(VisaFunction::SetAttribute, 0x21, VI_SUCCESS);
  attribute.attribute = VI_ATTR_TMO_VALUE;
  attribute.value = 6000;
  rows.push_back(
      {"SetAttribute", attribute, "viSetAttribute(0x00000021, 0x3FFF001A, 6000) -> VI_SUCCESS"});
  rows.push_back({"UnknownStatus", make(VisaFunction::Close, 0x21, visa::error_code(0xBFFF0099U)),
                  "viClose(0x00000021) -> 0xBFFF0099"});
  return rows;
}

class DescribeCall : public ::testing::TestWithParam<DescribeRow> {};

TEST_P(DescribeCall, WritesOneLineWithFunctionArgumentsAndStatus) {
  EXPECT_EQ(describe_call(GetParam().call), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Calls, DescribeCall, ::testing::ValuesIn(describe_rows()),
                         [](const ::testing::TestParamInfo<DescribeRow>& row) {
                           return std::string(row.param.label);
                         });

struct EscapeRow {
  std::string bytes;
  std::size_t limit;
  const char* text;
};

class EscapedBytes : public ::testing::TestWithParam<EscapeRow> {};

TEST_P(EscapedBytes, ShowsEveryByteReadably) {
  const EscapeRow& row = GetParam();
  EXPECT_EQ(escaped_bytes(reinterpret_cast<const unsigned char*>(row.bytes.data()),
                          row.bytes.size(), row.limit),
            row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, EscapedBytes,
    ::testing::Values(EscapeRow{"*IDN?\n", 200, "\"*IDN?\\n\""},
                      EscapeRow{std::string("a\0b\r\t", 5), 200, "\"a\\x00b\\r\\t\""},
                      EscapeRow{"\x80\xFF\"\\", 200, "\"\\x80\\xFF\\\"\\\\\""},
                      EscapeRow{"abcdef", 3, "\"abc\"..."}, EscapeRow{"", 200, "\"\""}));

}  // namespace
}  // namespace visa
