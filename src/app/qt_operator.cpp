#include "app/qt_operator.h"

#include <QApplication>
#include <QDate>
#include <QInputDialog>
#include <QLocale>
#include <QMessageBox>

#include "app/module_text.h"
#include "app/report_printing.h"

namespace app {
namespace {

// The title of a box that names none of its own: the program's.
constexpr const char* kDefaultTitle = "Quor-Bus Test Program";

QString title_or_default(const std::string& title) {
  return QString::fromStdString(title.empty() ? std::string(kDefaultTitle) : title);
}

}  // namespace

void QtOperator::message(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::NoIcon, title_or_default(title), module_text(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

std::optional<std::string> QtOperator::input(const std::string& prompt,
                                             const std::string& default_answer,
                                             const std::string& title) {
  bool accepted = false;
  const QString answer = QInputDialog::getText(
      QApplication::activeWindow(), title_or_default(title), QString::fromStdString(prompt),
      QLineEdit::Normal, QString::fromStdString(default_answer), &accepted);
  if (!accepted) return std::nullopt;
  return answer.toStdString();
}

void QtOperator::print(const std::string& text) {
  // With no printer set up it says so and offers the PDF file instead.
  print_report(
      QApplication::activeWindow(), [text] { return plain_report_document(text); },
      QStringLiteral("report.pdf"));
}

std::string QtOperator::short_date() {
  return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
}

}  // namespace app
