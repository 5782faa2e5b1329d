// The two-unit wrap tests: one unit transmits frames over the bench cables, the other receives
// them, and the receiver's memory is compared with the frames expected. The six tests are rows
// of one table read by one pass body.
#include <array>
#include <memory>
#include <vector>

#include "driver/number_text.h"
#include "procedures/bus_test_texts.h"
#include "procedures/bus_tests.h"

namespace procedures {
namespace {

// A place or a size in words that grows with the frame length L: `per_word` * L + `plus`.
struct Span {
  std::uint32_t per_word;
  std::uint32_t plus;
  std::uint32_t at(std::uint32_t length) const { return per_word * length + plus; }
};

// A frame of pattern words (start, start + step, ...) written to, or expected at, an offset.
struct Frame {
  Span offset;
  std::uint16_t start;
  std::uint16_t step;
};

// An area of the receiver cleared before each pass.
struct Clear {
  Span offset;
  Span words;
};

// While the units run: wait, write the next frame to the transmitter, signal the next buffer.
struct Feed {
  int wait_ms;
  Frame frame;
};

// The step labels of one direction of transfer.
struct Direction {
  const char* connection_prompt;
  const char* transmitter_time;
  std::array<const char*, 4> transmitter_outputs;
  const char* receiver_comparators;
  const char* transmitter_comparators;
  const char* receiver_start;
  const char* transmitter_start;
  const char* receiver_wait;
  const char* transmitter_wait;
  const char* receiver_stop;
  const char* transmitter_stop;
};

constexpr Direction kQcuToUut = {
    text::kQcuToUut,
    "time 10 of QCU",
    {"Enable QCU Output 1", "Enable QCU Output 2", "Enable QCU Output 3", "Enable QCU Output 4"},
    "Initialize the Start and Stop comparators of UUT",
    "Initialize the Start and Stop comparators of QCU",
    "Start receiver running of UUT",
    "Start transmitter running send the PING buffer of QCU",
    "Wait till we are in the mode of UUT",
    "Wait till we are in the mode of QCU",
    "Stop the receiver of UUT",
    "Stop the transmitter of QCU",
};

constexpr Direction kUutToQcu = {
    text::kUutToQcu,
    "time 10 of UUT",
    {"Enable UUT Output 1", "Enable UUT Output 2", "Enable UUT Output 3", "Enable UUT Output 4"},
    "Initialize the Start and Stop comparators of QC",
    "Initialize the Start and Stop comparators of UUT",
    "Start receiver running of QC",
    "Start transmitter running send the PING buffer of UUT",
    "Wait till we are in the mode of QC",
    "Wait till we are in the mode of UUT",
    "Stop the receiver of QC",
    "Stop the transmitter of UUT",
};

struct WrapRow {
  core::ProcedureKind test;
  const char* run_caption;
  const char* title_line;
  FailureLimit limit;
  bool qcu_transmits;
  const char* transmit_mode;
  const char* receive_mode;
  std::uint32_t length;         // data words per frame
  std::vector<Frame> frames;    // written to the transmitter before the run
  std::vector<Clear> clears;    // cleared in the receiver before the run
  std::vector<Feed> feeds;      // while the units run
  int final_wait_ms;            // before the units are stopped
  std::vector<Frame> expected;  // compared in the receiver, in this order
};

constexpr Span at(std::uint32_t plus) { return {0, plus}; }
constexpr Span kPingStart = at(0);
constexpr Span kPongStart = at(kPong);

const std::vector<WrapRow>& wrap_rows() {
  static const std::vector<WrapRow> rows = {
      {core::ProcedureKind::rec,
       "Testing Rec",
       "Quor Bus--Rec Test",
       FailureLimit::None,
       true,
       "mode trnd",
       "mode rec",
       1024,
       {{kPingStart, 1, 1}},
       {{kPingStart, {1, 2}}, {kPongStart, {1, 2}}},
       {{100, {kPongStart, 3, 3}}, {100, {kPingStart, 4, 3}}},
       100,
       {{at(2), 4, 3}, {at(kPong + 2), 3, 3}}},
      {core::ProcedureKind::recm,
       "Testing Recm",
       "Quor Bus--Recm",
       FailureLimit::None,
       true,
       "mode trnd",
       "mode recm",
       1024,
       {{kPingStart, 1, 1}},
       {{kPingStart, {3, 6}}},
       {{10, {kPongStart, 3, 3}}, {100, {kPingStart, 4, 4}}},
       100,
       {{at(2), 1, 1}, {{2, 6}, 3, 3}, {{4, 10}, 4, 4}}},
      {core::ProcedureKind::trnsrecm,
       "Testing Trnsrecm",
       "Quor Bus--Trnsrecm Test",
       FailureLimit::AfterDisplay,
       false,
       "mode trns",
       "mode recm",
       1024,
       {{kPingStart, 1, 1}, {kPongStart, 3, 3}},
       {{kPingStart, {3, 6}}},
       {},
       500,
       {{at(2), 1, 1}, {{2, 6}, 3, 3}, {{4, 10}, 3, 3}}},
      {core::ProcedureKind::trnorecm,
       "Testing Trnorecm",
       "Quor Bus--Trnorecm Test",
       FailureLimit::AfterDisplay,
       false,
       "mode trno",
       "mode recm",
       1024,
       {{kPingStart, 1, 1}, {kPongStart, 3, 3}},
       {{kPingStart, {3, 6}}},
       {},
       50,
       {{at(2), 1, 1}, {{2, 4}, 0, 0}, {{4, 6}, 0, 0}}},
      {core::ProcedureKind::trndrecm,
       "Testing Trndrecm",
       "Quor Bus--Trndrecm Test",
       FailureLimit::AfterDisplay,
       false,
       "mode trnd",
       "mode recm",
       16,
       {{kPingStart, 1, 1}},
       {{kPingStart, {4, 2}}},
       {{100, {kPongStart, 3, 3}}, {100, {kPingStart, 4, 3}}},
       100,
       {{at(2), 1, 1}, {{2, 6}, 3, 3}, {{4, 10}, 4, 3}}},
      // Two chained frames in PING, one in PONG.
      {core::ProcedureKind::trncrecm,
       "Testing Trncrecm",
       "Quor Bus--Trncrecm Test",
       FailureLimit::BeforeDisplay,
       false,
       "mode trnc",
       "mode recm",
       1024,
       {{kPingStart, 1, 1}, {{2, 4}, 2, 2}, {kPongStart, 3, 3}},
       {{kPingStart, {4, 8}}},
       {},
       500,
       {{at(2), 1, 1}, {{2, 6}, 2, 2}, {{4, 10}, 3, 3}}},
  };
  return rows;
}

const WrapRow& wrap_row(core::ProcedureKind test) {
  for (const WrapRow& row : wrap_rows()) {
    if (row.test == test) return row;
  }
  return wrap_rows().back();
}

}  // namespace

TestPlan BusTests::wrap_plan(core::ProcedureKind test) {
  const WrapRow& row = wrap_row(test);
  const Direction& labels = row.qcu_transmits ? kQcuToUut : kUutToQcu;

  // The unit records are read when the plan runs, so that it uses the sessions then in force.
  const auto transmitter = [this, &row]() -> driver::UnitRecord& {
    return row.qcu_transmits ? qcu() : uut();
  };
  const auto receiver = [this, &row]() -> driver::UnitRecord& {
    return row.qcu_transmits ? uut() : qcu();
  };
  auto spaces = std::make_shared<UnitSpaces>();

  TestPlan plan;
  plan.run_caption = row.run_caption;
  plan.connection_prompt = labels.connection_prompt;
  plan.title_line = row.title_line;
  plan.passes = 50;
  plan.limit = row.limit;

  plan.prepare = [this, &labels, transmitter, receiver, spaces] {
    reset(uut(), text::kResetUut);
    reset(qcu(), text::kResetQcu);
    for (std::size_t i = 0; i < labels.transmitter_outputs.size(); ++i) {
      send(transmitter(), "rout:clos out" + std::to_string(i + 1), labels.transmitter_outputs[i]);
    }
    send(transmitter(), "tim 10", labels.transmitter_time);
    send(receiver(), "rout:clos unpr", "Enable Quor Bus Input 1");
    read_memory_spaces(*spaces);
  };

  plan.pass_body = [this, &row, &labels, transmitter, receiver, spaces](int) -> int {
    driver::UnitRecord& T = transmitter();
    driver::UnitRecord& R = receiver();
    const std::uint16_t t_space = space_of(*spaces, T);
    const std::uint16_t r_space = space_of(*spaces, R);
    const std::uint32_t L = row.length;
    const auto write = [&](const Frame& frame) {
      write_frame(T, t_space, frame.offset.at(L), frame.start, frame.step, L, kStopWord14);
    };

    // Transmit buffers and a cleared receive area.
    for (const Frame& frame : row.frames) write(frame);
    for (const Clear& area : row.clears) {
      fill(R, area.offset.at(L), r_space, 0, 0, area.words.at(L));
    }

    // Comparators: the high bytes of the start and stop words.
    send(R, "comm:rec:start " + driver::basic_number_text(kStartWord / 256),
         labels.receiver_comparators);
    send(R, "comm:rec:stop " + driver::basic_number_text(kStopWord14 / 256),
         labels.receiver_comparators);
    send(T, "comm:tran:stop " + driver::basic_number_text(kStopWord14 / 256),
         labels.transmitter_comparators);

    send(R, row.receive_mode, labels.receiver_start);
    send(R, "*opc", labels.receiver_wait);
    send(T, row.transmit_mode, labels.transmitter_start);
    send(T, "*opc", labels.transmitter_wait);

    // Feed and wait while the units run.
    for (const Feed& feed : row.feeds) {
      wait_ms(feed.wait_ms);
      write(feed.frame);
      write_word(T, visa::VI_A16_SPACE, kNextBufferRegister, 1);
    }
    wait_ms(row.final_wait_ms);

    send(R, "mode idle", labels.receiver_stop);
    send(R, "*opc", labels.receiver_wait);
    send(T, "mode idle", labels.transmitter_stop);
    send(T, "*opc", labels.transmitter_wait);

    int miscompares = 0;
    for (const Frame& frame : row.expected) {
      miscompares += compare(R, frame.offset.at(L), r_space, frame.start, frame.step, L,
                             driver::BufferMemory::CompareKind::LowByte);
    }
    return miscompares != 0 ? 1 : 0;
  };
  return plan;
}

}  // namespace procedures
