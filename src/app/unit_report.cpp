#include "app/unit_report.h"

#include <QDateTime>
#include <QStandardPaths>
#include <QTextDocument>

#include "app/module_text.h"
#include "app/report_printing.h"
#include "core/procedure_table.h"

namespace app {
namespace {

QString utc_text(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  return QDateTime::fromMSecsSinceEpoch(ms.count())
             .toUTC()
             .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
         QStringLiteral(" UTC");
}

QString escaped(const std::string& text) { return QString::fromStdString(text).toHtmlEscaped(); }
QString escaped_module(std::string_view text) { return module_text(text).toHtmlEscaped(); }

QString caption_of(core::ProcedureKind kind) {
  return QString::fromUtf8(core::procedure_row(kind).caption);
}

QString verdict_word(procedures::Verdict verdict) {
  switch (verdict) {
    case procedures::Verdict::pass:
      return QStringLiteral("PASS");
    case procedures::Verdict::fail:
      return QStringLiteral("FAIL");
    case procedures::Verdict::error:
      return QStringLiteral("ERROR");
  }
  return {};
}

QString row(const QString& name, const QString& value) {
  return QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(name, value);
}

QString unit_line(const std::string& resource, const std::string& identity) {
  QString line = escaped(resource);
  if (!identity.empty()) line += QStringLiteral(" &mdash; ") + escaped_module(identity);
  return line;
}

// A step's report as the console shows it: a bus test's report as written to the results
// window, else the verdict the procedure left and the errors it listed.
QString step_report_text(const procedures::StepResult& step) {
  QString text = module_text(step.facts.report);
  if (text.isEmpty()) text = module_text(step.facts.verdict);
  if (!step.facts.errors.empty()) {
    if (!text.isEmpty()) text += QStringLiteral("\n\n");
    text += QStringLiteral("Errors:\n") + module_text(step.facts.errors);
  }
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

QString file_name_part(const std::string& serial) {
  QString part = QString::fromStdString(serial).trimmed();
  for (QChar& c : part) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
    if (!keep) c = '_';
  }
  // "." and ".." name folders of their own.
  if (part.isEmpty() || part.count('.') == part.size()) return QStringLiteral("no-serial");
  return part;
}

}  // namespace

QString step_state_text(procedures::StepState state) {
  using procedures::StepState;
  switch (state) {
    case StepState::waiting:
      return QStringLiteral("Waiting");
    case StepState::running:
      return QStringLiteral("Running");
    case StepState::passed:
      return QStringLiteral("Passed");
    case StepState::failed:
      return QStringLiteral("Failed");
    case StepState::error:
      return QStringLiteral("Error");
    case StepState::stopped:
      return QStringLiteral("Stopped");
  }
  return {};
}

QColor verdict_colour(procedures::Verdict verdict) {
  switch (verdict) {
    case procedures::Verdict::pass:
      return QColor(0x1b, 0x8a, 0x2e);
    case procedures::Verdict::fail:
      return QColor(0xc6, 0x17, 0x17);
    case procedures::Verdict::error:
      return QColor(0xe0, 0x6c, 0x00);
  }
  return {};
}

QColor state_colour(procedures::StepState state) {
  using procedures::StepState;
  switch (state) {
    case StepState::passed:
      return verdict_colour(procedures::Verdict::pass);
    case StepState::failed:
      return verdict_colour(procedures::Verdict::fail);
    case StepState::error:
      return verdict_colour(procedures::Verdict::error);
    case StepState::waiting:
    case StepState::running:
    case StepState::stopped:
      break;
  }
  return {};
}

QString duration_text(std::chrono::milliseconds duration) {
  return QString::number(static_cast<double>(duration.count()) / 1000.0, 'f', 1) +
         QStringLiteral(" s");
}

std::unique_ptr<QTextDocument> unit_report_document(const UnitReportFacts& facts) {
  const procedures::FinalTestResult& result = facts.result;
  const StationIdentity& station = facts.station;
  const procedures::UnitVerdict& verdict = result.verdict;

  QString html;
  html.reserve(4096);
  html += QStringLiteral("<h2>Final Test Report</h2>");
  html += QStringLiteral("<p style=\"font-size:28pt; font-weight:bold; color:%1\">%2</p>")
              .arg(verdict_colour(verdict.verdict).name(), verdict_word(verdict.verdict));
  if (verdict.verdict != procedures::Verdict::pass) {
    QString decided;
    if (verdict.step && *verdict.step < result.steps.size()) {
      decided = caption_of(result.steps[*verdict.step].kind).toHtmlEscaped() + QStringLiteral(": ");
    }
    html += QStringLiteral("<p><b>%1</b>%2</p>").arg(decided, escaped_module(verdict.finding));
  }

  html += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"3\">");
  QString station_line = escaped(station.station_id);
  if (station.simulated) station_line += QStringLiteral(" (simulated chassis)");
  html += row(QStringLiteral("Station"), station_line);
  html += row(QStringLiteral("Program version"), escaped(station.program_version));
  html += row(QStringLiteral("VISA library"), escaped(station.visa_library));
  html += row(QStringLiteral("Technician"), escaped(result.unit.technician));
  html += row(QStringLiteral("Top Assy S/N"), escaped(result.unit.top_serial));
  html += row(QStringLiteral("Sub Assy S/N"), escaped(result.unit.sub_serial));
  html += row(QStringLiteral("UUT"), unit_line(result.unit.uut_resource, result.uut_identity));
  html += row(QStringLiteral("QCU"), unit_line(result.unit.qcu_resource, result.qcu_identity));
  html += row(QStringLiteral("Sequence"), escaped(result.sequence.name));
  html += row(QStringLiteral("Started"), utc_text(result.started));
  html += row(QStringLiteral("Ended"),
              result.finished ? utc_text(result.ended) : QStringLiteral("(not finished)"));
  html += QStringLiteral("</table>");

  html += QStringLiteral(
      "<h3>Steps</h3><table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">"
      "<tr><th width=\"5%\">#</th><th width=\"18%\">Step</th><th width=\"11%\">State</th>"
      "<th width=\"11%\">Duration</th><th width=\"55%\">Finding</th></tr>");
  for (std::size_t i = 0; i < result.steps.size(); ++i) {
    const procedures::StepResult& step = result.steps[i];
    const QColor colour = state_colour(step.state);
    const QString state = step_state_text(step.state);
    html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>")
                .arg(QString::number(i + 1), caption_of(step.kind).toHtmlEscaped(),
                     colour.isValid() ? QStringLiteral("<span style=\"color:%1\"><b>%2</b></span>")
                                            .arg(colour.name(), state)
                                      : state,
                     step.state == procedures::StepState::waiting ? QString()
                                                                  : duration_text(step.duration),
                     escaped_module(step.finding));
  }
  html += QStringLiteral("</table>");

  for (std::size_t i = 0; i < result.steps.size(); ++i) {
    const procedures::StepResult& step = result.steps[i];
    if (step.state == procedures::StepState::waiting) continue;
    html += QStringLiteral("<h3>%1. %2 &mdash; %3</h3>")
                .arg(QString::number(i + 1), caption_of(step.kind).toHtmlEscaped(),
                     step_state_text(step.state));
    html +=
        QStringLiteral("<pre>") + step_report_text(step).toHtmlEscaped() + QStringLiteral("</pre>");
  }

  auto document = std::make_unique<QTextDocument>();
  QFont font = document->defaultFont();
  font.setPointSizeF(9.5);
  document->setDefaultFont(font);
  document->setHtml(html);
  return document;
}

std::string write_unit_report_pdf(const UnitReportFacts& facts, const std::string& path) {
  const std::unique_ptr<QTextDocument> document = unit_report_document(facts);
  document->setMetaInformation(
      QTextDocument::DocumentTitle,
      QStringLiteral("Final Test Report ") + QString::fromStdString(facts.result.unit.top_serial));
  return write_report_pdf(*document, QString::fromStdString(path)).toStdString();
}

std::string default_reports_folder() {
  return (QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
          QStringLiteral("/reports"))
      .toStdString();
}

std::string default_unit_report_path(const std::string& reports_folder,
                                     const procedures::FinalTestResult& result) {
  const QString serial = file_name_part(result.unit.top_serial);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(result.started.time_since_epoch());
  const QString stamp = QDateTime::fromMSecsSinceEpoch(ms.count())
                            .toUTC()
                            .toString(QStringLiteral("yyyyMMdd-hhmmss"));
  return (QString::fromStdString(reports_folder) + '/' + serial + '/' + serial + '-' + stamp +
          QStringLiteral(".pdf"))
      .toStdString();
}

}  // namespace app
