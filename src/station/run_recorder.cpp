#include "station/run_recorder.h"

#include <utility>

namespace station {

using namespace records;

namespace {

std::string without_trailing_blanks(std::string text) {
  const std::size_t last = text.find_last_not_of(' ');
  text.erase(last == std::string::npos ? 0 : last + 1);
  return text;
}

// The windows' fields as record text.
OperatorFields record_text(OperatorFields fields) {
  return {station_text(fields.technician), station_text(fields.top_serial),
          station_text(fields.sub_serial)};
}

// A run's report as its facts keep it, in the module's bytes (CR LF line ends kept): a bus
// test's results, else the verdict a production test leaves (none for the others).
const std::string& report_of(const core::RunFacts& facts, core::ProcedureKind kind) {
  return core::procedure_row(kind).bus_test ? facts.report : facts.verdict;
}

}  // namespace

RunRecorder::RunRecorder(core::Station& station, RunWrites& writes, RecorderIdentity identity,
                         RecorderSources sources)
    : station_(station),
      writes_(writes),
      identity_(std::move(identity)),
      sources_(std::move(sources)) {
  if (identity_.station_id.empty()) identity_.station_id = default_station_id();
}

RunRecord RunRecorder::begun_record(core::ProcedureKind kind) const {
  RunRecord record;
  record.id = new_run_id();
  record.station_id = identity_.station_id;
  record.procedure = kind;
  record.visa_library = station_text(station_.visa_in_use.description);
  record.simulated = station_.visa_in_use.simulated;
  record.program_version = identity_.program_version;
  if (link_) record.unit_result_id = link_->id;
  if (std::optional<OperatorFields> fields = operator_fields()) {
    record.technician = std::move(fields->technician);
    record.top_serial = std::move(fields->top_serial);
    record.sub_serial = std::move(fields->sub_serial);
  }
  fill_units(record, kind, station_.units.uut.resource);
  return record;
}

std::optional<OperatorFields> RunRecorder::operator_fields() const {
  if (link_) return link_->fields;
  if (sources_.operator_fields) return record_text(sources_.operator_fields());
  return std::nullopt;
}

void RunRecorder::fill_units(RunRecord& record, core::ProcedureKind kind,
                             const std::string& uut_resource) const {
  const core::UnitState& units = station_.units;
  const core::ProcedureRow& row = core::procedure_row(kind);
  if (row.uses_uut) {
    record.uut = identify(module_text(units.uut_identity));
    record.uut_resource = station_text(uut_resource);
  }
  if (row.uses_qcu) {
    record.qcu = identify(module_text(units.qcu_identity));
    record.qcu_resource = station_text(units.qcu.resource);
  }
}

void RunRecorder::fill_from_station(RunRecord& record, core::ProcedureKind kind) const {
  const core::RunFacts& facts = station_.run;
  fill_units(record, kind, facts.resource.empty() ? station_.units.uut.resource : facts.resource);
  record.passes_run = facts.passes_run;
  record.failures = facts.failures;
  record.self_test_result = facts.self_test_result;
  record.memory_miscompares = facts.memory_miscompares;
  record.cal_constant_read = facts.cal_constant_read;
  record.cal_constant_sent = facts.cal_constant_sent;
  record.non_vol_address = facts.non_vol_address;
  record.last_errors.clear();
  for (const std::string& error : station_.driver_state.reported_errors) {
    record.last_errors.push_back(module_text(without_trailing_blanks(error)));
  }
  // A bus test's report is its own once it has written its header; before that there is none.
  const bool report_is_this_runs = !core::procedure_row(kind).bus_test || facts.report_begun;
  record.report = report_is_this_runs ? module_text(report_of(facts, kind)) : std::string();
}

void RunRecorder::started(const core::Procedure& procedure) {
  running_.reset();
  saved_report_.clear();
  saved_source_.reset();
  start_ = run_clock().start();
  running_ = begun_record(procedure.kind);
  running_->started = start_.started;
  running_->made = start_.made;
  fill_from_station(*running_, procedure.kind);
  saved_report_ = running_->report;
  writes_.begin_run(*running_);
}

void RunRecorder::save_progress() {
  if (!running_ || !station_.procedure.running) return;
  const core::ProcedureKind kind = station_.procedure.running->kind;
  const bool report_is_this_runs = !core::procedure_row(kind).bus_test || station_.run.report_begun;
  if (!report_is_this_runs) return;
  const std::string& source = report_of(station_.run, kind);
  if (source == saved_source_) return;
  // A report grows at its end: only what was added is converted.
  const bool grew = saved_source_ && source.starts_with(*saved_source_);
  std::string report =
      grew ? saved_report_ + module_text(std::string_view(source).substr(saved_source_->size()))
           : module_text(source);
  saved_source_ = source;
  if (report == saved_report_) return;
  running_->report = report;
  saved_report_ = std::move(report);
  writes_.save_progress(running_->id, saved_report_);
}

void RunRecorder::ended(const core::Procedure& procedure) {
  if (!running_) return;
  RunRecord record = std::move(*running_);
  running_.reset();
  fill_from_station(record, procedure.kind);
  // The fields may have been filled in while the run went on.
  if (std::optional<OperatorFields> fields = operator_fields()) {
    if (!fields->technician.empty()) record.technician = std::move(fields->technician);
    if (!fields->top_serial.empty()) record.top_serial = std::move(fields->top_serial);
    if (!fields->sub_serial.empty()) record.sub_serial = std::move(fields->sub_serial);
  }
  const std::optional<Outcome> outcome = station_.run.outcome;
  record.outcome = outcome                  ? *outcome
                   : station_.shutting_down ? Outcome::interrupted
                                            : Outcome::failed;
  record.ended = run_clock().end(start_);
  writes_.complete_run(record);
}

void RunRecorder::refused(const core::Procedure& /*running*/, const core::Procedure& refused) {
  // Why it did not start, as the technician was told.
  complete_refused(refused, station_.procedure.running
                                ? core::refusal_text(*station_.procedure.running, refused)
                                : std::string());
}

void RunRecorder::refused_without_units(const core::Procedure& refused, const std::string& why) {
  complete_refused(refused, why);
}

void RunRecorder::complete_refused(const core::Procedure& refused, const std::string& why) {
  const RunClock::Start start = run_clock().start();
  RunRecord record = begun_record(refused.kind);
  record.started = start.started;
  record.made = start.made;
  record.ended = record.started;
  record.outcome = Outcome::refused;
  if (!why.empty()) record.report = module_text(why);
  writes_.complete_run(record);
}

}  // namespace station
