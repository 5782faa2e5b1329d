// What a screen reader finds on the accessibility bus: each of the windows announced as a
// window, and every button, label, text box, choice box, table, menu item and progress bar named
// by its caption (or by its control name where it has no caption).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/initialize_dialog.h"
#include "station/station_windows.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"

namespace {

enum class Window { DisplayForm, Initialize, FrmTests, FrmResults, FrmTrace };

void PrintTo(Window window, std::ostream* out) {
  constexpr const char* kNames[] = {"DisplayForm", "Initialize", "frmTests", "frmResults",
                                    "frmTrace"};
  *out << kNames[static_cast<int>(window)];
}

QString without_mnemonic(QString caption) {
  caption.replace("&&", QString(QChar(0x1)));
  caption.remove('&');
  caption.replace(QChar(0x1), "&");
  return caption;
}

// The caption a control shows, empty where it has none.
QString caption_of(QWidget* control) {
  if (auto* button = qobject_cast<QAbstractButton*>(control))
    return without_mnemonic(button->text());
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
  if (auto* frame = qobject_cast<QGroupBox*>(control)) return without_mnemonic(frame->title());
  // On Linux a choice box reads its current choice; its label names it by a relation.
  if (auto* choices = qobject_cast<QComboBox*>(control)) return choices->currentText();
  return {};
}

bool is_named_control(QWidget* control) {
  return qobject_cast<QAbstractButton*>(control) != nullptr ||
         qobject_cast<QLabel*>(control) != nullptr ||
         qobject_cast<QLineEdit*>(control) != nullptr ||
         qobject_cast<QPlainTextEdit*>(control) != nullptr ||
         qobject_cast<QComboBox*>(control) != nullptr ||
         qobject_cast<QAbstractItemView*>(control) != nullptr ||
         qobject_cast<QProgressBar*>(control) != nullptr;
}

QString accessible_name(QObject* object) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
  return face == nullptr ? QString("<no interface>") : face->text(QAccessible::Name);
}

class AccessibilityTest : public ::testing::TestWithParam<Window>,
                          protected testing_support::SimStation {
 protected:
  AccessibilityTest()
      : SimStation({.window_events = testing_support::run_qt_events, .traced = true}),
        sinks(*traced),
        windows(station, [] {}) {
    windows.attach_trace(sinks, {});
  }

  QWidget& window() {
    switch (GetParam()) {
      case Window::DisplayForm:
        return windows.form();
      case Window::Initialize:
        if (!initialize) initialize = std::make_unique<app::InitializeDialog>();
        return *initialize;
      case Window::FrmTests:
        windows.form().mnuTest->trigger();
        return *windows.test_console().console();
      case Window::FrmResults:
        return windows.test_console().results();
      case Window::FrmTrace:
        windows.form().mnuTrace->trigger();
        return *windows.trace_window();
    }
    return windows.form();
  }

  visa::TraceSinks sinks;
  station::StationWindows windows;
  std::unique_ptr<app::InitializeDialog> initialize;
};

TEST_P(AccessibilityTest, TheWindowIsAnnouncedAsAWindow) {
  QWidget& shown = window();
  shown.show();
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&shown);
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(face->role(), QAccessible::Window) << "role " << face->role();
  EXPECT_EQ(face->text(QAccessible::Name), shown.windowTitle());
}

TEST_P(AccessibilityTest, EveryControlIsNamedByItsCaptionOrItsControlName) {
  QWidget& shown = window();
  int checked = 0;
  for (QWidget* control : shown.findChildren<QWidget*>()) {
    // Qt's own parts of a window (the menu bar's extension button, say) are named "qt_...".
    if (!is_named_control(control) || control->objectName().isEmpty() ||
        control->objectName().startsWith("qt_")) {
      continue;
    }
    const QString caption = caption_of(control);
    const QString expected = caption.isEmpty() ? control->objectName() : caption;
    EXPECT_EQ(accessible_name(control).toStdString(), expected.toStdString())
        << control->objectName().toStdString();
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST_P(AccessibilityTest, ALabelReadsTheCaptionItIsGivenLaterAndItsNameWithoutOne) {
  QWidget& shown = window();
  for (QLabel* label : shown.findChildren<QLabel*>()) {
    if (label->objectName().isEmpty() || label->objectName().startsWith("qt_")) continue;
    label->setText("Self Test Passed");
    EXPECT_EQ(accessible_name(label).toStdString(), "Self Test Passed");
    label->clear();
    EXPECT_EQ(accessible_name(label), label->objectName());
  }
}

// The windows with a menu bar.
class MenuAccessibilityTest : public AccessibilityTest {};

TEST_P(MenuAccessibilityTest, EveryMenuItemIsNamedByItsCaption) {
  QWidget& shown = window();
  std::vector<QWidget*> menus;
  for (QMenuBar* bar : shown.findChildren<QMenuBar*>()) menus.push_back(bar);
  for (QMenu* menu : shown.findChildren<QMenu*>()) menus.push_back(menu);
  for (QWidget* menu : menus) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(menu);
    ASSERT_NE(face, nullptr);
    std::vector<std::string> names;
    std::vector<std::string> captions;
    for (int i = 0; i < face->childCount(); ++i) {
      names.push_back(face->child(i)->text(QAccessible::Name).toStdString());
    }
    for (QAction* item : menu->actions()) {
      captions.push_back(item->isSeparator() ? std::string()
                                             : without_mnemonic(item->text()).toStdString());
    }
    EXPECT_FALSE(captions.empty()) << menu->objectName().toStdString();
    EXPECT_EQ(names, captions) << menu->objectName().toStdString();
  }
  EXPECT_FALSE(menus.empty());
}

INSTANTIATE_TEST_SUITE_P(Windows, AccessibilityTest,
                         ::testing::Values(Window::DisplayForm, Window::Initialize,
                                           Window::FrmTests, Window::FrmResults, Window::FrmTrace));
INSTANTIATE_TEST_SUITE_P(Windows, MenuAccessibilityTest,
                         ::testing::Values(Window::DisplayForm, Window::FrmResults));

}  // namespace
