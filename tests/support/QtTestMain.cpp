#include <gtest/gtest.h>

#include <QApplication>

#include "platform/runtime/Locale.h"

// Widget tests need one application object for the whole run; the platform
// plug-in comes from QT_QPA_PLATFORM, offscreen unless told otherwise.
int main(int argc, char** argv) {
  zr::rt::EnsureUtf8Locale();
  // Test discovery runs the program without ctest's environment.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
