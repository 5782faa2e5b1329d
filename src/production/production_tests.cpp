#include "production/production_tests.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "driver/number_text.h"

namespace production {

using visa::ViStatus;

namespace {

// The module's self-test result. A query that brought no reply has no result to pass on, and a
// result too large for the record still is not 0: neither may read as a pass. A reply that was
// read is the result even when a later step of the query (the status byte) reports an error.
std::int16_t self_test_result_of(const std::string& reply, visa::ViStatus status) {
  if (status < visa::VI_SUCCESS && reply.empty()) return kNoSelfTestResult;
  const double value = driver::leading_number(reply);
  if (value > 32767.0) return 32767;
  if (value < -32768.0) return -32768;
  return driver::leading_int16(reply);
}

constexpr std::int16_t kIdleMode = 0;
constexpr std::int16_t kTransmitStaticMode = 5;
// The CAL? reply's leading characters that hold the constant.
constexpr std::size_t kCalReplyDigits = 8;

QString text_of(const std::string& text) { return QString::fromStdString(text); }

std::string without_blanks_around(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
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

ProductionTests::ProductionTests(core::Station& station, app::DisplayForm& form)
    : station_(station), form_(form), memory_(station.visa, station.driver_state) {}

app::DisplayForm::Handlers ProductionTests::handlers() {
  app::DisplayForm::Handlers h;
  h.test_button = [this](int index) { on_test_button(index); };
  h.start_calibration = [this] { on_start_calibration(); };
  h.cal_up = [this] { on_cal_up(); };
  h.cal_down = [this] { on_cal_down(); };
  h.cal_good = [this] { on_cal_good(); };
  return h;
}

void ProductionTests::on_test_button(int index) {
  // The amplitude instruction only shows a text; the others talk to the UUT, one at a time.
  const auto on_units = [this](const char* name, const char* how_to_end, void (ProductionTests::*
                                                                              procedure)()) {
    const core::ProcedureScope units(station_, {name, how_to_end});
    if (units.claimed()) (this->*procedure)();
  };
  switch (index) {
    case 0:
      on_units("Calibrate Outputs", production_text::kEndCalibration,
               &ProductionTests::calibrate_outputs);
      break;
    case 1:
      output_amplitude_test();
      break;
    case 2:
      on_units("Memory Test", production_text::kLetItFinish, &ProductionTests::memory_test);
      break;
    case 3:
      on_units("Self Test", production_text::kLetItFinish, &ProductionTests::self_test);
      break;
    default:
      break;
  }
  // Lets the clicks made meanwhile run; whether an abort was asked does not matter here.
  static_cast<void>(station_.driver.abort_requested());
}

void ProductionTests::report_step(ViStatus status, std::string_view description,
                                  std::string& errors) {
  driver::QuorDriver& driver = station_.driver;
  driver.report_status(station_.units.uut, status, description);
  const std::string& last_error = station_.driver_state.last_error_text;
  if (last_error != driver::kNoError) {
    errors += last_error;
    driver.show_step(errors);
  }
}

void ProductionTests::uut_command(std::string_view command, std::string_view description,
                                  std::string& errors) {
  driver::UnitRecord& uut = station_.units.uut;
  std::string reply;
  const ViStatus status = station_.driver.quor_cmd(uut.session, command, reply);
  uut.reply = driver::fixed_text(reply);
  report_step(status, description, errors);
}

// --- Output amplitude, self test, memory test ---

void ProductionTests::output_amplitude_test() {
  station_.person.message(production_text::kAmplitudeInstruction);
}

void ProductionTests::self_test() {
  driver::QuorDriver& driver = station_.driver;
  driver::UnitRecord& uut = station_.units.uut;
  std::string errors;

  form_.show_controls_for(app::DisplayForm::Step::ProductionTest);
  form_.InstructionLabel->setText(production_text::kSelfTestInstruction);
  station_.person.message(production_text::kPressOk);
  form_.InstructionLabel->setText(production_text::kSelfTestStart);

  report_step(driver.quor_reset(uut.session), production_text::kResetStep, errors);

  std::string reply;
  const ViStatus status = driver.quor_cmd(uut.session, "*TST?", reply);
  station_.driver_state.last_visa_status = status;
  uut.self_test_result = self_test_result_of(reply, status);
  if (status != visa::VI_SUCCESS) station_.person.message(production_text::kSelfTestVisaError);

  if (uut.self_test_result != 0) {
    form_.InstructionLabel->setText(text_of(production_text::kSelfTestFailure +
                                            std::to_string(uut.self_test_result)));
  } else {
    form_.InstructionLabel->setText(production_text::kSelfTestPassed);
  }
}

std::uint32_t ProductionTests::memory_half(std::uint32_t byte_offset,
                                           const std::vector<std::uint16_t>& pattern,
                                           std::vector<std::uint16_t>& read_back,
                                           std::string& errors) {
  const visa::ViSession session = station_.units.uut.session;
  report_step(memory_.block_write_words(session, byte_offset, pattern.data(), kMemoryTestWords),
              production_text::kWriteRamStep, errors);
  // Words a failed read does not bring back must not pass for the pattern.
  std::transform(pattern.begin(), pattern.end(), read_back.begin(),
                 [](std::uint16_t word) { return static_cast<std::uint16_t>(~word); });
  report_step(memory_.block_read_words(session, byte_offset, read_back.data(), kMemoryTestWords),
              production_text::kReadRamStep, errors);
  std::uint32_t miscompares = 0;
  for (std::uint32_t i = 0; i < kMemoryTestWords; ++i) {
    if (read_back[i] != pattern[i]) ++miscompares;
  }
  return miscompares;
}

void ProductionTests::memory_test() {
  std::string errors;
  form_.show_controls_for(app::DisplayForm::Step::ProductionTest);
  form_.InstructionLabel->setText("");

  report_step(station_.driver.quor_reset(station_.units.uut.session), production_text::kResetStep,
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

  form_.InstructionLabel->setText(miscompares == 0 ? production_text::kMemoryTestPassed
                                                   : production_text::kMemoryTestFailed);
}

// --- Output calibration ---

void ProductionTests::on_start_calibration() {
  form_.show_controls_for(app::DisplayForm::Step::SettingUp);
}

void ProductionTests::on_cal_up() {
  calibration_.constant = static_cast<float>(static_cast<double>(calibration_.constant) + 0.1);
}

void ProductionTests::on_cal_down() {
  calibration_.constant = static_cast<float>(static_cast<double>(calibration_.constant) - 0.1);
}

void ProductionTests::on_cal_good() { calibration_.operator_reply = kReplyCalComplete; }

void ProductionTests::calibrate_outputs() {
  driver::QuorDriver& driver = station_.driver;
  driver::UnitRecord& uut = station_.units.uut;
  const auto status_byte_caption = [&] { form_.StatusByte->setText(text_of(uut.reply)); };
  const auto configure_mode = [&](std::int16_t mode, std::string_view description,
                                  std::string& list) {
    report_step(driver.quor_configure_mode(uut.session, mode), description, list);
  };

  form_.show_controls_for(app::DisplayForm::Step::Adjusting);
  std::string errors;

  form_.InstructionLabel->setText(production_text::kCalibrationInstruction);

  uut_command("*STB?", "Querying the Status Byte on the Quor Bus", errors);
  form_.StatusByte->setText(text_of(without_blanks_around(uut.reply)));
  uut_command("ROUT:OPEN AMPL", "Disabling the Amplified Output", errors);
  uut_command("ROUT:OPEN PROT", "Disabling the Protected input", errors);
  report_step(driver.quor_reset(uut.session), production_text::kResetStep, errors);
  uut_command("*CLS", "Clearing the Status Register", errors);
  uut_command("TRAC:DATA:CLR STAM", "Clearing Time Stamp data", errors);
  // From here on a Cal Complete click ends the adjustment.
  calibration_.operator_reply = kReplyWaiting;
  uut_command("CAL?", "Querying CAL constants", errors);
  // A reply that holds no number (a failed query leaves the field blank) keeps the constant.
  if (const auto value = driver::leading_number_if_any(uut.reply.substr(0, kCalReplyDigits));
      value && std::isfinite(static_cast<float>(*value))) {
    calibration_.constant = static_cast<float>(*value);
  }
  uut_command("MODE IDLE", "Setting the device to Idle", errors);
  configure_mode(kIdleMode, "Configuring the output mode to Idle", errors);
  uut_command("*STB?", "Querying the Status Byte.", errors);
  status_byte_caption();
  uut_command("ROUT:OPEN OUT1", "Disabling Output 1", errors);
  uut_command("ROUT:OPEN OUT2", "Disabling Output 2", errors);
  uut_command("ROUT:OPEN OUT3", "Disabling Output 3", errors);
  uut_command("ROUT:OPEN OUT4", "Disabling Output 4", errors);
  uut_command("ROUT:OPEN AMPL", "Disabling the Amplified Output", errors);
  uut_command("ROUT:CLOS OUT1", "Enabling Output 1", errors);

  for (;;) {
    if (calibration_.operator_reply != kReplyWaiting) {
      finish_calibration();
      return;
    }
    const std::string constant_text = driver::basic_number_text(calibration_.constant);
    form_.CalConstant->setText(text_of(constant_text));
    uut_command("CAL 0" + constant_text, "Setting the Cal Constants", errors);
    uut_command("VOLT 100", "Setting the output voltage level", errors);
    uut_command("COMM:TRAN:STOP 04", "Setting the Transmit Stop command nibble", errors);
    uut_command("TIM 00010", "Setting the Transmit Timer Interval", errors);
    uut_command("*STB?", "Querying the Status Byte", errors);
    status_byte_caption();
    configure_mode(kTransmitStaticMode, "Configuring the output mode to Transmit Static", errors);
    uut_command("*STB?", "Querying the Status Byte", errors);
    status_byte_caption();
    configure_mode(kIdleMode, "Configuring the output mode to Idle", errors);
    uut_command("*STB?", "Querying the Status Byte", errors);
    status_byte_caption();
    configure_mode(kIdleMode, "Configuring the output mode to Idle", errors);
    uut_command("*STB?", "Querying the Status Byte", errors);
    status_byte_caption();

    station_.pump.process_events();
    if (driver.abort_requested()) return;
  }
}

void ProductionTests::finish_calibration() {
  form_.show_controls_for(app::DisplayForm::Step::CalibrationFinished);
  form_.InstructionLabel->setText("");
}

}  // namespace production
