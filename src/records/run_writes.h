// Where the records of the station's runs go as they happen: a run is begun, its report so far
// is saved while it goes on, and it is completed; a unit result (a unit's final test, whose step
// runs link to it) is begun and completed the same way. None of these waits for the store.
#pragma once

#include <string>

#include "records/run_record.h"
#include "records/unit_result.h"

namespace records {

class RunWrites {
 public:
  virtual ~RunWrites() = default;
  // Writes the record as running, whatever its outcome says.
  virtual void begin_run(const RunRecord& record) = 0;
  virtual void save_progress(const std::string& id, const std::string& report) = 0;
  virtual void complete_run(const RunRecord& record) = 0;
  // Writes the unit result as running, whatever its verdict says.
  virtual void begin_unit_result(const UnitResult& result) = 0;
  virtual void complete_unit_result(const UnitResult& result) = 0;
};

}  // namespace records
