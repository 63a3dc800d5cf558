#include "utils/fps_calculator.h"

#include <gtest/gtest.h>

namespace vantisol {
namespace {

constexpr int64_t kMs = 10000;  // 100-ns ticks per millisecond

class FpsCalculatorTest : public testing::Test {
 protected:
  int64_t now_ = 1234567;
  FpsCalculator fps_{[this] { return now_; }};
};

TEST_F(FpsCalculatorTest, FirstFrameIsZeroAndTwoFramesGiveTheirRate) {
  EXPECT_EQ(fps_.AddFrame(), 0.0f);
  now_ += 100 * kMs;
  EXPECT_FLOAT_EQ(fps_.AddFrame(), 10.0f);
}

TEST_F(FpsCalculatorTest, KeepsOnlyAboutOneSecondOfStamps) {
  float rate = 0;
  for (int i = 0; i <= 60; ++i) {
    rate = fps_.AddFrame();
    now_ += 33 * kMs;
  }
  EXPECT_NEAR(rate, 1000.0f / 33.0f, 0.05f);
  // 30 stamps within the second plus the one just before it.
  EXPECT_EQ(fps_.time_stamps().size(), 32u);
}

TEST_F(FpsCalculatorTest, PauseCountsOneLongInterval) {
  for (int i = 0; i < 10; ++i) {
    fps_.AddFrame();
    now_ += 33 * kMs;
  }
  now_ += 3000 * kMs - 33 * kMs;
  EXPECT_FLOAT_EQ(fps_.AddFrame(), 1.0f / 3.0f);
  EXPECT_EQ(fps_.time_stamps().size(), 2u);
}

TEST_F(FpsCalculatorTest, StampExactlyOneSecondOldIsTheOneKeptBefore) {
  fps_.AddFrame();
  now_ += 500 * kMs;
  fps_.AddFrame();
  now_ += 500 * kMs;
  // Stamps at 0, 500, 1000 ms: 0 is not greater than last - 1 s, so it is the one kept before.
  EXPECT_FLOAT_EQ(fps_.AddFrame(), 2.0f);
  EXPECT_EQ(fps_.time_stamps().size(), 3u);
}

}  // namespace
}  // namespace vantisol
