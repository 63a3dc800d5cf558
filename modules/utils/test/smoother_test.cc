#include "utils/smoother.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vantisol::utils {
namespace {

constexpr int64_t kSecond = 1000000000;

TEST(SmootherAlphaCalculatorTest, FirstSampleTakesTheNewValue) {
  SmootherAlphaCalculator smoother(0.525f);
  EXPECT_EQ(smoother.GetAlpha(123456789), 1.0f);
  EXPECT_LT(smoother.GetAlpha(123456789 + kSecond / 30), 1.0f);
  smoother.Reset();
  EXPECT_EQ(smoother.GetAlpha(0), 1.0f);
}

TEST(SmootherAlphaCalculatorTest, WeightFollowsTheTimeConstant) {
  SmootherAlphaCalculator smoother(0.525f);
  smoother.GetAlpha(0);
  EXPECT_NEAR(smoother.GetAlpha(kSecond / 30), 1 - std::exp(-0.0635f), 1e-4);
  EXPECT_NEAR(smoother.GetAlpha(kSecond / 30 + 525000000), 1 - std::exp(-1.0f), 1e-5);
  EXPECT_EQ(smoother.GetAlpha(kSecond / 30 + 525000000), 0.0f);  // same stamp: no weight
}

TEST(SmootherAlphaCalculatorTest, ZeroTimeConstantTurnsSmoothingOff) {
  SmootherAlphaCalculator smoother(0.0f);
  for (int64_t t : {0LL, 0LL, 5LL, 1000000000LL}) EXPECT_EQ(smoother.GetAlpha(t), 1.0f);
}

TEST(SmootherAlphaCalculatorTest, StampFromThePastKeepsTheSmoothedValue) {
  SmootherAlphaCalculator smoother(0.525f);
  smoother.GetAlpha(kSecond);
  EXPECT_EQ(smoother.GetAlpha(0), 0.0f);
  // The past stamp became the reference.
  EXPECT_NEAR(smoother.GetAlpha(525000000), 1 - std::exp(-1.0f), 1e-5);
}

}  // namespace
}  // namespace vantisol::utils
