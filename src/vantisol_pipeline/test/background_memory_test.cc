// The background effects' GPU objects exist only while a background mode is on.
#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "algorithms/renderer.h"
#include "pipeline_test_support.h"
#include "soak.h"
#include "test_folder.h"

namespace vantisol {
namespace {

using Live = std::array<int64_t, 3>;  // textures, buffers, framebuffers

// Counts the live GL objects on the render thread at the start of every frame, that is, as the
// previous frame left them.
class LiveObjects {
 public:
  explicit LiveObjects(VantisolPipeline* pipeline) {
    pipeline->SetStageProbe([this](const char* stage, const ImageData&) {
      if (std::string(stage) != "start") return;
      probe_.Probe();
      std::lock_guard<std::mutex> lock(mutex_);
      last_ = probe_.Live();
    });
  }
  Live last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
  }

 private:
  tools::GlNameProbe probe_;
  std::mutex mutex_;
  Live last_{-1, -1, -1};
};

std::string Text(const Live& live) {
  return std::to_string(live[0]) + " textures, " + std::to_string(live[1]) + " buffers, " +
         std::to_string(live[2]) + " framebuffers";
}

class PipelineMemoryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { frames_ = new std::vector<test::TrueFrame>(Capture()); }
  static void TearDownTestSuite() { delete frames_; }
  static std::vector<test::TrueFrame> Capture() { return test::CaptureFrames(3, false, 3); }

  // The project's own segmentation, whose history makes consecutive outputs differ.
  static void Configure(VantisolPipeline* pipeline) {
    pipeline->SetColorCorrection(false);
    pipeline->SetPersonify(false);
  }
  // Every frame once, the outputs in order.
  static std::vector<Image> Run(test::PipelineRig* rig) {
    std::vector<Image> outputs;
    for (const auto& frame : *frames_) outputs.push_back(rig->Process(frame.frame));
    return outputs;
  }
  // Enough frames without a background effect for its objects to be let go, and one more, since
  // the objects are counted as a frame starts.
  static void StayOff(test::PipelineRig* rig) {
    for (int i = 0; i <= VantisolPipeline::kFramesBeforeReleasingBackground; ++i) {
      rig->Process(frames_->front().frame);
    }
  }

  static std::vector<test::TrueFrame>* frames_;
};

std::vector<test::TrueFrame>* PipelineMemoryTest::frames_ = nullptr;

TEST_F(PipelineMemoryTest, SwitchingOffLetsTheObjectsGoAndSwitchingOnStartsAfresh) {
  ASSERT_EQ(frames_->size(), 3u);
  test::TemporaryFolder folder;
  cv::Mat picture(720, 1280, CV_8UC3);
  cv::randu(picture, 0, 256);
  const std::string picture_file = folder.str() + "/picture.png";
  ASSERT_TRUE(cv::imwrite(picture_file, picture));

  // A fresh pipeline whose blur size reaches blur objects that exist, with the history restarted.
  std::vector<Image> fresh;
  {
    test::PipelineRig rig;
    Configure(rig.pipeline.get());
    rig.pipeline->SetBackgroundMode(1);
    rig.Process(frames_->front().frame);
    rig.pipeline->SetBlurAmount(5);
    rig.pipeline->ResetHistory();
    fresh = Run(&rig);
  }

  test::PipelineRig rig;
  Configure(rig.pipeline.get());
  LiveObjects live(rig.pipeline.get());
  // The depth stages serve the depth-map view too and stay: a depth-map frame makes them first.
  rig.pipeline->renderer()->draw_depthmap_ = true;
  rig.Process(frames_->front().frame);
  rig.pipeline->renderer()->draw_depthmap_ = false;
  Run(&rig);
  const Live plain = live.last();
  ASSERT_GT(plain[0], 0);

  // The blur's size is changed while its objects exist: the next ones must take it too.
  rig.pipeline->SetBackgroundMode(1);
  Run(&rig);
  rig.pipeline->SetBlurAmount(5);
  const std::vector<Image> continued = Run(&rig);
  EXPECT_GT(live.last()[0], plain[0] + 10) << "the blur made no textures: " << Text(live.last());

  // Switched off only briefly, the objects stay for a quick return.
  rig.pipeline->SetBackgroundMode(0);
  Run(&rig);
  EXPECT_GT(live.last()[0], plain[0] + 10) << "let go at once: " << Text(live.last());
  StayOff(&rig);
  EXPECT_EQ(live.last(), plain) << "blur switched off: " << Text(live.last()) << " instead of "
                                << Text(plain);

  rig.pipeline->SetBackgroundMode(1);
  const std::vector<Image> again = Run(&rig);
  for (size_t i = 0; i < again.size(); ++i) {
    const auto difference = test::Compare(again[i], fresh[i], 0);
    EXPECT_EQ(difference.over, 0) << "frame " << i << " after switching the blur on again differs "
                                  << "from a fresh pipeline's by up to " << difference.max;
  }
  // The history does make a difference, or the comparison above proves little.
  EXPECT_GT(test::Compare(continued[0], fresh[0], 0).over, 0);

  rig.pipeline->SetBackgroundMode(0);
  StayOff(&rig);
  rig.pipeline->SetBackgroundMode(2);
  ASSERT_TRUE(rig.pipeline->SetBackground(picture_file));
  const Image replaced = rig.Process(frames_->front().frame);
  rig.pipeline->SetBackgroundMode(0);
  StayOff(&rig);
  // Only the user's picture stays, in one texture.
  const Live kept{plain[0] + 1, plain[1], plain[2]};
  EXPECT_EQ(live.last(), kept) << "replacement switched off: " << Text(live.last())
                               << " instead of " << Text(kept);
  rig.pipeline->SetBackgroundMode(2);
  const auto difference = test::Compare(rig.Process(frames_->front().frame), replaced, 0);
  EXPECT_EQ(difference.over, 0) << "the replacement picture was lost: differences up to "
                                << difference.max;
}

// Frames without faces or depth in a background mode keep the objects and the history: only
// the mode going back to 0 lets them go.
TEST_F(PipelineMemoryTest, FramesWithoutDepthKeepTheHistory) {
  ASSERT_EQ(frames_->size(), 3u);
  const auto without_depth = [](const ImageData& frame) {
    return std::make_shared<const ImageData>(frame.color, frame.segmentation, CameraImage(),
                                             frame.mapped_depth, frame.faces, frame.latency);
  };
  std::vector<Image> uninterrupted;
  {
    test::PipelineRig rig;
    Configure(rig.pipeline.get());
    rig.pipeline->SetBackgroundMode(1);
    uninterrupted = Run(&rig);
  }
  test::PipelineRig rig;
  Configure(rig.pipeline.get());
  rig.pipeline->SetBackgroundMode(1);
  LiveObjects live(rig.pipeline.get());
  rig.Process((*frames_)[0].frame);
  rig.Process(without_depth(*(*frames_)[1].frame));
  const Live kept = live.last();
  rig.Process((*frames_)[1].frame);
  EXPECT_EQ(live.last(), kept) << "after a frame without depth: " << Text(live.last())
                               << " instead of " << Text(kept);
  const Image last = rig.Process((*frames_)[2].frame);
  EXPECT_EQ(test::Compare(last, uninterrupted[2], 0).over, 0)
      << "a frame without depth broke the segmentation's history";
}

}  // namespace
}  // namespace vantisol
