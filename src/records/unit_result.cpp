#include "records/unit_result.h"

#include <array>

namespace records {

namespace {

struct VerdictRow {
  UnitVerdict verdict;
  std::string_view id;
};

constexpr std::array<VerdictRow, 5> kVerdicts{{{UnitVerdict::running, "running"},
                                               {UnitVerdict::pass, "pass"},
                                               {UnitVerdict::fail, "fail"},
                                               {UnitVerdict::error, "error"},
                                               {UnitVerdict::interrupted, "interrupted"}}};

constexpr std::array<UnitVerdict, 5> kAll{UnitVerdict::running, UnitVerdict::pass,
                                          UnitVerdict::fail, UnitVerdict::error,
                                          UnitVerdict::interrupted};

}  // namespace

std::span<const UnitVerdict> all_unit_verdicts() { return kAll; }

std::string_view text_id(UnitVerdict verdict) {
  for (const VerdictRow& row : kVerdicts) {
    if (row.verdict == verdict) return row.id;
  }
  return {};
}

std::optional<UnitVerdict> unit_verdict_from_text_id(std::string_view text) {
  for (const VerdictRow& row : kVerdicts) {
    if (row.id == text) return row.verdict;
  }
  return std::nullopt;
}

}  // namespace records
