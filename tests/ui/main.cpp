// The window tests run under GoogleTest inside one QApplication on Qt's
// offscreen platform, so they need no display and click the real controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "ui/ProgramWindows.h"
#include "ui/SanitizerSuppressions.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  sdm::ApplyProgramLook(app);
  return RUN_ALL_TESTS();
}
