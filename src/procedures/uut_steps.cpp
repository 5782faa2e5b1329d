#include "procedures/uut_steps.h"

namespace procedures {

void UutSteps::report(visa::ViStatus status, std::string_view description, std::string& errors) {
  driver::QuorDriver& driver = station_.driver;
  driver.report_status(station_.units.uut, status, description);
  const std::string& last_error = station_.driver_state.last_error_text;
  if (last_error != driver::kNoError) {
    errors += last_error;
    station_.run.errors = errors;
    driver.show_step(errors);
  }
}

void UutSteps::command(std::string_view command, std::string_view description,
                       std::string& errors) {
  driver::UnitRecord& uut = station_.units.uut;
  std::string reply;
  const visa::ViStatus status = station_.driver.quor_cmd(uut.session, command, reply);
  uut.reply = driver::fixed_text(reply);
  report(status, description, errors);
}

}  // namespace procedures
