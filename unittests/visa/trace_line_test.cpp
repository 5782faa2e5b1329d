// The trace file's lines, byte for byte: a table of calls in the order a station makes them and
// the line each becomes (time of day, function, handle and the name it was opened under,
// arguments, status and its text, what the call handed back, duration).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "visa/visa_call_trace.h"
#include "visa/visa_trace_file.h"

namespace visa {
namespace {

using std::chrono::microseconds;
using std::chrono::nanoseconds;

// 12:34:56.789012 UTC on some day, against a steady clock's origin.
const std::chrono::steady_clock::time_point kSteadyOrigin{std::chrono::hours(5)};
const std::chrono::system_clock::time_point kSystemOrigin{
    std::chrono::seconds(1'700'000'000 - 1'700'000'000 % 86'400 + 12 * 3600 + 34 * 60 + 56) +
    microseconds(789'012)};

struct LineRow {
  VisaCall call;
  std::string line;
};

VisaCall call_at(VisaFunction function, ViObject object, std::int64_t after_us,
                 std::int64_t took_ns, ViStatus status = VI_SUCCESS) {
  VisaCall call;
  call.function = function;
  call.object = object;
  call.status = status;
  call.start = kSteadyOrigin + microseconds(after_us);
  call.duration = nanoseconds(took_ns);
  return call;
}

std::vector<LineRow> station_calls() {
  std::vector<LineRow> rows;
  VisaCall manager = call_at(VisaFunction::OpenDefaultRM, 0, 0, 1'234);
  manager.opened = 0x100;
  rows.push_back({manager,
                  "12:34:56.789012 viOpenDefaultRM 0x00000000 - () -> VI_SUCCESS \"Done.\", "
                  "handle 0x00000100 1.2 us"});
  VisaCall find = call_at(VisaFunction::FindRsrc, 0x100, 17, 99'999);
  find.text = "?*INSTR -> VXI0::8::INSTR";
  find.opened = 0x101;
  find.value = 3;
  rows.push_back({find,
                  "12:34:56.789029 viFindRsrc 0x00000100 resource-manager (?*INSTR -> "
                  "VXI0::8::INSTR) -> VI_SUCCESS \"Done.\", handle 0x00000101, 3 found 99.9 us"});
  VisaCall next = call_at(VisaFunction::FindNext, 0x101, 200, 50);
  next.text = "VXI0::24::INSTR";
  rows.push_back({next,
                  "12:34:56.789212 viFindNext 0x00000101 find-list (VXI0::24::INSTR) -> VI_SUCCESS "
                  "\"Done.\" 0.0 us"});
  VisaCall open = call_at(VisaFunction::Open, 0x100, 1'000'000, 2'000'000);
  open.text = "VXI0::8::INSTR";
  open.timeout_ms = 8000;
  open.opened = 0x102;
  rows.push_back({open,
                  "12:34:57.789012 viOpen 0x00000100 resource-manager (VXI0::8::INSTR, mode 0, "
                  "8000 ms) -> VI_SUCCESS \"Done.\", handle 0x00000102 2000.0 us"});
  VisaCall timeout = call_at(VisaFunction::SetAttribute, 0x102, 1'000'010, 700);
  timeout.attribute = VI_ATTR_TMO_VALUE;
  timeout.value = 6000;
  rows.push_back({timeout,
                  "12:34:57.789022 viSetAttribute 0x00000102 VXI0::8::INSTR (0x3FFF001A, 6000) -> "
                  "VI_SUCCESS \"Done.\" 0.7 us"});
  VisaCall run = call_at(VisaFunction::Out16, 0x102, 1'000'020, 25'550);
  run.space = VI_A24_SPACE;
  run.offset = 0x100;
  run.count = 10;
  for (std::uint16_t i = 0; i < kRunValuesKept; ++i) run.run_values[i] = 0xA0 + i;
  run.value = 0xBEEF;
  rows.push_back({run,
                  "12:34:57.789032 viOut16 x10 0x00000102 VXI0::8::INSTR (A24, 10 words "
                  "0x000100..0x000112, values 0x00A0 0x00A1 0x00A2 0x00A3 0x00A4 0x00A5 0x00A6 "
                  "0x00A7 ... 0xBEEF) -> VI_SUCCESS \"Done.\" 25.5 us"});
  VisaCall pair = run;
  pair.function = VisaFunction::In16;
  pair.count = 2;
  pair.value = 0x00A1;
  rows.push_back({pair,
                  "12:34:57.789032 viIn16 x2 0x00000102 VXI0::8::INSTR (A24, 2 words "
                  "0x000100..0x000102, values 0x00A0 0x00A1) -> VI_SUCCESS \"Done.\" 25.5 us"});
  VisaCall failed = call_at(VisaFunction::In16, 0x102, 1'000'100, 2'000'000'000, VI_ERROR_TMO);
  failed.space = VI_A16_SPACE;
  failed.offset = 0x3E;
  rows.push_back({failed,
                  "12:34:57.789112 viIn16 0x00000102 VXI0::8::INSTR (A16, 0x00003E, 0x0000) -> "
                  "VI_ERROR_TMO \"Timed out.\" 2000000.0 us"});
  VisaCall move = call_at(VisaFunction::MoveIn16, 0x102, 1'000'200, 1'000);
  move.space = 9;
  move.offset = 0x1234567;
  move.value = 1026;
  rows.push_back({move,
                  "12:34:57.789212 viMoveIn16 0x00000102 VXI0::8::INSTR (space 9, 0x1234567, 1026 "
                  "words) -> VI_SUCCESS \"Done.\" 1.0 us"});
  VisaCall write = call_at(VisaFunction::Write, 0x102, 1'000'300, 10'000);
  write.text = escaped_bytes(reinterpret_cast<const unsigned char*>("*RST\n"), 5);
  write.value = 5;
  rows.push_back({write,
                  "12:34:57.789312 viWrite 0x00000102 VXI0::8::INSTR (\"*RST\\n\", 5 bytes) -> "
                  "VI_SUCCESS \"Done.\" 10.0 us"});
  VisaCall desc = call_at(VisaFunction::StatusDesc, 0, 1'000'400, 300);
  desc.value = static_cast<std::uint32_t>(VI_ERROR_TMO);
  desc.text = "Timed out.";
  rows.push_back({desc,
                  "12:34:57.789412 viStatusDesc 0x00000000 - (VI_ERROR_TMO, \"Timed out.\") -> "
                  "VI_SUCCESS \"Done.\" 0.3 us"});
  VisaCall unknown =
      call_at(VisaFunction::GetAttribute, 0x102, 1'000'500, -5, error_code(0xBFFF0099U));
  unknown.attribute = 0x3FFF0001;
  rows.push_back({unknown,
                  "12:34:57.789512 viGetAttribute 0x00000102 VXI0::8::INSTR (0x3FFF0001, 0) -> "
                  "0xBFFF0099 \"\" 0.0 us"});
  // The close still names what it closes; the handle is nameless after it.
  rows.push_back({call_at(VisaFunction::Close, 0x102, 1'000'600, 1'500),
                  "12:34:57.789612 viClose 0x00000102 VXI0::8::INSTR () -> VI_SUCCESS \"Done.\" "
                  "1.5 us"});
  rows.push_back({call_at(VisaFunction::Close, 0x102, 1'000'700, 1'500, VI_ERROR_INV_OBJECT),
                  "12:34:57.789712 viClose 0x00000102 - () -> VI_ERROR_INV_OBJECT \"\" 1.5 us"});
  // The time of day wraps at midnight.
  rows.push_back({call_at(VisaFunction::Close, 0x100,
                          (11 * 3600 + 25 * 60 + 3) * 1'000'000LL + 210'988 + 5, 0),
                  "00:00:00.000005 viClose 0x00000100 resource-manager () -> VI_SUCCESS \"Done.\" "
                  "0.0 us"});
  return rows;
}

TEST(TraceLineTest, EachCallOfAStationBecomesItsLine) {
  std::map<ViStatus, int> asked;
  TraceFormatter formatter(
      [&asked](ViStatus status) {
        ++asked[status];
        return std::string(status == VI_SUCCESS     ? "Done."
                           : status == VI_ERROR_TMO ? "Timed out."
                                                    : "");
      },
      TraceClock(kSteadyOrigin, kSystemOrigin));
  for (const LineRow& row : station_calls()) {
    EXPECT_EQ(formatter.line(row.call), row.line + "\n");
  }
  for (const auto& [status, times] : asked) {
    EXPECT_EQ(times, 1) << "the text of " << status_name(status) << " is asked once";
  }
}

}  // namespace
}  // namespace visa
