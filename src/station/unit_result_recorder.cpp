#include "station/unit_result_recorder.h"

#include <utility>

namespace station {

using records::module_text;
using records::station_text;
using records::UnitVerdict;

namespace {

UnitVerdict verdict_of(procedures::Verdict verdict) {
  switch (verdict) {
    case procedures::Verdict::pass:
      return UnitVerdict::pass;
    case procedures::Verdict::fail:
      return UnitVerdict::fail;
    case procedures::Verdict::error:
      break;
  }
  return UnitVerdict::error;
}

// An identity reply as the records keep it. Only the result's own: until the unit's
// initialization has read it, the station's may still be the previous unit's.
records::UnitIdentity identity_of(const std::string& reply) {
  return records::identify(module_text(reply));
}

}  // namespace

UnitResultRecorder::UnitResultRecorder(core::Station& station, records::RunWrites& writes,
                                       RunRecorder& runs, RecorderIdentity identity)
    : station_(station), writes_(writes), runs_(runs), identity_(std::move(identity)) {
  if (identity_.station_id.empty()) identity_.station_id = records::default_station_id();
}

void UnitResultRecorder::fill(records::UnitResult& unit_result,
                              const procedures::FinalTestResult& result) const {
  const procedures::UnitUnderTest& unit = result.unit;
  unit_result.technician = station_text(unit.technician);
  unit_result.top_serial = station_text(unit.top_serial);
  unit_result.sub_serial = station_text(unit.sub_serial);
  unit_result.uut_resource = station_text(unit.uut_resource);
  unit_result.qcu_resource = station_text(unit.qcu_resource);
  unit_result.uut = identity_of(result.uut_identity);
  unit_result.qcu = identity_of(result.qcu_identity);
  unit_result.sequence = station_text(result.sequence.name);
}

void UnitResultRecorder::unit_started(const procedures::FinalTestResult& result) {
  start_ = records::run_clock().start();
  records::UnitResult unit_result;
  unit_result.id = records::new_run_id();
  unit_result.station_id = identity_.station_id;
  unit_result.started = start_.started;
  unit_result.made = start_.made;
  unit_result.visa_library = station_text(station_.visa_in_use.description);
  unit_result.simulated = station_.visa_in_use.simulated;
  unit_result.program_version = identity_.program_version;
  unit_result.verdict = UnitVerdict::running;
  fill(unit_result, result);
  runs_.link_unit_result(UnitResultLink{
      unit_result.id, {unit_result.technician, unit_result.top_serial, unit_result.sub_serial}});
  writes_.begin_unit_result(unit_result);
  last_id_ = unit_result.id;
  open_ = std::move(unit_result);
}

void UnitResultRecorder::unit_ended(const procedures::FinalTestResult& result) {
  if (!open_) return;
  records::UnitResult unit_result = std::move(*open_);
  open_.reset();
  runs_.link_unit_result(std::nullopt);
  fill(unit_result, result);
  unit_result.ended = records::run_clock().end(start_);
  // A sequence the program's end cut short decided nothing.
  const bool cut_short = !result.finished && station_.shutting_down;
  unit_result.verdict = cut_short ? UnitVerdict::interrupted : verdict_of(result.verdict.verdict);
  if (!cut_short && result.verdict.verdict != procedures::Verdict::pass) {
    if (result.verdict.step && *result.verdict.step < result.steps.size()) {
      unit_result.deciding_step = int(*result.verdict.step);
      unit_result.deciding_procedure = result.steps[*result.verdict.step].kind;
    }
    unit_result.finding = module_text(result.verdict.finding);
  }
  writes_.complete_unit_result(unit_result);
}

}  // namespace station
