// The report of one unit's final test: who tested which unit on which station, when, the verdict,
// the table of the steps and each step's report as the console shows it. Written as a PDF file
// into the reports folder after every unit, and printed from the Final Test window.
#pragma once

#include <QColor>
#include <QString>
#include <memory>
#include <string>

#include "procedures/final_test.h"

class QTextDocument;

namespace app {

// The station a unit was tested on, as its records name it.
struct StationIdentity {
  std::string station_id;
  std::string program_version;
  std::string visa_library;
  bool simulated = false;
};

struct UnitReportFacts {
  procedures::FinalTestResult result;
  StationIdentity station;
};

// "Waiting", "Running", "Passed", "Failed", "Error", "Stopped".
QString step_state_text(procedures::StepState state);
// The colour a step's state or a verdict is shown in (green, red, orange; none for the others).
QColor state_colour(procedures::StepState state);
QColor verdict_colour(procedures::Verdict verdict);
// "12.3 s", with "." whatever the locale.
QString duration_text(std::chrono::milliseconds duration);

// The report as a document, for the PDF and for a printer. Builds no widget: usable on any thread
// of an application with a font database (a QGuiApplication, the offscreen platform will do).
std::unique_ptr<QTextDocument> unit_report_document(const UnitReportFacts& facts);

// Writes the report as a PDF file at `path`, making its folder when missing; the file appears
// whole or not at all. Returns an empty text, or what went wrong. Any thread (see above).
std::string write_unit_report_pdf(const UnitReportFacts& facts, const std::string& path);

// The reports folder when none is given: "reports" in the application's data folder.
std::string default_reports_folder();
// DIR/SERIAL/SERIAL-<UTC yyyymmdd-hhmmss>.pdf, the time being the unit's start. Characters a
// file name cannot hold become '_'; a unit without a serial number files under "no-serial".
std::string default_unit_report_path(const std::string& reports_folder,
                                     const procedures::FinalTestResult& result);

}  // namespace app
