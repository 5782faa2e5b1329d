// How the station's windows read on the accessibility bus (a screen reader's view of them).
#pragma once

class QWidget;

namespace app {

// Called at the end of a window's constructor:
//  - a top-level window built on a plain QWidget is announced as a window; Qt gives a plain
//    widget the "client" role, which the bus shows as a filler, whatever its window flags;
//  - a named label reads its caption, or its control name while it has none;
//  - a text box, list, table, choice box or progress bar, which has no caption, reads its
//    control name.
// Captions, sizes and behaviour stay as they are.
void make_accessible(QWidget& window);

}  // namespace app
