// The self-loop tests: the UUT sends a frame from its PING buffer out of its outputs, over a
// cable, into its own input and PONG buffer, and both buffers are read back.
#include <memory>

#include "driver/number_text.h"
#include "tests/functional_tests.h"
#include "tests/test_texts.h"

namespace tests {

TestPlan FunctionalTests::self_loop_plan(TestId test) {
  const bool second_input = test == TestId::SelfLoop2;
  const bool long_frame = test == TestId::SelfLong;
  const std::uint32_t N = long_frame ? 524280U : 1024U;
  auto space = std::make_shared<std::uint16_t>(0);

  TestPlan plan;
  switch (test) {
    case TestId::SelfLoop2:
      plan.run_caption = "Testing SelfLoop2";
      plan.connection_prompt = text::kUutToInput2;
      plan.title_line = "Quor Bus--SelfLoop2 Test";
      break;
    case TestId::SelfLong:
      plan.run_caption = "Testing SelfLong";
      plan.connection_prompt = text::kUutToInput1;
      plan.title_line = "Quor Bus--SelfLong Test";
      break;
    default:
      plan.run_caption = "Testing SelfLoop";
      plan.connection_prompt = text::kUutToInput1;
      plan.title_line = "Quor Bus--SelfLoop Test";
      break;
  }
  plan.passes = long_frame ? 5 : 250;
  plan.limit = FailureLimit::AfterDisplay;

  plan.prepare = [this, second_input, space] {
    reset(uut(), text::kResetUut);
    send(uut(), "rout:clos out1", "Enable Quor Bus Output 1");
    send(uut(), "rout:clos out2", "Enable Quor Bus Output 2");
    send(uut(), "rout:clos out3", "Enable Quor Bus Output 3");
    send(uut(), "rout:clos out4", "Enable Quor Bus Output 4");
    send(uut(), "rout:clos ampl", "Enable Quor Bus Output 5");
    if (second_input) {
      send(uut(), "rout:clos PROT", "Enable Quor Bus Input 1");
    } else {
      send(uut(), "rout:clos unpr", "Enable Quor Bus Input 2");
    }
    *space = memory_space(uut());
  };

  plan.pass_body = [this, long_frame, N, space](int pass) -> int {
    driver::UnitRecord& unit = uut();
    const std::uint16_t s = static_cast<std::uint16_t>(pass % 256);
    write_frame(unit, *space, 0, s, 1, N, kStopWord15);
    if (long_frame) {
      send(unit, "trac:data:clr Pong", "Fill PONG RAM with Zeros");
      send(unit, "*opc", "Wait till we are done");
    } else {
      fill(unit, kPong, *space, 0, 0, N + 2);
    }
    send(unit, "comm:rec:start " + driver::basic_number_text(kStartWord / 256), text::kComparators);
    send(unit, "comm:rec:stop " + driver::basic_number_text(kStopWord15 / 256), text::kComparators);
    send(unit, "comm:tran:stop " + driver::basic_number_text(kStopWord15 / 256), text::kComparators);
    send(unit, "mode self", "Start things running");
    send(unit, "*opc", "Wait till we are in the mode");
    if (long_frame) {
      station_.driver.delay_ticks(8, 1000);
      // Closing the main window ends the dwell; the pass ends with it.
      if (station_.shutting_down) return 0;
    }
    send(unit, "mode idle", "Stop the run");
    send(unit, "*opc", "Wait till we are back in IDLE");
    const int e1 =
        compare(unit, 2, *space, s, 1, N, driver::BufferMemory::CompareKind::WholeWord);
    const int e2 =
        compare(unit, kPong + 2, *space, s, 1, N, driver::BufferMemory::CompareKind::LowByte);
    return e1 + e2 != 0 ? 1 : 0;
  };
  return plan;
}

}  // namespace tests
