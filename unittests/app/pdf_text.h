// The text of a PDF file as pdftotext (poppler-utils) reads it, in its layout, for the suites that
// check what the station wrote into one.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#ifndef QUOR_PDFTOTEXT
#define QUOR_PDFTOTEXT "pdftotext"
#endif

namespace app_tests {

// The PDF's text, or a text starting "pdftotext failed" that says why.
inline QString pdf_text(const QString& path) {
  QProcess process;
  process.start(QStringLiteral(QUOR_PDFTOTEXT), {QStringLiteral("-layout"), path, "-"});
  if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    return QStringLiteral("pdftotext failed on %1: %2 %3")
        .arg(path, process.errorString(), QString::fromUtf8(process.readAllStandardError()));
  }
  return QString::fromUtf8(process.readAllStandardOutput());
}

}  // namespace app_tests
