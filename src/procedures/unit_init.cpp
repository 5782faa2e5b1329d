#include "procedures/unit_init.h"

#include <algorithm>
#include <string>
#include <vector>

#include "driver/number_text.h"
#include "driver/quor_codes.h"
#include "procedures/unit_init_catalogue.h"

namespace procedures {
namespace {

// Interface kind names, indexed by the GPIB-VXI flag of the found-module table.
constexpr const char* kInterfaceKinds[] = {"VXI", "GPIB-VXI"};

}  // namespace

UnitInitialization::UnitInitialization(core::Station& station, MainWindowView& main_view,
                                       SelectionView& selection)
    : station_(station), main_view_(main_view), selection_(selection) {}

bool UnitInitialization::refuse_if_busy(const core::Procedure& procedure) {
  if (!station_.units.selection_in_progress) return false;
  core::tell_refused(station_, procedure);
  station_.person.message(init_text::kSelectionBusy);
  return true;
}

void UnitInitialization::initialize_uut() {
  const core::Procedure procedure = core::procedure(core::ProcedureKind::initialize_uut);
  if (refuse_if_busy(procedure)) return;
  const core::ProcedureScope units(station_, procedure);
  if (units.claimed()) station_.run.outcome = run_uut_initialization();
}

void UnitInitialization::initialize_qcu() {
  const core::Procedure procedure = core::procedure(core::ProcedureKind::initialize_qcu);
  if (refuse_if_busy(procedure)) return;
  const core::ProcedureScope units(station_, procedure);
  if (units.claimed()) station_.run.outcome = run_qcu_initialization();
}

void UnitInitialization::initialize_all() {
  const core::Procedure procedure = core::procedure(core::ProcedureKind::initialize_all);
  if (refuse_if_busy(procedure)) return;
  const core::ProcedureScope units(station_, procedure);
  if (!units.claimed()) return;
  station_.run.outcome = run_uut_initialization();
  if (station_.shutting_down) return;
  const core::Outcome qcu = run_qcu_initialization();
  if (station_.run.outcome == core::Outcome::passed) station_.run.outcome = qcu;
}

core::Outcome UnitInitialization::outcome_of(Selection selection,
                                             const driver::UnitRecord& unit) const {
  if (station_.shutting_down) return core::Outcome::interrupted;
  if (selection == Selection::Cancelled) return core::Outcome::aborted;
  if (selection == Selection::NoneFound || unit.session == 0) return core::Outcome::failed;
  return station_.driver_state.reported_errors.empty() ? core::Outcome::passed
                                                       : core::Outcome::failed;
}

core::Outcome UnitInitialization::run_uut_initialization() {
  station_.driver_state.abort_flag = false;

  main_view_.show_controls_for(MainStep::UnitInitialized);

  driver::UnitRecord& uut = station_.units.uut;
  const visa::ViSession previous = uut.session;
  uut.model_code = driver::kQuorModelCode;
  const Selection selection = select_unit(uut);
  if (selection == Selection::Cancelled) return outcome_of(selection, uut);
  if (selection == Selection::NoneFound) {
    station_.person.message(init_text::kNoneInstalled, init_text::kNoneInstalledTitle);
    return outcome_of(selection, uut);
  }
  release_replaced_session(previous, uut, station_.units.qcu);

  configure_session(uut, init_text::kUutTimeoutStep, init_text::kUutSpaceStep);

  driver::QuorDriver& driver = station_.driver;
  std::string reply;
  const visa::ViStatus status = driver.quor_cmd(uut.session, "*IDN?", reply);
  uut.reply = driver::fixed_text(reply);
  station_.units.uut_identity = reply;
  driver.report_status(uut, status, init_text::kUutIdStep);

  // A failed open has already been reported by the initializer; claim no success for it.
  if (uut.session != 0) station_.person.message(init_text::kUutComplete);
  return outcome_of(selection, uut);
}

core::Outcome UnitInitialization::run_qcu_initialization() {
  station_.driver_state.abort_flag = false;

  driver::UnitRecord& qcu = station_.units.qcu;
  const visa::ViSession previous = qcu.session;
  qcu.model_code = driver::kQuorModelCode;
  const Selection selection = select_unit(qcu);
  if (selection == Selection::Cancelled) return outcome_of(selection, qcu);
  if (selection == Selection::NoneFound) {
    station_.person.message(init_text::kNoneInstalled, init_text::kNoneInstalledTitle);
    return outcome_of(selection, qcu);
  }
  release_replaced_session(previous, qcu, station_.units.uut);

  configure_session(qcu, init_text::kQcuTimeoutStep, init_text::kQcuSpaceStep);
  if (qcu.session != 0) station_.person.message(init_text::kQcuComplete);
  return outcome_of(selection, qcu);
}

void UnitInitialization::configure_session(driver::UnitRecord& unit, const char* timeout_step,
                                           const char* space_step) {
  driver::QuorDriver& driver = station_.driver;
  unit.timeout_ms = kUnitTimeoutMs;
  visa::ViStatus status =
      station_.visa.viSetAttribute(unit.session, visa::VI_ATTR_TMO_VALUE, kUnitTimeoutMs);
  driver.report_status(unit, status, timeout_step);

  visa::ViAttrState space = 0;
  status = station_.visa.viGetAttribute(unit.session, visa::VI_ATTR_MEM_SPACE, &space);
  unit.address_space = static_cast<std::uint16_t>(space);
  driver.report_status(unit, status, space_step);
}

Selection UnitInitialization::select_unit(driver::UnitRecord& record) {
  core::UnitState& units = station_.units;
  const visa::ViSession original = record.session;
  units.current = record;
  units.selection_done = false;
  units.selection_cancelled = false;
  units.selection_in_progress = true;

  Selection result = Selection::Selected;
  if (!find_units()) {
    units.selection_done = true;
    result = Selection::NoneFound;
  }
  // The windows stay usable while the technician chooses.
  while (!units.selection_done && !station_.shutting_down) station_.pump.wait_for_events();

  if (result == Selection::Selected && (units.selection_cancelled || station_.shutting_down)) {
    result = Selection::Cancelled;
    // A module opened just as the station began to shut down is closed again; the record's
    // own session is left to the shut-down, which may already have closed it.
    if (units.current.session != original) station_.driver.quor_close(units.current.session);
    units.current.session = record.session;
  }
  record = units.current;
  unload_selection();
  units.selection_in_progress = false;
  return result;
}

bool UnitInitialization::find_units() {
  const driver::UnitRecord& current = station_.units.current;
  const CatalogueRow* row = find_catalogue_row(current.model_code);
  if (row == nullptr) {
    station_.person.message(
        std::string(init_text::kDriverNotFound) + "\n" + init_text::kModelCodeLine +
        driver::basic_number_text(static_cast<std::int16_t>(current.model_code)));
    return false;
  }
  selection_.open_selection(row->dialog_caption);
  selection_open_ = true;
  answered_ = false;
  if (!row->finder(station_)) {
    station_.person.message(row->none_found_text);
    return false;
  }
  const core::FoundModules& found = station_.units.found;
  const int count = std::min<int>(found.count, static_cast<int>(core::kFoundModuleCapacity));
  std::vector<std::string> resources;
  for (int i = 0; i < count; ++i) {
    const auto index = static_cast<std::size_t>(i);
    resources.push_back(std::string(kInterfaceKinds[found.gpib_vxi != 0 ? 1 : 0]) +
                        std::to_string(found.interface_number[index]) +
                        "::" + std::to_string(found.logical_address[index]) + "::INSTR");
  }
  // Nothing is chosen until the technician picks an entry.
  selection_.show_modules(resources);
  return true;
}

void UnitInitialization::module_chosen(const ModuleChoice& choice) {
  if (!selection_open_ || answered_) return;
  if (choice.resource.empty()) {
    station_.person.message(initialize_text::kSelectPrompt);
    return;
  }
  answered_ = true;
  if (const CatalogueRow* row = find_catalogue_row(station_.units.current.model_code)) {
    row->initializer(station_, choice);
  }
  station_.units.selection_done = true;
}

void UnitInitialization::selection_closed() {
  if (!selection_open_ || answered_) return;
  answered_ = true;
  station_.units.selection_cancelled = true;
  station_.units.selection_done = true;
}

void UnitInitialization::cancel_pending_selection() {
  if (selection_open_) {
    selection_closed();
    selection_.close_selection();
  }
  station_.units.selection_done = true;
}

void UnitInitialization::unload_selection() {
  if (!selection_open_) return;
  answered_ = true;
  selection_open_ = false;
  // The wait has ended, so no handler of the window is running any more.
  selection_.unload_selection();
}

void UnitInitialization::release_replaced_session(visa::ViSession previous,
                                                  const driver::UnitRecord& record,
                                                  const driver::UnitRecord& other) {
  if (previous == 0 || previous == record.session || previous == other.session) return;
  station_.driver.quor_close(previous);
}

}  // namespace procedures
