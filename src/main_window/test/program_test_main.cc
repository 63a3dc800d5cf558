#include <gtest/gtest.h>

#include <QCoreApplication>

#include "leak_check.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vantisol::test::SkipLeakCheckInChildren();
  QCoreApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
