// --final-test: a unit's final test without windows, for a fixture with fixed cabling and for
// testing the station itself on the simulated chassis. The cabling prompts are asked on the
// terminal (or confirmed by --yes), each step's line and the verdict are printed, and the exit
// status says the verdict. The runs are recorded as from the windows.
#pragma once

#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/station.h"
#include "procedures/final_test.h"
#include "records/run_writes.h"
#include "station/command_line.h"
#include "station/run_recorder.h"

namespace station {

// Exit statuses of --final-test: PASS 0, FAIL 1, ERROR 3; a wrong command line or sequence file
// kUsageStatus, before any unit is touched.
inline constexpr int kFinalTestPass = 0;
inline constexpr int kFinalTestFail = 1;
inline constexpr int kFinalTestError = 3;

int final_test_status(procedures::Verdict verdict);

// What the command writes besides its lines, supplied by the program: the unit report as PDF
// (--report) and the unit result as JUnit (--junit). Each returns an empty text, or what went
// wrong. One left empty is an option this program does not offer yet.
struct FinalTestOutputs {
  std::function<std::string(const procedures::FinalTestResult&, const std::string& path)> report;
  std::function<std::string(const procedures::FinalTestResult&, const std::string& path)> junit;
  // What the records add to a unit's test (the unit result its steps' runs link to), made over
  // the station, the writes and the run recorder the command records the steps with, and told
  // when the test starts and ends. None: the steps' runs are recorded, without a unit result.
  std::function<std::vector<std::unique_ptr<procedures::FinalTestObserver>>(
      core::Station&, records::RunWrites&, RunRecorder&)>
      unit_observers;
};

// The sequence --sequence FILE names (else the default one), checked for the command: a file
// that cannot be read or parsed, or a sequence with a step that needs the windows (the
// calibration), gives the message to print instead.
struct CommandSequence {
  std::optional<procedures::Sequence> sequence;
  std::string error;
};
CommandSequence command_sequence(const StationOptions& options);

// What is wrong with the options for --final-test (a value missing); empty when nothing is.
std::string final_test_usage_error(const StationOptions& options);

// Runs the final test; `in` answers the cabling prompts, the lines go to `out`, the problems to
// `err`. Needs a QCoreApplication (the records). Returns the exit status.
int run_final_test(const StationOptions& options, const FinalTestOutputs& outputs, std::istream& in,
                   std::ostream& out, std::ostream& err);

}  // namespace station
