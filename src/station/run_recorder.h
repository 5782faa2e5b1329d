// Turns the station's procedures into run records: a record is begun when a procedure claims the
// units, its report so far is saved while it runs, and it is completed from the run's facts when
// the procedure ends. A refused procedure leaves a finished record with the outcome "refused".
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/station.h"
#include "records/run_record.h"
#include "records/run_writes.h"

namespace station {

// What the windows hold, read when a run starts and when it ends.
struct OperatorFields {
  std::string technician;
  std::string top_serial;
  std::string sub_serial;
};

// What the recorder reads from the windows: the technician's fields, UTF-8 as typed. It stores
// them as station_text(), and what modules sent (identity replies, error texts, the run facts'
// report) as module_text(), so that no byte is lost or refused by a store.
struct RecorderSources {
  std::function<OperatorFields()> operator_fields;
};

// The unit result the runs recorded now are steps of, and the fields entered for its unit, which
// stand for the windows' while it is open.
struct UnitResultLink {
  std::string id;
  OperatorFields fields;  // record text already
};

struct RecorderIdentity {
  std::string station_id;  // empty: the host name
  std::string program_version;
};

class RunRecorder final : public core::ProcedureObserver {
 public:
  RunRecorder(core::Station& station, records::RunWrites& writes, RecorderIdentity identity,
              RecorderSources sources);

  void started(const core::Procedure& procedure) override;
  void ended(const core::Procedure& procedure) override;
  void refused(const core::Procedure& running, const core::Procedure& refused) override;
  void refused_without_units(const core::Procedure& refused, const std::string& why) override;

  // Saves the running run's report when it changed since the last save. The wiring calls it on
  // a timer while a run goes on.
  void save_progress();

  // Each run recorded from now on is a step of the unit result `link` names; none: of none.
  void link_unit_result(std::optional<UnitResultLink> link) { link_ = std::move(link); }

  // The record of the run in progress, as last written.
  const std::optional<records::RunRecord>& running() const { return running_; }

 private:
  // What a record holds from the moment its procedure is asked for: who, where, with which
  // library, and the units the procedure works on (`kind` says which).
  records::RunRecord begun_record(core::ProcedureKind kind) const;
  void fill_units(records::RunRecord& record, core::ProcedureKind kind,
                  const std::string& uut_resource) const;
  // The facts known at this moment: units, fields, report, errors, the procedure's values.
  void fill_from_station(records::RunRecord& record, core::ProcedureKind kind) const;
  // A refused run's record, with why it was refused as its report.
  void complete_refused(const core::Procedure& refused, const std::string& why);
  // The technician's fields now: the open unit result's, else the windows'.
  std::optional<OperatorFields> operator_fields() const;

  core::Station& station_;
  records::RunWrites& writes_;
  RecorderIdentity identity_;
  RecorderSources sources_;
  std::optional<records::RunRecord> running_;
  std::optional<UnitResultLink> link_;
  records::RunClock::Start start_;  // the running run's
  std::string saved_report_;
  // The facts' report saved_report_ was made from, once a save has read it.
  std::optional<std::string> saved_source_;
};

}  // namespace station
