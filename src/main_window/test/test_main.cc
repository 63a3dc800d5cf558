#include <gtest/gtest.h>

#include <QApplication>

#include "main_window/main_window.h"

// Qt's platform plug-in talks to the session bus, and libdbus keeps one buffer to the end of the
// process; the leak checker is told about that library only.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vantisol::SetApplicationInfo();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
