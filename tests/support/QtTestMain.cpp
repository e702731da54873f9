#include <gtest/gtest.h>

#include <QApplication>

#include "platform/runtime/Locale.h"

// Widget tests need one application object for the whole run; the platform
// plug-in comes from QT_QPA_PLATFORM (offscreen under ctest).
int main(int argc, char** argv) {
  zr::rt::EnsureUtf8Locale();
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
