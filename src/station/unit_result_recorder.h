// Turns a unit's final test into its unit result: begun (running) when the test starts, completed
// with the verdict when it ends. While it is open, the run recorder stamps its id, and the serials
// and technician entered for the unit, on every step's run.
#pragma once

#include <optional>
#include <string>

#include "core/station.h"
#include "procedures/final_test.h"
#include "records/run_writes.h"
#include "records/unit_result.h"
#include "station/run_recorder.h"

namespace station {

class UnitResultRecorder final : public procedures::FinalTestObserver {
 public:
  UnitResultRecorder(core::Station& station, records::RunWrites& writes, RunRecorder& runs,
                     RecorderIdentity identity);

  void unit_started(const procedures::FinalTestResult& result) override;
  void unit_ended(const procedures::FinalTestResult& result) override;

  // The unit result open now, as last written; none between units.
  const std::optional<records::UnitResult>& open() const { return open_; }
  // The id of the unit result begun last; empty before the first.
  const std::string& last_id() const { return last_id_; }

 private:
  // The unit, the identities and the sequence as the result gives them now.
  void fill(records::UnitResult& unit_result, const procedures::FinalTestResult& result) const;

  core::Station& station_;
  records::RunWrites& writes_;
  RunRecorder& runs_;
  RecorderIdentity identity_;
  std::optional<records::UnitResult> open_;
  std::string last_id_;
  records::RunClock::Start start_;
};

}  // namespace station
