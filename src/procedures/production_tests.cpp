#include "procedures/production_tests.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "driver/number_text.h"

namespace procedures {

using visa::ViStatus;

namespace {

// The module's self-test result. A query that brought no reply, or a reply that holds no number
// (empty, NUL bytes, no digits), has no result to pass on, and a result too large for the record
// still is not 0: none of them may read as a pass. A reply that was read is the result even when
// a later step of the query (the status byte) reports an error.
std::int16_t self_test_result_of(const std::string& reply, visa::ViStatus status) {
  if (status < visa::VI_SUCCESS && reply.empty()) return kNoSelfTestResult;
  if (!driver::leading_number_if_any(reply)) return kNoSelfTestResult;
  const double value = driver::leading_number(reply);
  if (value > 32767.0) return 32767;
  if (value < -32768.0) return -32768;
  return driver::leading_int16(reply);
}

// A different pattern on every run: the generator is seeded from the clock (and the system's
// entropy source, where it has one).
std::mt19937 seeded_generator() {
  const auto now = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::random_device entropy;
  std::seed_seq seed{static_cast<std::uint32_t>(now), static_cast<std::uint32_t>(now >> 32),
                     entropy()};
  return std::mt19937(seed);
}

}  // namespace

ProductionTests::ProductionTests(core::Station& station, MainWindowView& view)
    : station_(station),
      view_(view),
      steps_(station),
      memory_(station.visa, station.driver_state),
      calibration_(station, view, steps_) {}

void ProductionTests::show_verdict(const std::string& verdict) {
  station_.run.verdict = verdict;
  view_.show_instruction(verdict);
}

void ProductionTests::on_test_button(int index) {
  // The amplitude instruction only shows a text; the others talk to the UUT, one at a time.
  const auto on_units = [this](core::ProcedureKind kind, auto procedure) {
    const core::ProcedureScope units(station_, core::procedure(kind));
    if (units.claimed()) procedure();
  };
  switch (index) {
    case 0:
      on_units(core::ProcedureKind::output_calibration,
               [this] { calibration_.calibrate_outputs(); });
      break;
    case 1:
      output_amplitude_test();
      break;
    case 2:
      on_units(core::ProcedureKind::memory_test, [this] { memory_test(); });
      break;
    case 3:
      on_units(core::ProcedureKind::self_test, [this] { self_test(); });
      break;
    default:
      break;
  }
  // Lets the clicks made meanwhile run; whether an abort was asked does not matter here.
  static_cast<void>(station_.driver.abort_requested());
}

// --- Output amplitude, self test, memory test ---

void ProductionTests::output_amplitude_test() {
  station_.person.message(production_text::kAmplitudeInstruction);
}

void ProductionTests::self_test() {
  driver::QuorDriver& driver = station_.driver;
  driver::UnitRecord& uut = station_.units.uut;
  std::string errors;

  view_.show_controls_for(MainStep::ProductionTest);
  view_.show_instruction(production_text::kSelfTestInstruction);
  station_.person.message(production_text::kPressOk);
  view_.show_instruction(production_text::kSelfTestStart);

  steps_.report(driver.quor_reset(uut.session), production_text::kResetStep, errors);

  std::string reply;
  const ViStatus status = driver.quor_cmd(uut.session, "*TST?", reply);
  station_.driver_state.last_visa_status = status;
  uut.self_test_result = self_test_result_of(reply, status);
  if (status != visa::VI_SUCCESS) station_.person.message(production_text::kSelfTestVisaError);

  station_.run.self_test_result = uut.self_test_result;
  station_.run.outcome = uut.self_test_result == 0 ? core::Outcome::passed : core::Outcome::failed;
  show_verdict(uut.self_test_result != 0
                   ? production_text::kSelfTestFailure + std::to_string(uut.self_test_result)
                   : std::string(production_text::kSelfTestPassed));
}

std::uint32_t ProductionTests::memory_half(std::uint32_t byte_offset,
                                           const std::vector<std::uint16_t>& pattern,
                                           std::vector<std::uint16_t>& read_back,
                                           std::string& errors) {
  const visa::ViSession session = station_.units.uut.session;
  steps_.report(memory_.block_write_words(session, byte_offset, pattern.data(), kMemoryTestWords),
                production_text::kWriteRamStep, errors);
  // Words a failed read does not bring back must not pass for the pattern.
  std::transform(pattern.begin(), pattern.end(), read_back.begin(),
                 [](std::uint16_t word) { return static_cast<std::uint16_t>(~word); });
  steps_.report(memory_.block_read_words(session, byte_offset, read_back.data(), kMemoryTestWords),
                production_text::kReadRamStep, errors);
  std::uint32_t miscompares = 0;
  for (std::uint32_t i = 0; i < kMemoryTestWords; ++i) {
    if (read_back[i] != pattern[i]) ++miscompares;
  }
  return miscompares;
}

void ProductionTests::memory_test() {
  std::string errors;
  view_.show_controls_for(MainStep::ProductionTest);
  view_.show_instruction("");

  steps_.report(station_.driver.quor_reset(station_.units.uut.session), production_text::kResetStep,
                errors);

  std::vector<std::uint16_t> pattern(kMemoryTestWords);
  std::vector<std::uint16_t> read_back(kMemoryTestWords);
  std::mt19937 generator = seeded_generator();
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  for (std::uint16_t& word : pattern) {
    // Integer part of r * 32768 for r in [0, 1); the clamp keeps a rounding of r to 1 out.
    word = static_cast<std::uint16_t>(std::min(32767.0, std::floor(uniform(generator) * 32768.0)));
  }

  std::uint32_t miscompares = 0;
  for (int phase = 0; phase < 3; ++phase) {
    if (phase == 1) std::fill(pattern.begin(), pattern.end(), std::uint16_t{0xFFFF});
    if (phase == 2) std::fill(pattern.begin(), pattern.end(), std::uint16_t{0x0000});
    miscompares += memory_half(driver::kPingOffset, pattern, read_back, errors);
    miscompares += memory_half(driver::kPongOffset, pattern, read_back, errors);
  }

  station_.run.memory_miscompares = miscompares;
  station_.run.outcome = miscompares == 0 ? core::Outcome::passed : core::Outcome::failed;
  show_verdict(miscompares == 0 ? production_text::kMemoryTestPassed
                                : production_text::kMemoryTestFailed);
}

}  // namespace procedures
