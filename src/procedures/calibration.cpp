#include "procedures/calibration.h"

#include <cmath>

#include "driver/number_text.h"

namespace procedures {
namespace {

constexpr std::int16_t kIdleMode = 0;
constexpr std::int16_t kTransmitStaticMode = 5;
// The CAL? reply's leading characters that hold the constant.
constexpr std::size_t kCalReplyDigits = 8;

std::string without_blanks_around(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::optional<float> cal_constant_of(std::string_view reply) {
  const auto value = driver::leading_number_if_any(reply.substr(0, kCalReplyDigits));
  if (!value || !std::isfinite(static_cast<float>(*value))) return std::nullopt;
  return static_cast<float>(*value);
}

OutputCalibration::OutputCalibration(core::Station& station, MainWindowView& view, UutSteps& steps)
    : station_(station), view_(view), steps_(steps) {}

void OutputCalibration::on_start_calibration() { view_.show_controls_for(MainStep::SettingUp); }

void OutputCalibration::on_cal_up() {
  calibration_.constant = static_cast<float>(static_cast<double>(calibration_.constant) + 0.1);
}

void OutputCalibration::on_cal_down() {
  calibration_.constant = static_cast<float>(static_cast<double>(calibration_.constant) - 0.1);
}

void OutputCalibration::on_cal_good() { calibration_.operator_reply = kReplyCalComplete; }

void OutputCalibration::calibrate_outputs() {
  driver::QuorDriver& driver = station_.driver;
  driver::UnitRecord& uut = station_.units.uut;
  const auto status_byte_caption = [&] { view_.show_status_byte(uut.reply); };
  const auto configure_mode = [&](std::int16_t mode, std::string_view description,
                                  std::string& list) {
    steps_.report(driver.quor_configure_mode(uut.session, mode), description, list);
  };

  view_.show_controls_for(MainStep::Adjusting);
  std::string errors;

  view_.show_instruction(production_text::kCalibrationInstruction);

  steps_.command("*STB?", "Querying the Status Byte on the Quor Bus", errors);
  view_.show_status_byte(without_blanks_around(uut.reply));
  steps_.command("ROUT:OPEN AMPL", "Disabling the Amplified Output", errors);
  steps_.command("ROUT:OPEN PROT", "Disabling the Protected input", errors);
  steps_.report(driver.quor_reset(uut.session), production_text::kResetStep, errors);
  steps_.command("*CLS", "Clearing the Status Register", errors);
  steps_.command("TRAC:DATA:CLR STAM", "Clearing Time Stamp data", errors);
  // From here on a Cal Complete click ends the adjustment.
  calibration_.operator_reply = kReplyWaiting;
  steps_.command("CAL?", "Querying CAL constants", errors);
  // A reply that holds no number (a failed query leaves the field blank) keeps the constant.
  if (const auto value = cal_constant_of(uut.reply)) {
    calibration_.constant = *value;
    station_.run.cal_constant_read = *value;
  }
  steps_.command("MODE IDLE", "Setting the device to Idle", errors);
  configure_mode(kIdleMode, "Configuring the output mode to Idle", errors);
  steps_.command("*STB?", "Querying the Status Byte.", errors);
  status_byte_caption();
  steps_.command("ROUT:OPEN OUT1", "Disabling Output 1", errors);
  steps_.command("ROUT:OPEN OUT2", "Disabling Output 2", errors);
  steps_.command("ROUT:OPEN OUT3", "Disabling Output 3", errors);
  steps_.command("ROUT:OPEN OUT4", "Disabling Output 4", errors);
  steps_.command("ROUT:OPEN AMPL", "Disabling the Amplified Output", errors);
  steps_.command("ROUT:CLOS OUT1", "Enabling Output 1", errors);

  for (;;) {
    if (calibration_.operator_reply != kReplyWaiting) {
      station_.run.outcome = core::Outcome::passed;
      finish_calibration();
      return;
    }
    const std::string constant_text = driver::basic_number_text(calibration_.constant);
    view_.show_cal_constant(constant_text);
    steps_.command("CAL 0" + constant_text, "Setting the Cal Constants", errors);
    // As the command wrote it, not the float's binary expansion.
    station_.run.cal_constant_sent = driver::leading_number(constant_text);
    steps_.command("VOLT 100", "Setting the output voltage level", errors);
    steps_.command("COMM:TRAN:STOP 04", "Setting the Transmit Stop command nibble", errors);
    steps_.command("TIM 00010", "Setting the Transmit Timer Interval", errors);
    steps_.command("*STB?", "Querying the Status Byte", errors);
    status_byte_caption();
    configure_mode(kTransmitStaticMode, "Configuring the output mode to Transmit Static", errors);
    steps_.command("*STB?", "Querying the Status Byte", errors);
    status_byte_caption();
    configure_mode(kIdleMode, "Configuring the output mode to Idle", errors);
    steps_.command("*STB?", "Querying the Status Byte", errors);
    status_byte_caption();
    configure_mode(kIdleMode, "Configuring the output mode to Idle", errors);
    steps_.command("*STB?", "Querying the Status Byte", errors);
    status_byte_caption();

    station_.pump.process_events();
    if (driver.abort_requested()) {
      station_.run.outcome =
          station_.shutting_down ? core::Outcome::interrupted : core::Outcome::aborted;
      return;
    }
  }
}

void OutputCalibration::finish_calibration() {
  view_.show_controls_for(MainStep::CalibrationFinished);
  view_.show_instruction("");
}

}  // namespace procedures
