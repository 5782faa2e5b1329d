// What each wrap and self-loop test must do, one row a test, written here independently of the
// station's own tables: the commands with their step labels, the frames written, the areas
// cleared, the waits and feeds while the units run, the compares, the failure limit and the
// number of passes.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "procedures/bus_tests.h"
#include "sim/bench_config.h"

namespace procedures_suite {

inline constexpr std::uint32_t kPongAt = 0x100000;
inline constexpr std::uint16_t kStartMark = 0x0100;
inline constexpr std::uint16_t kStop14 = 0x0E00;
inline constexpr std::uint16_t kStop15 = 0x0F00;

enum class Unit { Uut, Qcu };

struct Step {
  Unit unit;
  std::string command;
  std::string label;
};

// A frame image: start word, `length` data words (start, start + step, ... modulo 256), stop word.
// In the self loops the data start grows with the pass number.
struct Image {
  std::uint32_t offset;
  std::uint16_t start;
  std::uint16_t step;
  std::uint32_t length;
  std::uint16_t stop;
};

struct Area {
  std::uint32_t offset;
  std::uint32_t words;
};

// A wait of `ticks` ticks at `interval_ms`, after which `feed` (if any) is written to the
// transmitter and the next buffer signalled.
struct Wait {
  int interval_ms;
  int ticks;
  std::optional<Image> feed;
};

struct Compare {
  std::uint32_t offset;
  std::uint16_t start;
  std::uint16_t step;
  std::uint32_t length;
  bool whole_word;
};

struct PassRow {
  const char* name;
  core::ProcedureKind test;
  const char* title;
  int passes;
  procedures::FailureLimit limit;
  Unit transmitter;
  Unit receiver;
  sim::Route input;  // the receiver's input
  sim::Mode transmit_mode;
  sim::Mode receive_mode;
  bool start_follows_pass;  // data patterns start at their start + pass number
  std::vector<Step> prepare;
  std::vector<Step> pass;
  std::vector<Image> frames;  // in the transmitter before it runs
  std::vector<Area> clears;   // in the receiver before it runs
  std::vector<Wait> waits;    // while the units run
  std::vector<Compare> compares;

  std::uint16_t start_in(std::uint16_t start, int pass_number) const {
    return static_cast<std::uint16_t>((start + (start_follows_pass ? pass_number : 0)) % 256);
  }
  // Yields of one pass: every tick of its waits, and the event run that follows the pass.
  std::uint64_t yields_per_pass() const {
    std::uint64_t yields = 1;
    for (const Wait& wait : waits) yields += static_cast<std::uint64_t>(wait.ticks);
    return yields;
  }
};

inline std::ostream& operator<<(std::ostream& out, const PassRow& row) { return out << row.name; }

namespace rows {

// Two units: the transmitter's outputs and timer, the receiver's input 1.
inline std::vector<Step> two_unit_prepare(Unit t) {
  const bool qcu_sends = t == Unit::Qcu;
  const Unit r = qcu_sends ? Unit::Uut : Unit::Qcu;
  const std::string name = qcu_sends ? "QCU" : "UUT";
  std::vector<Step> steps = {{Unit::Uut, "*RST", "Resetting the UUT"},
                             {Unit::Qcu, "*RST", "Resetting the QCU"}};
  for (int output = 1; output <= 4; ++output) {
    steps.push_back({t, "rout:clos out" + std::to_string(output),
                     "Enable " + name + " Output " + std::to_string(output)});
  }
  steps.push_back({t, "tim 10", "time 10 of " + name});
  steps.push_back({r, "rout:clos unpr", "Enable Quor Bus Input 1"});
  return steps;
}

// Comparators, receiver started before the transmitter and stopped before it. The receiver is
// "QC" when the QCU receives.
inline std::vector<Step> two_unit_pass(Unit t, const char* transmit, const char* receive) {
  const bool qcu_sends = t == Unit::Qcu;
  const Unit r = qcu_sends ? Unit::Uut : Unit::Qcu;
  const std::string tn = qcu_sends ? "QCU" : "UUT";
  const std::string rn = qcu_sends ? "UUT" : "QC";
  const std::string comparators = "Initialize the Start and Stop comparators of ";
  return {{r, "comm:rec:start  1", comparators + rn},
          {r, "comm:rec:stop  14", comparators + rn},
          {t, "comm:tran:stop  14", comparators + tn},
          {r, receive, "Start receiver running of " + rn},
          {r, "*opc", "Wait till we are in the mode of " + rn},
          {t, transmit, "Start transmitter running send the PING buffer of " + tn},
          {t, "*opc", "Wait till we are in the mode of " + tn},
          {r, "mode idle", "Stop the receiver of " + rn},
          {r, "*opc", "Wait till we are in the mode of " + rn},
          {t, "mode idle", "Stop the transmitter of " + tn},
          {t, "*opc", "Wait till we are in the mode of " + tn}};
}

inline std::vector<Step> self_prepare(const char* input, const char* input_label) {
  std::vector<Step> steps = {{Unit::Uut, "*RST", "Resetting the UUT"}};
  const char* routes[] = {"out1", "out2", "out3", "out4", "ampl"};
  for (int i = 0; i < 5; ++i) {
    steps.push_back({Unit::Uut, std::string("rout:clos ") + routes[i],
                     "Enable Quor Bus Output " + std::to_string(i + 1)});
  }
  steps.push_back({Unit::Uut, input, input_label});
  return steps;
}

inline std::vector<Step> self_pass(bool clear_by_command) {
  const std::string comparators = "Initialize the Start and Stop comparators";
  std::vector<Step> steps;
  if (clear_by_command) {
    steps = {{Unit::Uut, "trac:data:clr Pong", "Fill PONG RAM with Zeros"},
             {Unit::Uut, "*opc", "Wait till we are done"}};
  }
  const std::vector<Step> run = {{Unit::Uut, "comm:rec:start  1", comparators},
                                 {Unit::Uut, "comm:rec:stop  15", comparators},
                                 {Unit::Uut, "comm:tran:stop  15", comparators},
                                 {Unit::Uut, "mode self", "Start things running"},
                                 {Unit::Uut, "*opc", "Wait till we are in the mode"},
                                 {Unit::Uut, "mode idle", "Stop the run"},
                                 {Unit::Uut, "*opc", "Wait till we are back in IDLE"}};
  steps.insert(steps.end(), run.begin(), run.end());
  return steps;
}

}  // namespace rows

inline const std::vector<PassRow>& pass_rows() {
  using core::ProcedureKind;
  using procedures::FailureLimit;
  using sim::Mode;
  using sim::Route;
  using namespace rows;
  constexpr std::uint32_t L = 1024;
  constexpr std::uint32_t kLong = 524280;
  // clang-format off
  static const std::vector<PassRow> all = {
      {"Rec", core::ProcedureKind::rec, "Quor Bus--Rec Test", 50, FailureLimit::None,
       Unit::Qcu, Unit::Uut, Route::Unpr, Mode::Trnd, Mode::Rec, false,
       two_unit_prepare(Unit::Qcu), two_unit_pass(Unit::Qcu, "mode trnd", "mode rec"),
       {{0, 1, 1, L, kStop14}},
       {{0, L + 2}, {kPongAt, L + 2}},
       {{100, 1, Image{kPongAt, 3, 3, L, kStop14}}, {100, 1, Image{0, 4, 3, L, kStop14}},
        {100, 1, std::nullopt}},
       {{2, 4, 3, L, false}, {kPongAt + 2, 3, 3, L, false}}},
      {"RecM", core::ProcedureKind::recm, "Quor Bus--Recm", 50, FailureLimit::None,
       Unit::Qcu, Unit::Uut, Route::Unpr, Mode::Trnd, Mode::Recm, false,
       two_unit_prepare(Unit::Qcu), two_unit_pass(Unit::Qcu, "mode trnd", "mode recm"),
       {{0, 1, 1, L, kStop14}},
       {{0, 3 * (L + 2)}},
       {{10, 1, Image{kPongAt, 3, 3, L, kStop14}}, {100, 1, Image{0, 4, 4, L, kStop14}},
        {100, 1, std::nullopt}},
       {{2, 1, 1, L, false}, {0x806, 3, 3, L, false}, {0x100A, 4, 4, L, false}}},
      {"Trnsrecm", core::ProcedureKind::trnsrecm, "Quor Bus--Trnsrecm Test", 50, FailureLimit::AfterDisplay,
       Unit::Uut, Unit::Qcu, Route::Unpr, Mode::Trns, Mode::Recm, false,
       two_unit_prepare(Unit::Uut), two_unit_pass(Unit::Uut, "mode trns", "mode recm"),
       {{0, 1, 1, L, kStop14}, {kPongAt, 3, 3, L, kStop14}},
       {{0, 3 * (L + 2)}},
       {{500, 1, std::nullopt}},
       {{2, 1, 1, L, false}, {0x806, 3, 3, L, false}, {0x100A, 3, 3, L, false}}},
      {"Trnorecm", core::ProcedureKind::trnorecm, "Quor Bus--Trnorecm Test", 50, FailureLimit::AfterDisplay,
       Unit::Uut, Unit::Qcu, Route::Unpr, Mode::Trno, Mode::Recm, false,
       two_unit_prepare(Unit::Uut), two_unit_pass(Unit::Uut, "mode trno", "mode recm"),
       {{0, 1, 1, L, kStop14}, {kPongAt, 3, 3, L, kStop14}},
       {{0, 3 * (L + 2)}},
       {{50, 1, std::nullopt}},
       {{2, 1, 1, L, false}, {0x804, 0, 0, L, false}, {0x1006, 0, 0, L, false}}},
      {"Trndrecm", core::ProcedureKind::trndrecm, "Quor Bus--Trndrecm Test", 50, FailureLimit::AfterDisplay,
       Unit::Uut, Unit::Qcu, Route::Unpr, Mode::Trnd, Mode::Recm, false,
       two_unit_prepare(Unit::Uut), two_unit_pass(Unit::Uut, "mode trnd", "mode recm"),
       {{0, 1, 1, 16, kStop14}},
       {{0, 66}},
       {{100, 1, Image{kPongAt, 3, 3, 16, kStop14}}, {100, 1, Image{0, 4, 3, 16, kStop14}},
        {100, 1, std::nullopt}},
       {{2, 1, 1, 16, false}, {0x26, 3, 3, 16, false}, {0x4A, 4, 3, 16, false}}},
      // Two chained frames in PING, one in PONG.
      {"Trncrecm", core::ProcedureKind::trncrecm, "Quor Bus--Trncrecm Test", 50, FailureLimit::BeforeDisplay,
       Unit::Uut, Unit::Qcu, Route::Unpr, Mode::Trnc, Mode::Recm, false,
       two_unit_prepare(Unit::Uut), two_unit_pass(Unit::Uut, "mode trnc", "mode recm"),
       {{0, 1, 1, L, kStop14}, {0x804, 2, 2, L, kStop14}, {kPongAt, 3, 3, L, kStop14}},
       {{0, 4 * (L + 2)}},
       {{500, 1, std::nullopt}},
       {{2, 1, 1, L, false}, {0x806, 2, 2, L, false}, {0x100A, 3, 3, L, false}}},
      // The self loops: PING is the host's own frame (whole words), PONG the received copy.
      {"SelfLoop", core::ProcedureKind::self_loop, "Quor Bus--SelfLoop Test", 250, FailureLimit::AfterDisplay,
       Unit::Uut, Unit::Uut, Route::Unpr, Mode::Self, Mode::Self, true,
       self_prepare("rout:clos unpr", "Enable Quor Bus Input 2"), self_pass(false),
       {{0, 0, 1, L, kStop15}},
       {{kPongAt, L + 2}},
       {},
       {{2, 0, 1, L, true}, {kPongAt + 2, 0, 1, L, false}}},
      {"SelfLoop2", core::ProcedureKind::self_loop2, "Quor Bus--SelfLoop2 Test", 250, FailureLimit::AfterDisplay,
       Unit::Uut, Unit::Uut, Route::Prot, Mode::Self, Mode::Self, true,
       self_prepare("rout:clos PROT", "Enable Quor Bus Input 1"), self_pass(false),
       {{0, 0, 1, L, kStop15}},
       {{kPongAt, L + 2}},
       {},
       {{2, 0, 1, L, true}, {kPongAt + 2, 0, 1, L, false}}},
      // PONG cleared by command; the unit dwells eight seconds in self mode.
      {"SelfLong", core::ProcedureKind::self_long, "Quor Bus--SelfLong Test", 5, FailureLimit::AfterDisplay,
       Unit::Uut, Unit::Uut, Route::Unpr, Mode::Self, Mode::Self, true,
       self_prepare("rout:clos unpr", "Enable Quor Bus Input 2"), self_pass(true),
       {{0, 0, 1, kLong, kStop15}},
       {},
       {{1000, 8, std::nullopt}},
       {{2, 0, 1, kLong, true}, {kPongAt + 2, 0, 1, kLong, false}}},
  };
  // clang-format on
  return all;
}

}  // namespace procedures_suite
