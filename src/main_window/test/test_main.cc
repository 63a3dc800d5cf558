#include <gtest/gtest.h>

#include <QApplication>

#include "main_window/main_window.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vantisol::SetApplicationInfo();
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
