#include <gtest/gtest.h>

#include <QApplication>

#include "main_window/main_window.h"
#include "program_test_support.h"

// The window draws through Mesa's software rasteriser, which leaves a few allocations from its
// generated code behind at exit (no symbol, nothing to free): leak checking is off here, as in the
// other GPU test binaries; the address checks stay on.
extern "C" int __lsan_is_turned_off() { return 1; }

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Before the first thread that logs.
  vantisol::test::LogRecorder::Install();
  vantisol::SetApplicationInfo();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
