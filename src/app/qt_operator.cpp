#include "app/qt_operator.h"

#include <QApplication>
#include <QDate>
#include <QInputDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QTextDocument>

#include "app/module_text.h"

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
  QPrinter printer;
  if (!printer.isValid()) {
    // Nothing would come out, and nothing would say so.
    message("No printer is set up on this station: the report was not printed.", {});
    return;
  }
  QTextDocument document;
  document.setPlainText(module_text(text));
  document.print(&printer);
}

std::string QtOperator::short_date() {
  return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
}

}  // namespace app
