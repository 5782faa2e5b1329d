// The ten bus tests that run from the test console: the common skeleton (prompt, report header,
// passes with their count display, stop request, failure limit, closing lines) and the ten test
// bodies. They show themselves through a BusTestView and leave their results in the station's
// run facts (outcome, passes, failures, report text).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/station.h"
#include "driver/buffer_memory.h"
#include "driver/report_sink.h"
#include "procedures/console_view.h"

namespace procedures {

// The values the tests share with the console's buttons.
struct TestState {
  bool stop = false;     // set by STOP TEST, cleared by every test's start
  std::string identity;  // the UUT's "*idn?" reply of the latest test
  std::int16_t stamp_failure = 0;
};

enum class FailureLimit { None, BeforeDisplay, AfterDisplay };

// The memory spaces of both units, read once per test, the UUT's first.
struct UnitSpaces {
  std::uint16_t uut = 0;
  std::uint16_t qcu = 0;
};

// What tells one test from another inside the common skeleton.
struct TestPlan {
  const char* run_caption;
  const char* connection_prompt;
  const char* title_line;
  int passes;
  FailureLimit limit;
  bool identity_without_prefix = false;
  std::function<void()> prepare;
  // Runs one pass; returns how much the failure count grows (0 or 1; 2 for Stamp).
  std::function<int(int pass)> pass_body;
};

class BusTests {
 public:
  BusTests(core::Station& station, BusTestView& view);

  // The console's click procedure for every test button; does nothing while a test runs. The
  // tests are the table's bus tests (core::procedure_table()).
  void run_from_console(core::ProcedureKind test);
  bool running() const { return running_; }
  // STOP TEST: the running test ends after its current pass.
  void request_stop() { state_.stop = true; }
  // The common skeleton around one test.
  void run(const TestPlan& plan);

  TestPlan plan_for(core::ProcedureKind test);
  TestState& state() { return state_; }

  // --- Steps the test bodies share ---
  // Once the station shuts down its sessions are closed: the steps touch no unit and write no
  // report line, and the pass ends at its next check.
  // A text command through the command core to `unit`, reported under `label`.
  void send(const driver::UnitRecord& unit, const std::string& command, const char* label);
  void reset(const driver::UnitRecord& unit, const char* label);
  // A register write whose status goes to the last VISA status only.
  void write_word(const driver::UnitRecord& unit, std::uint16_t space, std::uint32_t offset,
                  std::uint16_t value);
  std::uint16_t memory_space(const driver::UnitRecord& unit);
  void read_memory_spaces(UnitSpaces& spaces);
  // The space of `unit`, which is the UUT or the QCU record.
  std::uint16_t space_of(const UnitSpaces& spaces, const driver::UnitRecord& unit) {
    return &unit == &uut() ? spaces.uut : spaces.qcu;
  }
  // Start word, L pattern words and stop word at `offset`.
  void write_frame(const driver::UnitRecord& unit, std::uint16_t space, std::uint32_t offset,
                   std::uint16_t start, std::uint16_t step, std::uint32_t length,
                   std::uint16_t stop_word);
  void fill(const driver::UnitRecord& unit, std::uint32_t offset, std::uint16_t space,
            std::uint16_t start, std::uint16_t step, std::uint32_t count);
  std::int16_t compare(const driver::UnitRecord& unit, std::uint32_t offset, std::uint16_t space,
                       std::uint16_t start, std::uint16_t step, std::uint32_t count,
                       driver::BufferMemory::CompareKind kind);
  void wait_ms(int interval_ms) { station_.driver.delay_ticks(1, interval_ms); }

  // The time-stamp check of the Stamp test; sets the stamp-failure flag.
  void check_time_stamps();

  driver::UnitRecord& uut() { return station_.units.uut; }
  driver::UnitRecord& qcu() { return station_.units.qcu; }

 private:
  // The report goes to the run facts and to the view alike.
  class Report final : public driver::ReportSink {
   public:
    Report(core::Station& station, BusTestView& view) : station_(station), view_(view) {}
    void set(const std::string& text);
    void append_report(const std::string& text) override;

   private:
    core::Station& station_;
    BusTestView& view_;
  };

  TestPlan wrap_plan(core::ProcedureKind test);
  TestPlan self_loop_plan(core::ProcedureKind test);
  TestPlan stamp_plan();
  void write_header(const TestPlan& plan);
  bool stop_requested() const { return state_.stop || station_.shutting_down; }

  core::Station& station_;
  BusTestView& view_;
  Report report_;
  driver::BufferMemory memory_;
  TestState state_;
  bool running_ = false;
};

}  // namespace procedures
