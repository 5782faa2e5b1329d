// quor_fault_matrix: runs every functional test and the self and memory tests on a healthy
// simulated bench and with each fault the simulated chassis can inject, in virtual time, and
// prints which test catches which fault:
//   quor_fault_matrix          a Markdown table
//   quor_fault_matrix --csv    CSV
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fault_matrix.h"

namespace {

// The off-screen platform's notes on window raising say nothing about the matrix.
void quiet_platform_notes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg && text.startsWith("This plugin does not support")) return;
  std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, text).toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char* argv[]) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  bool as_csv = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--csv") == 0) {
      as_csv = true;
    } else {
      std::fprintf(stderr, "usage: quor_fault_matrix [--csv]\n");
      return 2;
    }
  }
  qInstallMessageHandler(quiet_platform_notes);
  QApplication application(argc, argv);
  const auto start = std::chrono::steady_clock::now();
  const std::vector<fault_matrix::Row> rows = fault_matrix::run_matrix();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const std::string text = as_csv ? fault_matrix::csv(rows) : fault_matrix::markdown(rows);
  std::fputs(text.c_str(), stdout);
  std::fprintf(stderr, "%zu benches in %.1f s\n", rows.size() * fault_matrix::test_names().size(),
               seconds);
  return EXIT_SUCCESS;
}
