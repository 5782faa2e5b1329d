// The two-unit wrap tests: one unit transmits frames over the bench cables, the other receives
// them, and the receiver's memory is compared with the frames expected.
#include <array>
#include <memory>
#include <vector>

#include "driver/number_text.h"
#include "tests/functional_tests.h"
#include "tests/test_texts.h"

namespace tests {
namespace {

struct Expected {
  std::uint32_t offset;
  std::uint16_t start;
  std::uint16_t step;
};

// What tells the six wrap tests apart.
struct WrapTest {
  const char* run_caption;
  const char* title_line;
  FailureLimit limit;
  bool qcu_transmits;
  const char* transmit_mode;
  const char* receive_mode;
  std::uint32_t length;  // data words per frame
};

WrapTest wrap_test(TestId test) {
  switch (test) {
    case TestId::Rec:
      return {"Testing Rec", "Quor Bus--Rec Test", FailureLimit::None, true, "mode trnd",
              "mode rec", 1024};
    case TestId::RecM:
      return {"Testing Recm", "Quor Bus--Recm", FailureLimit::None, true, "mode trnd",
              "mode recm", 1024};
    case TestId::Trnsrecm:
      return {"Testing Trnsrecm", "Quor Bus--Trnsrecm Test", FailureLimit::AfterDisplay, false,
              "mode trns", "mode recm", 1024};
    case TestId::Trnorecm:
      return {"Testing Trnorecm", "Quor Bus--Trnorecm Test", FailureLimit::AfterDisplay, false,
              "mode trno", "mode recm", 1024};
    case TestId::Trndrecm:
      return {"Testing Trndrecm", "Quor Bus--Trndrecm Test", FailureLimit::AfterDisplay, false,
              "mode trnd", "mode recm", 16};
    default:
      return {"Testing Trncrecm", "Quor Bus--Trncrecm Test", FailureLimit::BeforeDisplay, false,
              "mode trnc", "mode recm", 1024};
  }
}

}  // namespace

TestPlan FunctionalTests::wrap_plan(TestId test) {
  const WrapTest w = wrap_test(test);
  const std::uint32_t L = w.length;
  const bool qcu_transmits = w.qcu_transmits;

  // The unit records are read when the plan runs, so that it uses the sessions then in force.
  const auto transmitter = [this, qcu_transmits]() -> driver::UnitRecord& {
    return qcu_transmits ? qcu() : uut();
  };
  const auto receiver = [this, qcu_transmits]() -> driver::UnitRecord& {
    return qcu_transmits ? uut() : qcu();
  };
  auto spaces = std::make_shared<UnitSpaces>();

  TestPlan plan;
  plan.run_caption = w.run_caption;
  plan.connection_prompt = qcu_transmits ? text::kQcuToUut : text::kUutToQcu;
  plan.title_line = w.title_line;
  plan.passes = 50;
  plan.limit = w.limit;

  plan.prepare = [this, qcu_transmits, transmitter, receiver, spaces] {
    reset(uut(), text::kResetUut);
    reset(qcu(), text::kResetQcu);
    static constexpr std::array<const char*, 4> kQcuOutputs = {
        "Enable QCU Output 1", "Enable QCU Output 2", "Enable QCU Output 3",
        "Enable QCU Output 4"};
    static constexpr std::array<const char*, 4> kUutOutputs = {
        "Enable UUT Output 1", "Enable UUT Output 2", "Enable UUT Output 3",
        "Enable UUT Output 4"};
    const auto& labels = qcu_transmits ? kQcuOutputs : kUutOutputs;
    for (std::size_t i = 0; i < 4; ++i) {
      send(transmitter(), "rout:clos out" + std::to_string(i + 1), labels[i]);
    }
    send(transmitter(), "tim 10", qcu_transmits ? "time 10 of QCU" : "time 10 of UUT");
    send(receiver(), "rout:clos unpr", "Enable Quor Bus Input 1");
    read_memory_spaces(*spaces);
  };

  plan.pass_body = [this, test, w, L, qcu_transmits, transmitter, receiver,
                    spaces](int) -> int {
    driver::UnitRecord& T = transmitter();
    driver::UnitRecord& R = receiver();
    const std::uint16_t t_space = space_of(*spaces, T);
    const std::uint16_t r_space = space_of(*spaces, R);
    const auto frame = [&](std::uint32_t offset, std::uint16_t start, std::uint16_t step) {
      write_frame(T, t_space, offset, start, step, L, kStopWord14);
    };
    const auto clear = [&](std::uint32_t offset, std::uint32_t words) {
      fill(R, offset, r_space, 0, 0, words);
    };
    const auto signal = [&] { write_word(T, visa::VI_A16_SPACE, kNextBufferRegister, 1); };

    // Transmit buffers and a cleared receive area.
    switch (test) {
      case TestId::Rec:
        frame(0, 1, 1);
        clear(0, L + 2);
        clear(kPong, L + 2);
        break;
      case TestId::RecM:
        frame(0, 1, 1);
        clear(0, 3 * (L + 2));
        break;
      case TestId::Trnsrecm:
      case TestId::Trnorecm:
        frame(0, 1, 1);
        frame(kPong, 3, 3);
        clear(0, 3 * (L + 2));
        break;
      case TestId::Trndrecm:
        frame(0, 1, 1);
        clear(0, 4 * L + 2);
        break;
      default:  // Trncrecm: two chained frames in PING, one in PONG
        frame(0, 1, 1);
        frame(2 * (L + 2), 2, 2);
        frame(kPong, 3, 3);
        clear(0, 4 * (L + 2));
        break;
    }

    // Comparators: the high bytes of the start and stop words.
    const char* r_comparators = qcu_transmits
                                    ? "Initialize the Start and Stop comparators of UUT"
                                    : "Initialize the Start and Stop comparators of QC";
    const char* t_comparators = qcu_transmits
                                    ? "Initialize the Start and Stop comparators of QCU"
                                    : "Initialize the Start and Stop comparators of UUT";
    send(R, "comm:rec:start " + driver::basic_number_text(kStartWord / 256), r_comparators);
    send(R, "comm:rec:stop " + driver::basic_number_text(kStopWord14 / 256), r_comparators);
    send(T, "comm:tran:stop " + driver::basic_number_text(kStopWord14 / 256), t_comparators);

    const char* r_wait = qcu_transmits ? "Wait till we are in the mode of UUT"
                                       : "Wait till we are in the mode of QC";
    const char* t_wait = qcu_transmits ? "Wait till we are in the mode of QCU"
                                       : "Wait till we are in the mode of UUT";
    send(R, w.receive_mode,
         qcu_transmits ? "Start receiver running of UUT" : "Start receiver running of QC");
    send(R, "*opc", r_wait);
    send(T, w.transmit_mode,
         qcu_transmits ? "Start transmitter running send the PING buffer of QCU"
                       : "Start transmitter running send the PING buffer of UUT");
    send(T, "*opc", t_wait);

    // Feed and wait while the units run.
    switch (test) {
      case TestId::Rec:
      case TestId::Trndrecm:
        wait_ms(100);
        frame(kPong, 3, 3);
        signal();
        wait_ms(100);
        frame(0, 4, 3);
        signal();
        wait_ms(100);
        break;
      case TestId::RecM:
        wait_ms(10);
        frame(kPong, 3, 3);
        signal();
        wait_ms(100);
        frame(0, 4, 4);
        signal();
        wait_ms(100);
        break;
      case TestId::Trnorecm:
        wait_ms(50);
        break;
      default:  // Trnsrecm, Trncrecm
        wait_ms(500);
        break;
    }

    send(R, "mode idle", qcu_transmits ? "Stop the receiver of UUT" : "Stop the receiver of QC");
    send(R, "*opc", r_wait);
    send(T, "mode idle",
         qcu_transmits ? "Stop the transmitter of QCU" : "Stop the transmitter of UUT");
    send(T, "*opc", t_wait);

    std::vector<Expected> expected;
    switch (test) {
      case TestId::Rec:
        expected = {{2, 4, 3}, {kPong + 2, 3, 3}};
        break;
      case TestId::RecM:
        expected = {{2, 1, 1}, {2 * L + 6, 3, 3}, {4 * L + 10, 4, 4}};
        break;
      case TestId::Trnsrecm:
        expected = {{2, 1, 1}, {2 * L + 6, 3, 3}, {4 * L + 10, 3, 3}};
        break;
      case TestId::Trnorecm:
        expected = {{2, 1, 1}, {2 * L + 4, 0, 0}, {4 * L + 6, 0, 0}};
        break;
      case TestId::Trndrecm:
        expected = {{2, 1, 1}, {2 * L + 6, 3, 3}, {4 * L + 10, 4, 3}};
        break;
      default:
        expected = {{2, 1, 1}, {2 * L + 6, 2, 2}, {4 * L + 10, 3, 3}};
        break;
    }
    int miscompares = 0;
    for (const Expected& e : expected) {
      miscompares += compare(R, e.offset, r_space, e.start, e.step, L,
                             driver::BufferMemory::CompareKind::LowByte);
    }
    return miscompares != 0 ? 1 : 0;
  };
  return plan;
}

}  // namespace tests
