#include <gtest/gtest.h>

#include <QApplication>

#include "platform/runtime/Locale.h"

#include <cstdlib>

// Widget tests need one application object for the whole run. They are
// headless unless the caller asks for a platform, test discovery included.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  zr::rt::EnsureUtf8Locale();
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
