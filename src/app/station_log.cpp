#include "app/station_log.h"

Q_LOGGING_CATEGORY(lcStation, "quor.station", QtInfoMsg)
Q_LOGGING_CATEGORY(lcProcedure, "quor.procedure", QtInfoMsg)
// The call trace is for the engineer who asks for it: QT_LOGGING_RULES="quor.visa.debug=true".
Q_LOGGING_CATEGORY(lcVisa, "quor.visa", QtWarningMsg)

namespace app {

void LoggingVisaSink::record(const visa::VisaCall& call) {
  const double micros = std::chrono::duration<double, std::micro>(call.duration).count();
  qCDebug(lcVisa).noquote() << QString::fromStdString(visa::describe_call(call))
                            << QStringLiteral("[%1 us]").arg(micros, 0, 'f', 1);
}

void LoggingProcedureObserver::started(const core::Procedure& procedure) {
  qCInfo(lcProcedure).noquote() << "started:" << QString::fromStdString(procedure.name);
}

void LoggingProcedureObserver::ended(const core::Procedure& procedure) {
  qCInfo(lcProcedure).noquote() << "ended:" << QString::fromStdString(procedure.name);
}

void LoggingProcedureObserver::refused(const core::Procedure& running,
                                       const core::Procedure& refused) {
  qCInfo(lcProcedure).noquote() << "refused:" << QString::fromStdString(refused.name) << "while"
                                << QString::fromStdString(running.name) << "runs";
}

void LoggingProcedureObserver::refused_without_units(const core::Procedure& refused,
                                                     const std::string& why) {
  qCInfo(lcProcedure).noquote() << "refused:" << QString::fromStdString(refused.name) << "--"
                                << QString::fromStdString(why);
}

}  // namespace app
