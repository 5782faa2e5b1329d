// Printing a report, and what happens on a station without a printer: the technician is told so
// and may save the report as a PDF file instead. The results window, the records window and the
// Final Test window print through here.
#pragma once

#include <QString>
#include <functional>
#include <memory>

class QTextDocument;
class QWidget;

namespace app {

// Builds the document of a report; called on the thread that prints or writes it.
using ReportDocument = std::function<std::unique_ptr<QTextDocument>()>;

inline constexpr const char* kNoPrinterText =
    "No printer is set up on this station: the report was not printed.";
inline constexpr const char* kSaveAsPdfText = "Save the report as a PDF file instead?";

// Whether the station has a printer to print on (an installed default printer).
bool printer_installed();

// Prints the report on the default printer. Without one it says so and offers to save the report
// as a PDF file: a file dialog asks where (`suggested_file` first), the file is written off the
// window thread, and a box then says where it went, or why it could not be written.
void print_report(QWidget* parent, ReportDocument make, const QString& suggested_file);

// Writes the document as a PDF file at `path`, whole or not at all, making its folder when
// missing. Returns an empty text, or what went wrong. Any thread of a GUI application.
QString write_report_pdf(const QTextDocument& document, const QString& path);

// A plain text report (a bus test's, CR LF line ends and the module's bytes) as a document.
std::unique_ptr<QTextDocument> plain_report_document(const std::string& text);

}  // namespace app
