// The self-loop tests: the UUT sends a frame from its PING buffer out of its outputs, over a
// cable, into its own input and PONG buffer, and both buffers are read back. The three tests are
// rows of one table read by one pass body.
#include <array>
#include <memory>

#include "driver/number_text.h"
#include "procedures/bus_test_texts.h"
#include "procedures/bus_tests.h"

namespace procedures {
namespace {

struct SelfLoopRow {
  core::ProcedureKind test;
  const char* run_caption;
  const char* connection_prompt;
  const char* title_line;
  const char* input_route;  // the input closed, and its step label
  const char* input_label;
  std::uint32_t length;  // data words per frame
  int passes;
  bool clear_pong_by_command;  // "trac:data:clr Pong" instead of writing zeros word by word
  std::int16_t dwell_seconds;  // in self mode, before the run is stopped (0: none)
};

constexpr std::array<SelfLoopRow, 3> kSelfLoopRows = {{
    {core::ProcedureKind::self_loop, "Testing SelfLoop", text::kUutToInput1,
     "Quor Bus--SelfLoop Test", "rout:clos unpr", "Enable Quor Bus Input 2", 1024, 250, false, 0},
    {core::ProcedureKind::self_loop2, "Testing SelfLoop2", text::kUutToInput2,
     "Quor Bus--SelfLoop2 Test", "rout:clos PROT", "Enable Quor Bus Input 1", 1024, 250, false, 0},
    {core::ProcedureKind::self_long, "Testing SelfLong", text::kUutToInput1,
     "Quor Bus--SelfLong Test", "rout:clos unpr", "Enable Quor Bus Input 2", 524280, 5, true, 8},
}};

const SelfLoopRow& self_loop_row(core::ProcedureKind test) {
  for (const SelfLoopRow& row : kSelfLoopRows) {
    if (row.test == test) return row;
  }
  return kSelfLoopRows.front();
}

constexpr std::array<const char*, 5> kOutputRoutes = {"out1", "out2", "out3", "out4", "ampl"};
constexpr std::array<const char*, 5> kOutputLabels = {
    "Enable Quor Bus Output 1", "Enable Quor Bus Output 2", "Enable Quor Bus Output 3",
    "Enable Quor Bus Output 4", "Enable Quor Bus Output 5"};

}  // namespace

TestPlan BusTests::self_loop_plan(core::ProcedureKind test) {
  const SelfLoopRow& row = self_loop_row(test);
  auto space = std::make_shared<std::uint16_t>(0);

  TestPlan plan;
  plan.run_caption = row.run_caption;
  plan.connection_prompt = row.connection_prompt;
  plan.title_line = row.title_line;
  plan.passes = row.passes;
  plan.limit = FailureLimit::AfterDisplay;

  plan.prepare = [this, &row, space] {
    reset(uut(), text::kResetUut);
    for (std::size_t i = 0; i < kOutputRoutes.size(); ++i) {
      send(uut(), std::string("rout:clos ") + kOutputRoutes[i], kOutputLabels[i]);
    }
    send(uut(), row.input_route, row.input_label);
    *space = memory_space(uut());
  };

  plan.pass_body = [this, &row, space](int pass) -> int {
    driver::UnitRecord& unit = uut();
    const std::uint32_t N = row.length;
    const std::uint16_t s = static_cast<std::uint16_t>(pass % 256);
    write_frame(unit, *space, 0, s, 1, N, kStopWord15);
    if (row.clear_pong_by_command) {
      send(unit, "trac:data:clr Pong", "Fill PONG RAM with Zeros");
      send(unit, "*opc", "Wait till we are done");
    } else {
      fill(unit, kPong, *space, 0, 0, N + 2);
    }
    send(unit, "comm:rec:start " + driver::basic_number_text(kStartWord / 256), text::kComparators);
    send(unit, "comm:rec:stop " + driver::basic_number_text(kStopWord15 / 256), text::kComparators);
    send(unit, "comm:tran:stop " + driver::basic_number_text(kStopWord15 / 256),
         text::kComparators);
    send(unit, "mode self", "Start things running");
    send(unit, "*opc", "Wait till we are in the mode");
    if (row.dwell_seconds > 0) {
      station_.driver.delay_ticks(row.dwell_seconds, 1000);
      // Closing the main window ends the dwell; the pass ends with it.
      if (station_.shutting_down) return 0;
    }
    send(unit, "mode idle", "Stop the run");
    send(unit, "*opc", "Wait till we are back in IDLE");
    const int e1 = compare(unit, 2, *space, s, 1, N, driver::BufferMemory::CompareKind::WholeWord);
    const int e2 =
        compare(unit, kPong + 2, *space, s, 1, N, driver::BufferMemory::CompareKind::LowByte);
    return e1 + e2 != 0 ? 1 : 0;
  };
  return plan;
}

}  // namespace procedures
