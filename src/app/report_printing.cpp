#include "app/report_printing.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPointer>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextDocument>
#include <QThreadPool>

#include "app/module_text.h"

namespace app {
namespace {

constexpr const char* kTitle = "Quor-Bus Test Program";

void tell(QWidget* parent, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, kTitle, text, QMessageBox::Ok, parent);
  box.setObjectName("reportSavedBox");
  box.exec();
}

// Asks whether to save the report as a PDF file instead, and where; empty when not.
QString ask_pdf_path(QWidget* parent, const QString& suggested_file) {
  QMessageBox box(QMessageBox::Warning, kTitle, kNoPrinterText, QMessageBox::NoButton, parent);
  box.setObjectName("noPrinterBox");
  box.setInformativeText(kSaveAsPdfText);
  QPushButton* save = box.addButton(QStringLiteral("Save as PDF..."), QMessageBox::AcceptRole);
  save->setObjectName("cmdSavePdf");
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(save);
  box.exec();
  if (box.clickedButton() != save) return {};
  QString suggested = suggested_file;
  if (QFileInfo(suggested).isRelative()) {
    suggested =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + '/' + suggested;
  }
  return QFileDialog::getSaveFileName(parent, QStringLiteral("Save the report as PDF"), suggested,
                                      QStringLiteral("PDF files (*.pdf)"));
}

}  // namespace

bool printer_installed() {
  return !QPrinterInfo::availablePrinters().isEmpty() && !QPrinterInfo::defaultPrinter().isNull();
}

QString write_report_pdf(const QTextDocument& document, const QString& path) {
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
    return QStringLiteral("The folder %1 cannot be made.").arg(QFileInfo(path).absolutePath());
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    return QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
  }
  {
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setCreator(QStringLiteral("quor_station"));
    writer.setTitle(document.metaInformation(QTextDocument::DocumentTitle));
    document.print(&writer);
  }
  if (!file.commit())
    return QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
  return {};
}

std::unique_ptr<QTextDocument> plain_report_document(const std::string& text) {
  auto document = std::make_unique<QTextDocument>();
  document->setPlainText(module_text(text));
  return document;
}

void print_report(QWidget* parent, ReportDocument make, const QString& suggested_file) {
  if (printer_installed()) {
    QPrinter printer;
    make()->print(&printer);
    return;
  }
  const QString path = ask_pdf_path(parent, suggested_file);
  if (path.isEmpty()) return;
  // Laying out and writing a long report takes a while: the window thread goes on meanwhile, and
  // is told the outcome when the file is written.
  QPointer<QWidget> told(parent);
  QThreadPool::globalInstance()->start([make = std::move(make), path, told] {
    const QString error = write_report_pdf(*make(), path);
    QMetaObject::invokeMethod(
        qApp,
        [error, path, told] {
          if (error.isEmpty()) {
            tell(told, QMessageBox::Information,
                 QStringLiteral("The report was saved as %1.").arg(QDir::toNativeSeparators(path)));
          } else {
            tell(told, QMessageBox::Warning,
                 QStringLiteral("The report was not saved. %1").arg(error));
          }
        },
        Qt::QueuedConnection);
  });
}

}  // namespace app
