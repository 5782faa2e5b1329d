// Records to store and compare in the records suites, and a fresh folder per test.
#pragma once

#include <QTemporaryDir>
#include <string>
#include <vector>

#include "records/run_record.h"
#include "records/unit_result.h"

namespace records::samples {

inline TimePoint at(long long ms) { return TimePoint{std::chrono::milliseconds{ms}}; }

// 2024-05-01T08:00:00.000Z
inline constexpr long long kMorning = 1714550400000;

// A finished REC run with every field set.
inline RunRecord full_record(std::string id = "5f0c6c8e-1b1e-4c1a-9a52-3c1f2b7d9e01") {
  RunRecord r;
  r.id = std::move(id);
  r.station_id = "bench-3";
  r.started = at(kMorning);
  r.ended = at(kMorning + 61'234);
  r.procedure = Procedure::rec;
  r.outcome = Outcome::failed;
  r.passes_run = 50;
  r.failures = 2;
  r.uut = identify("QUOR INSTRUMENTS,QB-1972,QB10442,2.07");
  r.qcu = identify("QUOR INSTRUMENTS,QB-1972,QB00017,2.05");
  r.uut_resource = "VXI0::8::INSTR";
  r.qcu_resource = "VXI0::24::INSTR";
  r.technician = "A. Marsh";
  r.top_serial = "TOP-0091";
  r.sub_serial = "SUB-7,rev \"B\"";
  r.visa_library = "/usr/lib/libvisa.so";
  r.simulated = false;
  r.report =
      "REC Test   5/1/2024\r\nUUT: QUOR INSTRUMENTS,QB-1972,QB10442,2.07\r\n"
      "Pass 7 PING word 12: read 0x00A5, expected 0x00A4\r\n\"quoted\", comma\r\nUnit Fails\r\n";
  r.last_errors = {"Resetting the UUT\nVI_ERROR_TMO: Timeout expired before operation completed.",
                   "Reading the status byte\nQUOR_ERROR_STATUS"};
  r.self_test_result = -1;
  r.memory_miscompares = 12'345'678'901LL;
  r.cal_constant_read = 1.7;
  r.cal_constant_sent = -0.1;
  r.non_vol_address = 8;
  r.program_version = "1.0.0";
  return r;
}

// A run with only what every run has.
inline RunRecord bare_record(std::string id, Procedure procedure, Outcome outcome, long long ms,
                             std::string serial = {}, std::string technician = {},
                             bool simulated = false) {
  RunRecord r;
  r.id = std::move(id);
  r.station_id = "bench-1";
  r.started = at(ms);
  if (outcome != Outcome::running) r.ended = at(ms + 1000);
  r.procedure = procedure;
  r.outcome = outcome;
  r.uut = identify(serial.empty() ? std::string() : "QUOR,QB-1972," + serial + ",2.07");
  r.technician = std::move(technician);
  r.simulated = simulated;
  return r;
}

// A finished unit result with every field set: failed at its second step.
inline UnitResult full_unit_result(std::string id = "7a1d2c3e-0b4f-4e5a-8c6d-9e0f1a2b3c4d") {
  UnitResult u;
  u.id = std::move(id);
  u.station_id = "bench-3";
  u.started = at(kMorning);
  u.ended = at(kMorning + 300'000);
  u.made = at(kMorning + 7);
  u.technician = "A. Marsh";
  u.top_serial = "TOP-0091";
  u.sub_serial = "SUB-7,rev \"B\"";
  u.uut = identify("QUOR INSTRUMENTS,QB-1972,QB10442,2.07");
  u.qcu = identify("QUOR INSTRUMENTS,QB-1972,QB00017,2.05");
  u.uut_resource = "VXI0::8::INSTR";
  u.qcu_resource = "VXI0::24::INSTR";
  u.visa_library = "/usr/lib/libvisa.so";
  u.program_version = "1.0.0";
  u.sequence = "default";
  u.verdict = UnitVerdict::fail;
  u.deciding_step = 1;
  u.deciding_procedure = Procedure::rec;
  u.finding = "Pass 7 PING word 12: read 0x00A5, expected 0x00A4";
  return u;
}

// A step of the unit result `unit`, the `step`th (from 0), begun a minute after the one before.
inline RunRecord step_of(const UnitResult& unit, int step, Procedure procedure, Outcome outcome) {
  RunRecord r = full_record(unit.id + "-step-" + std::to_string(step));
  r.started = unit.started + std::chrono::minutes{step};
  r.ended = r.started + std::chrono::seconds{30};
  r.procedure = procedure;
  r.outcome = outcome;
  r.unit_result_id = unit.id;
  return r;
}

// A folder removed with everything in it when the test ends.
struct Folder {
  QTemporaryDir dir;
  std::string file(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
};

}  // namespace records::samples
