// The time-stamp test: the QCU sends three chained frames to the UUT, whose memory and
// time-stamp trace are checked.
#include <array>
#include <memory>
#include <string_view>

#include "driver/number_text.h"
#include "procedures/bus_stamp_reply.h"
#include "procedures/bus_test_texts.h"
#include "procedures/bus_tests.h"

namespace procedures {
namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";
constexpr int kItemLength = 7;
constexpr std::int32_t kIntervalLow = 10000;
constexpr std::int32_t kIntervalHigh = 10002;

// Value of the character at 1-based `position`: its place in the digit table, less 1. A
// position past the end reads as an empty text, which the table holds at its first place
// (value 0); a character not in the table has place 0 (value -1).
std::int32_t digit_value(std::string_view reply, std::size_t position) {
  if (position > reply.size()) return 0;
  const std::size_t place = kHexDigits.find(reply[position - 1]);
  return place == std::string_view::npos ? -1 : static_cast<std::int32_t>(place);
}

}  // namespace

std::array<std::int32_t, kStampCount> stamps_of(std::string_view reply) {
  std::array<std::int32_t, kStampCount> stamp{};
  for (int k = 1; k <= kStampCount; ++k) {
    std::int32_t value = 0;
    for (int position = kItemLength * k - 4; position <= kItemLength * k - 1; ++position) {
      value = value * 16 + digit_value(reply, static_cast<std::size_t>(position));
    }
    stamp[static_cast<std::size_t>(k - 1)] = value;
  }
  return stamp;
}

std::array<std::int32_t, kStampCount - 1> stamp_intervals(std::string_view reply) {
  const auto stamp = stamps_of(reply);
  std::array<std::int32_t, kStampCount - 1> delta{};
  for (std::size_t j = 0; j + 1 < stamp.size(); ++j) {
    delta[j] = stamp[j + 1] - stamp[j];
    if (delta[j] < 0) delta[j] += 65536;  // the stamp counter wraps at 16 bits
  }
  return delta;
}

TestPlan BusTests::stamp_plan() {
  constexpr std::uint32_t L = 1024;
  auto spaces = std::make_shared<UnitSpaces>();

  TestPlan plan;
  plan.run_caption = "Testing Stamp";
  plan.connection_prompt = text::kQcuToUut;
  plan.title_line = "Quor Bus--Stamp Test";
  plan.passes = 5;
  plan.limit = FailureLimit::BeforeDisplay;
  plan.identity_without_prefix = true;

  plan.prepare = [this, spaces] {
    reset(uut(), text::kResetUut);
    reset(qcu(), text::kResetQcu);
    send(qcu(), "rout:clos out1", "Enable QCU Output 1");
    send(qcu(), "rout:clos out2", "Enable QCU Output 2");
    send(qcu(), "rout:clos out3", "Enable QCU Output 3");
    send(qcu(), "rout:clos out4", "Enable QCU Output 4");
    send(qcu(), "tim 1000", "time 1000 of QCU");
    send(uut(), "rout:clos unpr", "Enable Quor Bus Input 1");
    read_memory_spaces(*spaces);
  };

  plan.pass_body = [this, spaces](int) -> int {
    driver::UnitRecord& u = uut();
    driver::UnitRecord& q = qcu();
    write_frame(q, spaces->qcu, 0, 1, 1, L, kStopWord14);
    write_frame(q, spaces->qcu, 2 * (L + 2), 2, 2, L, kStopWord14);
    write_frame(q, spaces->qcu, kPong, 3, 3, L, kStopWord14);
    fill(u, 0, spaces->uut, 0, 0, 4 * (L + 2));

    const char* uut_comparators = "Initialize the Start and Stop comparators of UUT";
    send(u, "comm:rec:start " + driver::basic_number_text(kStartWord / 256), uut_comparators);
    send(u, "comm:rec:stop " + driver::basic_number_text(kStopWord14 / 256), uut_comparators);
    send(q, "comm:tran:stop " + driver::basic_number_text(kStopWord14 / 256),
         "Initialize the Start and Stop comparators of QCU");
    send(u, "mode recm", "Start receiver running of UUT");
    send(u, "*opc", "Wait till we are in the mode of UUT");
    send(q, "mode trnc", "Start transmitter running send the PING buffer of QCU");
    send(q, "*opc", "Wait till we are in the mode of QCU");
    station_.driver.delay_ticks(19, 500);
    if (station_.shutting_down) return 0;
    send(u, "mode idle", "Stop the receiver of UUT");
    send(u, "*opc", "Wait till we are in the mode of UUT");
    send(q, "mode idle", "Stop the transmitter of QCU");
    send(q, "*opc", "Wait till we are in the mode of QCU");

    const auto kind = driver::BufferMemory::CompareKind::LowByte;
    // One compare after the other: each writes its own report lines, first frame first.
    int miscompares = compare(u, 2, spaces->uut, 1, 1, L, kind);
    miscompares += compare(u, 2 * L + 6, spaces->uut, 2, 2, L, kind);
    miscompares += compare(u, 4 * L + 10, spaces->uut, 3, 3, L, kind);
    check_time_stamps();
    int added = state_.stamp_failure != 0 ? 1 : 0;
    if (miscompares != 0) ++added;
    return added;
  };
  return plan;
}

void BusTests::check_time_stamps() {
  // A close during the step display before it ends the pass without touching the units.
  if (station_.shutting_down) return;
  std::string reply;
  const visa::ViStatus status = station_.driver.quor_cmd(uut().session, "trac:data? stamp", reply);
  station_.driver.report_status(uut(), status, "trac:data? stamp of UUT");

  std::int16_t failed = 0;
  for (const std::int32_t delta : stamp_intervals(reply)) {
    if (delta < kIntervalLow || delta > kIntervalHigh) {
      report_.append_report(
          "Failure at Stamp's Time\r\n Here is the failed calculated Time Delta Value that "
          "should be between 10000 and 10002 from Stamp's Return value: " +
          std::to_string(delta) + "\r\n");
      failed = 1;
    }
  }
  state_.stamp_failure = failed;
}

}  // namespace procedures
