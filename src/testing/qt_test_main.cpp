// Entry point of the suites that run real windows (on the offscreen platform).
#include <gtest/gtest.h>

#include <QApplication>
#include <QThreadPool>
#include <cstdlib>

int main(int argc, char* argv[]) {
  // The windows are drawn off screen unless a platform was chosen (to watch them, say).
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  // A report a test left writing is finished while the fonts it lays out with still exist.
  QThreadPool::globalInstance()->waitForDone();
  return status;
}
