// Runs GoogleTest inside a QApplication on the offscreen platform, so windows can be created
// and rendered without a display.
#include <QApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Whatever the view reads from the settings comes from Qt's test folder, not the user's.
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
