// A unit's final test: a sequence of the station's procedures run one after another on one UUT
// (and its QCU), ordered so that the cabling changes as seldom as possible. The technician
// confirms each cabling once; the procedures' own "start" and "completed" boxes that follow are
// answered by the sequence. Each procedure runs exactly as from its window: the same VISA traffic,
// the same report, the same record. The sequence ends with one verdict for the unit.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/station.h"

namespace procedures {

class ProductionTests;

// --- The sequence ---

// The steps of a final test, in order.
struct Sequence {
  std::string name;  // "default", or the file it was read from
  std::vector<core::ProcedureKind> steps;

  bool operator==(const Sequence&) const = default;
};

// The self test and the memory test, then the bus tests grouped by their cabling.
Sequence default_sequence();

// The cabling a procedure needs, as its connection prompt words it; empty when it needs none.
std::string_view cabling_of(core::ProcedureKind kind);

// A sequence file that cannot be used: the first wrong line (1-based) and what is wrong with it.
struct SequenceError {
  int line = 0;
  std::string message;
};

// Reads a sequence file's text; `name` names the sequence (the file's name).
std::variant<Sequence, SequenceError> parse_sequence(std::string_view text, std::string name);

// --- Steps and verdict ---

enum class StepState { waiting, running, passed, failed, error, stopped };

struct StepResult {
  core::ProcedureKind kind = core::ProcedureKind::self_test;
  StepState state = StepState::waiting;
  std::chrono::milliseconds duration{0};
  // The step's run as it ended: outcome, counts, report, errors, figures.
  core::RunFacts facts;
  // What a failed or erroneous step found first: the first miscompare line, the first error, or
  // the procedure's verdict text. Empty for a step that passed.
  std::string finding;
};

enum class Verdict { pass, fail, error };

struct UnitVerdict {
  Verdict verdict = Verdict::error;
  // The step that decided a FAIL or an ERROR, and what it found.
  std::optional<std::size_t> step;
  std::string finding;
};

// How a step ends for the run's outcome: passed; failed (failed, or ended at its failure limit);
// stopped (STOP TEST); error for every other end (an error on the way, refused, interrupted,
// aborted, or none decided).
StepState step_state_of(std::optional<core::Outcome> outcome);

// What a step that did not pass found first: for a failed bus test the first line its report
// holds after the header (the first miscompare), for a failed production test its verdict; for
// a step that could not run as it should the first error it reported (`reported_errors`, the
// driver's list as the run ended), else how it ended. Empty for a step that passed.
std::string finding_of(core::ProcedureKind kind, StepState state, const core::RunFacts& facts,
                       std::span<const std::string> reported_errors);

// PASS only when there are steps and every one ran and passed. FAIL when a step failed: it ran
// as it should and found a fault, which decides even where another step could not run. ERROR
// otherwise: a step could not run as it should (error, stopped, never run). The first deciding
// step in order is named, with its finding.
UnitVerdict verdict_of(std::span<const StepResult> steps);
// "PASS", "FAIL", "ERROR".
std::string_view verdict_text(Verdict verdict);

// --- One unit's run ---

// Who tests which unit, as the technician entered it.
struct UnitUnderTest {
  std::string top_serial;
  std::string sub_serial;
  std::string technician;
  std::string uut_resource;  // the VISA resource names chosen
  std::string qcu_resource;
};

// The serial number field of an identity reply ("maker,model,serial,firmware"); none when the
// reply has no such field or gives "0" there.
std::optional<std::string> identity_serial(std::string_view identity);

struct FinalTestResult {
  UnitUnderTest unit;
  std::string uut_identity;  // the identity replies, as received
  std::string qcu_identity;
  Sequence sequence;
  std::vector<StepResult> steps;
  UnitVerdict verdict;
  std::chrono::system_clock::time_point started{};
  std::chrono::system_clock::time_point ended{};
  bool finished = false;  // false while it runs
};

// What a final test shows and asks while it runs; the Final Test window and the terminal
// implement it.
class FinalTestView {
 public:
  virtual ~FinalTestView() = default;
  // The serial entered differs from the one the UUT's identity reply gives; true goes on.
  virtual bool accept_serial_mismatch(const std::string& entered, const std::string& reported) = 0;
  // Asks for the cabling `prompt` describes before the steps that need it; false ends the
  // sequence there (the steps left stay waiting).
  virtual bool confirm_cabling(const std::string& prompt) = 0;
  virtual void step_changed(std::size_t index, const StepResult& step) = 0;
  // The running step's own progress (a bus test's passes).
  virtual void step_progress(std::size_t index, double value, double maximum) = 0;
  // The time the steps left are expected to take; none when no earlier run tells.
  virtual void time_left(std::optional<std::chrono::milliseconds> left) = 0;
};

// Told when a unit's final test starts and when it ends (the records: one unit result that
// links the runs of its steps). Each step's run is recorded as from its window, in between.
class FinalTestObserver {
 public:
  virtual ~FinalTestObserver() = default;
  virtual void unit_started(const FinalTestResult& result) = 0;
  virtual void unit_ended(const FinalTestResult& result) = 0;
};

// How long a procedure usually takes on this station; none when it has not run before.
using ExpectedDuration =
    std::function<std::optional<std::chrono::milliseconds>(core::ProcedureKind)>;

class FinalTestRunner {
 public:
  // `production` runs the main window's procedures (the window's own, or one on a terminal view).
  FinalTestRunner(core::Station& station, ProductionTests& production, FinalTestView& view);
  ~FinalTestRunner();
  FinalTestRunner(const FinalTestRunner&) = delete;
  FinalTestRunner& operator=(const FinalTestRunner&) = delete;

  void add_observer(FinalTestObserver& observer);
  void set_expected_duration(ExpectedDuration expected);

  // Initializes the UUT chosen (with Initialize All, the QCU too when a step uses it), checks
  // the serial, runs the steps; returns at the end. Units that do not open, or a serial
  // mismatch the view declines, end it as ERROR before any step.
  FinalTestResult run(const UnitUnderTest& unit, const Sequence& sequence);
  // STOP: the running step ends as STOP TEST ends it, and the sequence ends after it.
  void request_stop();
  bool running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace procedures
