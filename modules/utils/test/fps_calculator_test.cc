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

// The window holds the stamps newer than one second before the last, plus the one just before
// them. A stamp exactly one second old is that one (nothing older stays); one tick newer, it is
// inside, and the stamp before it stays too.
TEST_F(FpsCalculatorTest, WindowBoundaryIsExactlyOneSecond) {
  for (const int64_t offset : {int64_t{0}, int64_t{1}}) {
    FpsCalculator fps([this] { return now_; });
    const int64_t start = now_;
    float rate = 0;
    for (const int64_t stamp : {-100 * kMs, offset, 500 * kMs, 1000 * kMs}) {
      now_ = start + stamp;
      rate = fps.AddFrame();
    }
    // Two intervals over one second, or three over 1.1 seconds.
    EXPECT_FLOAT_EQ(rate, offset == 0 ? 2.0f : 3.0f / 1.1f) << offset;
    EXPECT_EQ(fps.time_stamps().size(), offset == 0 ? 3u : 4u) << offset;
    EXPECT_EQ(fps.time_stamps().front(), start + (offset == 0 ? 0 : -100 * kMs)) << offset;
  }
}

}  // namespace
}  // namespace vantisol
