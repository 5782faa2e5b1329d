// A unit's final test as the records keep it: one unit result for the sequence of procedures run
// on one unit, which the runs of its steps link to (RunRecord::unit_result_id).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "records/run_record.h"

namespace records {

// A unit result's verdict. Its stored ids never change.
enum class UnitVerdict { running, pass, fail, error, interrupted };

std::span<const UnitVerdict> all_unit_verdicts();
// "running", "pass", "fail", "error", "interrupted".
std::string_view text_id(UnitVerdict verdict);
std::optional<UnitVerdict> unit_verdict_from_text_id(std::string_view text);

struct UnitResult {
  std::string id;  // a UUID text, new_run_id()
  std::string station_id;
  TimePoint started{};
  std::optional<TimePoint> ended;  // none while running or when interrupted
  // Where it falls among the station's records, as RunRecord::made.
  std::optional<TimePoint> made;
  std::string technician;
  std::string top_serial;
  std::string sub_serial;
  UnitIdentity uut;
  UnitIdentity qcu;
  std::string uut_resource;
  std::string qcu_resource;
  std::string visa_library;
  bool simulated = false;
  std::string program_version;
  std::string sequence;  // the sequence's name
  UnitVerdict verdict = UnitVerdict::running;
  // The step that decided a fail or an error (its place in the sequence, from 0, and its
  // procedure) and what it found first; none and empty otherwise.
  std::optional<int> deciding_step;
  std::optional<Procedure> deciding_procedure;
  std::string finding;

  bool operator==(const UnitResult&) const = default;
};

}  // namespace records
