#include "app/frm_tests.h"

#include <QCloseEvent>
#include <string_view>

#include "app/accessibility.h"
#include "app/twips.h"

namespace app {
namespace {

constexpr int kClientWidthTwips = 6705;
constexpr int kClientHeightTwips = 5145;

}  // namespace

FrmTests::FrmTests(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("frmTests");
  setWindowTitle("Main Testing of Quor-Bus");
  setFixedSize(twips_size(kClientWidthTwips, kClientHeightTwips));
  move(twips_to_pixels(3240), twips_to_pixels(2790));

  struct Layout {
    QPushButton** member;
    const char* name;
    std::string_view caption;
    int left, top, width, height;
  };
  // The test buttons read their procedures' captions.
  const auto caption = [](ProcedureKind test) { return core::procedure_row(test).caption; };
  // In creation order; the tab order follows the design's tab indexes below.
  const Layout layout[] = {
      {&cmdExit, "cmdExit", "EXIT", 1320, 4080, 855, 615},
      {&cmdStop, "cmdStop", "STOP TEST", 240, 4080, 855, 615},
      {&cmdTrnsrecm, "cmdTrnsrecm", caption(ProcedureKind::trnsrecm), 2400, 3840, 1575, 495},
      {&cmdSelfLong, "cmdSelfLong", caption(ProcedureKind::self_long), 360, 2640, 1575, 495},
      {&cmdTrnorecm, "cmdTrnorecm", caption(ProcedureKind::trnorecm), 2400, 3240, 1575, 495},
      {&cmdTrndrecm, "cmdTrndrecm", caption(ProcedureKind::trndrecm), 2400, 2640, 1575, 495},
      {&cmdTrncrecm, "cmdTrncrecm", caption(ProcedureKind::trncrecm), 2400, 2040, 1575, 495},
      {&cmdStamp, "cmdStamp", caption(ProcedureKind::stamp), 4440, 3840, 1575, 495},
      {&cmdSelfloop2, "cmdSelfloop2", caption(ProcedureKind::self_loop2), 360, 3240, 1575, 495},
      {&cmdRecM, "cmdRecM", caption(ProcedureKind::recm), 4440, 2640, 1575, 495},
      {&cmdRec, "cmdRec", caption(ProcedureKind::rec), 4440, 2040, 1575, 495},
      {&cmdSelfLoop, "cmdSelfLoop", caption(ProcedureKind::self_loop), 360, 2040, 1575, 495},
  };
  for (const Layout& entry : layout) {
    auto* button = new QPushButton(
        QString::fromUtf8(entry.caption.data(), static_cast<qsizetype>(entry.caption.size())),
        this);
    button->setObjectName(entry.name);
    place(button, entry.left, entry.top, entry.width, entry.height, 8.25);
    *entry.member = button;
  }
  lblText = new QLabel(this);
  lblText->setObjectName("lblText");
  lblText->setWordWrap(true);
  lblText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lblText->setGeometry(twips_rect(360, 120, 5895, 1815));
  lblText->setFont(station_font(27.75, true, "Arial Black"));

  // The design's tab indexes (the label at index 9 takes no focus).
  QWidget* tab_order[] = {cmdSelfLoop, cmdRec,      cmdRecM,     cmdSelfloop2,
                          cmdStamp,    cmdTrncrecm, cmdTrndrecm, cmdTrnorecm,
                          cmdSelfLong, cmdTrnsrecm, cmdStop,     cmdExit};
  for (std::size_t i = 0; i + 1 < std::size(tab_order); ++i) {
    setTabOrder(tab_order[i], tab_order[i + 1]);
  }

  test_buttons_ = {cmdSelfLoop, cmdRec,      cmdRecM,     cmdSelfloop2, cmdStamp,
                   cmdTrncrecm, cmdTrndrecm, cmdTrnorecm, cmdSelfLong,  cmdTrnsrecm};
  for (std::size_t i = 0; i < kTestCount; ++i) {
    const ProcedureKind test = kConsoleTests[i];
    connect(test_buttons_[i], &QPushButton::clicked, this,
            [this, test] { emit test_clicked(test); });
  }
  connect(cmdStop, &QPushButton::clicked, this, [this] { emit stop_clicked(); });
  connect(cmdExit, &QPushButton::clicked, this, [this] { emit exit_clicked(); });
  set_running(false);
  make_accessible(*this);
}

QPushButton* FrmTests::button(ProcedureKind test) const {
  for (std::size_t i = 0; i < kTestCount; ++i) {
    if (kConsoleTests[i] == test) return test_buttons_[i];
  }
  return nullptr;
}

void FrmTests::set_running(bool running) {
  running_ = running;
  for (QPushButton* button : test_buttons_) button->setEnabled(!running);
  cmdStop->setVisible(running);
  cmdExit->setVisible(!running);
}

void FrmTests::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    return;
  }
  event->accept();
  // Closing the window unloads it, as EXIT does.
  emit exit_clicked();
}

}  // namespace app
