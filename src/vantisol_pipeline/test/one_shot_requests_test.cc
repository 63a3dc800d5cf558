// Requests that take effect on the next frame only.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

#include "gl_test.h"
#include "pipeline_test_support.h"
#include "test_folder.h"

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

// Each background picture set is uploaded once, by the next frame that replaces the background:
// kept, it would be uploaded and scaled again in every frame. The green stand-in for no picture is
// uploaded once too, and a failed load uploads nothing.
TEST(ReplacementTest, EachPictureSetIsUploadedOnce) {
  const std::vector<test::TrueFrame> frames = test::CaptureFrames(1, true, 3);
  ASSERT_EQ(frames.size(), 1u);
  test::TemporaryFolder folder;
  const std::string file = folder.str() + "/picture.png";
  ASSERT_TRUE(cv::imwrite(file, cv::Mat(240, 320, CV_8UC3, cv::Scalar(10, 20, 30))));
  test::PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.pipeline->SetPersonify(true);
  rig.pipeline->SetBackgroundMode(2);
  std::atomic<int> uploads{0};
  rig.pipeline->SetStageProbe([&](const char* stage, const ImageData&) {
    if (std::string(stage) == "replacement upload") ++uploads;
  });
  auto uploads_in_three_frames = [&] {
    for (int i = 0; i < 3; ++i) rig.Process(frames[0].frame);
    return uploads.exchange(0);
  };
  EXPECT_EQ(uploads_in_three_frames(), 1) << "the green stand-in";
  ASSERT_TRUE(rig.pipeline->SetBackground(file));
  EXPECT_EQ(uploads_in_three_frames(), 1) << "a picture";
  ASSERT_TRUE(rig.pipeline->SetBackground(file));
  EXPECT_EQ(uploads_in_three_frames(), 1) << "the same picture set again";
  EXPECT_FALSE(rig.pipeline->SetBackground(folder.str() + "/missing.png"));
  EXPECT_EQ(uploads_in_three_frames(), 0) << "a failed load";
  rig.pipeline->SetStageProbe(nullptr);
}

// The same frame 40 ms later with its luma pressed into 40..231: other face levels, which a fresh
// stretch maps onto the targets as it did the original ones.
std::shared_ptr<const ImageData> Pressed(const ImageData& frame) {
  Image color(frame.color.size, frame.color.format);
  const size_t bytes = size_t(frame.color.size.width) * frame.color.size.height * 2;
  std::memcpy(color.data.get(), frame.color.data.get(), bytes);
  for (size_t i = 0; i < bytes; i += 2)
    color.data.get()[i] = uint8_t(40 + color.data.get()[i] * 3 / 4);
  return std::make_shared<const ImageData>(
      CameraImage(color, frame.color.calibration, frame.color.time_stamp + 40000000),
      frame.segmentation, frame.depth, frame.mapped_depth, frame.faces, LatencyCalculator());
}

// Switching colour correction off forgets the software stretch: on again, the next face is mapped
// straight onto the targets, as by a corrector that never ran, not stepped from the old mapping.
TEST(ColourCorrectionTest, SwitchedOffAndOnStartsAfresh) {
  const std::vector<test::TrueFrame> frames = test::CaptureFrames(1, true, 3);
  ASSERT_EQ(frames.size(), 1u);
  const auto pressed = Pressed(*frames[0].frame);
  test::PipelineRig fresh;
  const Image expected = fresh.Process(pressed);
  test::PipelineRig rig;
  rig.Process(frames[0].frame);
  rig.pipeline->SetColorCorrection(false);
  rig.Process(frames[0].frame);
  rig.pipeline->SetColorCorrection(true);
  const Image after = rig.Process(pressed);
  EXPECT_EQ(test::Compare(after, expected, 2).over, 0);
}

}  // namespace
}  // namespace vantisol
