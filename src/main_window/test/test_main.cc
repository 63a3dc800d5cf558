#include <gtest/gtest.h>

#include <QApplication>

#include "main_window/main_window.h"
#include "program_test_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Before the first thread that logs.
  vantisol::test::LogRecorder::Install();
  vantisol::SetApplicationInfo();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
