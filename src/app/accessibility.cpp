#include "app/accessibility.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextEdit>
#include <QWidget>

namespace app {
namespace {

// Controls of the station carry a name; Qt's own parts of a window are named "qt_...".
bool is_station_control(const QObject& object) {
  const QString name = object.objectName();
  return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

// A label that reads its caption while it has one and its control name otherwise. The station's
// labels hold plain text.
class NamedLabel final : public QAccessibleWidget {
 public:
  explicit NamedLabel(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

  QString text(QAccessible::Text kind) const override {
    if (kind != QAccessible::Name) return QAccessibleWidget::text(kind);
    const auto* label = static_cast<const QLabel*>(widget());
    if (!label->accessibleName().isEmpty()) return label->accessibleName();
    if (!label->text().isEmpty()) return label->text();
    return label->objectName();
  }
};

QAccessibleInterface* station_interface(const QString& key, QObject* object) {
  if (object == nullptr || !object->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(object);
  // Asked for the widget's own class first: a top-level window (not a menu's pop-up) whose class
  // derives from QWidget itself (not from QMainWindow or QDialog, which Qt announces as windows
  // already).
  if (widget->windowType() == Qt::Window &&
      key == QLatin1String(object->metaObject()->className()) &&
      object->metaObject()->superClass() == &QWidget::staticMetaObject &&
      is_station_control(*object)) {
    return new QAccessibleWidget(widget, QAccessible::Window);
  }
  if (key == QLatin1String("QLabel") && is_station_control(*object)) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return new NamedLabel(label);
  }
  return nullptr;
}

// Drops an interface Qt made for `object` before the station's factory was in place (a label
// asks for its own while its caption is first set), so that the next request makes it anew.
void forget_interface_unless(QObject* object, bool (*made_by_station)(QAccessibleInterface*)) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
  if (face != nullptr && !made_by_station(face)) {
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(face));
  }
}

}  // namespace

void make_accessible(QWidget& window) {
  // Qt keeps one list of factories for the process and asks the latest first; the station's is
  // added once, when the first window is built (the application exists by then).
  static const bool installed = [] {
    QAccessible::installFactory(&station_interface);
    return true;
  }();
  static_cast<void>(installed);

  forget_interface_unless(
      &window, [](QAccessibleInterface* face) { return face->role() == QAccessible::Window; });
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (!is_station_control(*label)) continue;
    forget_interface_unless(label, [](QAccessibleInterface* face) {
      return dynamic_cast<NamedLabel*>(face) != nullptr;
    });
  }

  for (QWidget* control : window.findChildren<QWidget*>()) {
    const bool without_caption = qobject_cast<QLineEdit*>(control) != nullptr ||
                                 qobject_cast<QPlainTextEdit*>(control) != nullptr ||
                                 qobject_cast<QTextEdit*>(control) != nullptr ||
                                 qobject_cast<QProgressBar*>(control) != nullptr ||
                                 qobject_cast<QComboBox*>(control) != nullptr ||
                                 qobject_cast<QAbstractItemView*>(control) != nullptr ||
                                 qobject_cast<QAbstractSpinBox*>(control) != nullptr;
    if (without_caption && is_station_control(*control) && control->accessibleName().isEmpty()) {
      control->setAccessibleName(control->objectName());
    }
  }
}

}  // namespace app
