// The station's logging categories. Everything the station tells an engineer goes through them
// (never printf), so QT_LOGGING_RULES chooses what is shown:
//   quor.station     start-up, the VISA library in use, shut-down          (info and up by default)
//   quor.procedure   procedures starting, ending and being refused          (info and up by
//   default) quor.visa        every VISA call, from the call trace                    (off by
//   default)
#pragma once

#include <QLoggingCategory>

#include "core/station.h"
#include "visa/visa_call_trace.h"

Q_DECLARE_LOGGING_CATEGORY(lcStation)
Q_DECLARE_LOGGING_CATEGORY(lcProcedure)
Q_DECLARE_LOGGING_CATEGORY(lcVisa)

namespace app {

// Writes each traced VISA call as one debug line of quor.visa, with the time it took.
class LoggingVisaSink final : public visa::VisaCallSink {
 public:
  void record(const visa::VisaCall& call) override;
};

// Writes each procedure's start, end and refusal to quor.procedure.
class LoggingProcedureObserver final : public core::ProcedureObserver {
 public:
  void started(const core::Procedure& procedure) override;
  void ended(const core::Procedure& procedure) override;
  void refused(const core::Procedure& running, const core::Procedure& refused) override;
  void refused_without_units(const core::Procedure& refused, const std::string& why) override;
};

}  // namespace app
