// Requests that take effect on the next frame only.
#include <gtest/gtest.h>

#include "gl_test.h"
#include "pipeline_test_support.h"

namespace vantisol {
namespace {

// A history reset is consumed by the frame after it: kept raised, it would throw the background
// model away on every frame and the model would never build up.
TEST(HistoryResetTest, IsConsumedByOneFrame) {
  const std::vector<test::TrueFrame> frames = test::CaptureFrames(1, true, 3);
  ASSERT_EQ(frames.size(), 1u);
  test::PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.pipeline->SetPersonify(false);
  rig.pipeline->SetBackgroundMode(1);  // leaving mode 0 raises the reset
  rig.pipeline->SetBwSegmentation(true);
  ASSERT_TRUE(rig.pipeline->settings().reset_history);
  for (int round = 0; round < 2; ++round) {
    rig.Process(frames[0].frame);
    EXPECT_FALSE(rig.pipeline->settings().reset_history) << round;
    rig.Process(frames[0].frame);
    EXPECT_FALSE(rig.pipeline->settings().reset_history) << round;
    rig.pipeline->ResetHistory();
    EXPECT_TRUE(rig.pipeline->settings().reset_history) << round;
  }
}

}  // namespace
}  // namespace vantisol
