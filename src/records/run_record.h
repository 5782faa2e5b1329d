// One run of a procedure as the records keep it, with the texts that name its procedure and its
// outcome in the store and in the exports.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/procedure_table.h"

namespace records {

using Clock = std::chrono::system_clock;
using TimePoint = std::chrono::time_point<Clock, std::chrono::milliseconds>;

// Milliseconds in a day.
inline constexpr long long kDayMs = 86'400'000;

// The procedures and outcomes are the station's own (core's table); their stored ids never
// change, and a new procedure gets a new one.
using Procedure = core::ProcedureKind;
using Outcome = core::Outcome;
using core::all_outcomes;
using core::all_procedures;

inline std::string_view text_id(Procedure procedure) {
  return core::procedure_row(procedure).stored_id;
}
inline std::string_view text_id(Outcome outcome) { return core::stored_id(outcome); }
// The caption the technician knows the procedure by ("REC", "Self Test", "Initialize UUT").
inline std::string_view display_name(Procedure procedure) {
  return core::procedure_row(procedure).caption;
}
inline std::optional<Procedure> procedure_from_text_id(std::string_view text) {
  return core::procedure_from_stored_id(text);
}
inline std::optional<Outcome> outcome_from_text_id(std::string_view text) {
  return core::outcome_from_stored_id(text);
}

// An identity reply ("maker,model,serial,firmware") as received and its fields.
struct UnitIdentity {
  std::string reply;
  std::string maker;
  std::string model;
  std::string serial;
  std::string firmware;

  bool operator==(const UnitIdentity&) const = default;
};

// The most characters a field parsed from an identity reply keeps (the reply keeps them all).
inline constexpr std::size_t kIdentityFieldLength = 64;

// Splits a reply's record text (module_text()) at its commas, each field trimmed of blanks,
// padding (NUL, as a byte or as its picture) and line ends and cut to kIdentityFieldLength
// characters. A reply with fewer fields leaves the missing ones empty; the firmware field keeps
// any further commas.
UnitIdentity identify(std::string reply);

// Bytes a module sent (a reply, an error message, a report quoting them) as record text, UTF-8:
// each byte is the Latin-1 character of its value, as the station's windows show it, except the
// C0 controls other than tab, line feed and carriage return, which become their pictures
// U+2400-U+241F (a NUL cannot reach the records server, nor most controls an XML export).
std::string module_text(std::string_view bytes);
// The bytes module_text() made `text` from; none when `text` holds a character it never makes.
std::optional<std::string> module_bytes(std::string_view text);
// Text the station or the technician wrote (UTF-8) as record text: well-formed UTF-8 kept, any
// other byte as its Latin-1 character, the C0 controls but tab, line feed and carriage return as
// their pictures, as module_text() has them.
std::string station_text(std::string_view text);
// The length of the well-formed UTF-8 sequence at `at` (1 for an ASCII byte; no overlong form,
// no surrogate, nothing past U+10FFFF), or 0 when the bytes there are not one.
std::size_t utf8_length(std::string_view text, std::size_t at);

struct RunRecord {
  std::string id;  // a UUID text, new_run_id()
  std::string station_id;
  TimePoint started{};
  std::optional<TimePoint> ended;  // none while running or when interrupted
  Procedure procedure = Procedure::rec;
  Outcome outcome = Outcome::running;
  int passes_run = 0;
  int failures = 0;
  UnitIdentity uut;
  UnitIdentity qcu;  // two-unit tests only
  std::string uut_resource;
  std::string qcu_resource;
  std::string technician;
  std::string top_serial;
  std::string sub_serial;
  std::string visa_library;
  bool simulated = false;
  std::string report;  // the results window's text, CR LF line ends kept
  std::vector<std::string> last_errors;
  // Per procedure; empty where the procedure does not produce the value.
  std::optional<int> self_test_result;
  std::optional<long long> memory_miscompares;
  std::optional<double> cal_constant_read;  // read with "CAL?"
  std::optional<double> cal_constant_sent;  // the last one sent
  std::optional<int> non_vol_address;
  std::string program_version;
  // Where the run falls among this station's runs: its start, held back from ever going back
  // (see RunClock). None for a run of an earlier program, which its start places.
  std::optional<TimePoint> made;
  // The unit result (records/unit_result.h) this run is a step of; empty for a run on its own.
  std::string unit_result_id;

  bool operator==(const RunRecord&) const = default;
};

std::string new_run_id();
// The host name: the station id unless one is set.
std::string default_station_id();
TimePoint now();

// The times of a station's runs. A run starts at the wall clock's time; it ends its start plus
// the time it took on a clock that never goes back, so that a clock set back (or forward) while
// it runs changes no duration. Its place among the station's runs (RunRecord::made) is the wall
// clock's time too, but never earlier than the last run's place plus the time since: a clock set
// back leaves the runs in the order the station made them. Thread-safe.
class RunClock {
 public:
  using Steady = std::chrono::steady_clock;
  RunClock(std::function<TimePoint()> wall = now,
           std::function<Steady::time_point()> steady = Steady::now);

  struct Start {
    TimePoint started{};
    TimePoint made{};
    Steady::time_point steady{};
  };
  Start start();
  TimePoint end(const Start& start) const;
  // The runs after this are placed after `made` (the latest place the record file holds).
  void follow(TimePoint made);

 private:
  std::function<TimePoint()> wall_;
  std::function<Steady::time_point()> steady_;
  mutable std::mutex mutex_;
  std::optional<TimePoint> last_made_;
  Steady::time_point last_steady_{};
};

// The station's clock.
RunClock& run_clock();

// "2024-05-01T12:34:56.789Z"; the parser accepts exactly that form.
std::string utc_text(TimePoint time);
std::optional<TimePoint> parse_utc_text(std::string_view text);
// A calendar date "YYYY-MM-DD" as the start of that day in UTC.
std::optional<TimePoint> parse_utc_date(std::string_view text);

// Shortest text that reads back as the same double, "." always.
std::string number_text(double value);

}  // namespace records
