// --final-test: a unit's final test without windows, for a fixture with fixed cabling and for
// testing the station itself on the simulated chassis. The cabling prompts are asked on the
// terminal (or confirmed by --yes), each step's line and the verdict are printed, and the exit
// status says the verdict. The runs are recorded as from the windows.
#pragma once

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

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

// The unit report as PDF (--report), which the program supplies: it is laid out with the GUI's
// fonts. Returns an empty text, or what went wrong. None: the option is refused.
struct FinalTestOutputs {
  std::function<std::string(const procedures::FinalTestResult&, const core::VisaInUse& visa,
                            const std::string& path)>
      report;
};

// The sequence --sequence FILE names (else the default one): a file that cannot be read or
// parsed gives the message to print instead, naming its line.
struct CommandSequence {
  std::optional<procedures::Sequence> sequence;
  std::string error;
};
CommandSequence chosen_sequence(const StationOptions& options);

// As chosen_sequence(), checked for the command without windows: a sequence with a step that
// needs the windows (the calibration) is refused too.
CommandSequence command_sequence(const StationOptions& options);

// What is wrong with the options for --final-test (a value missing); empty when nothing is.
std::string final_test_usage_error(const StationOptions& options);

// Runs the final test; `in` answers the cabling prompts, the lines go to `out`, the problems to
// `err`. Needs a QCoreApplication (the records). Returns the exit status.
int run_final_test(const StationOptions& options, const FinalTestOutputs& outputs, std::istream& in,
                   std::ostream& out, std::ostream& err);

}  // namespace station
