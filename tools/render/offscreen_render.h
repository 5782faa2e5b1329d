// For the programs that draw the station's windows into PNG files: a station on the standard
// simulated bench and virtual time, the output folder, and the snapshot itself.
#pragma once

#include <QDir>
#include <QString>
#include <QWidget>
#include <cstdio>

#include "core/station.h"
#include "testing/qt_virtual_pump.h"
#include "testing/sim_station.h"

namespace testing_support {

struct RenderedStation : SimStation {
  RenderedStation()
      : SimStation({.window_events = run_qt_events,
                    .in_use = {"no VISA library found, no real module is tested", true}}) {}
};

// The folder named on the command line (made when missing), else the current one.
inline QString render_folder(int argc, char* argv[]) {
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
  QDir().mkpath(folder);
  return folder;
}

inline bool save_snapshot(QWidget* widget, const QString& path) {
  const bool saved = widget->grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", path.toLocal8Bit().constData());
  return saved;
}

}  // namespace testing_support
