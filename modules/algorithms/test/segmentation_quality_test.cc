// Foreground extraction and temporal segmentation on the simulated camera's frames, measured
// against the simulation's true person mask.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <opencv2/imgproc.hpp>

#include "segmentation_stage.h"
#include "test_support.h"

namespace vantisol {
namespace {

const Size kSize{1280, 720};

// Pixels farther than `band` from the true boundary, by their true label.
std::vector<uint8_t> FarFromBoundary(const std::vector<uint8_t>& truth, int band) {
  const cv::Mat t(kSize.height, kSize.width, CV_8UC1, const_cast<uint8_t*>(truth.data()));
  cv::Mat inside, outside;
  cv::distanceTransform(t, inside, cv::DIST_L2, cv::DIST_MASK_PRECISE);
  cv::distanceTransform(255 - t, outside, cv::DIST_L2, cv::DIST_MASK_PRECISE);
  std::vector<uint8_t> far(truth.size());
  for (size_t i = 0; i < far.size(); ++i)
    far[i] = inside.at<float>(int(i)) > band || outside.at<float>(int(i)) > band;
  return far;
}

// Where a developer asked for pictures (VANTISOL_SEGMENTATION_PICTURES), they are written.
void Picture(const std::string& name, const std::vector<uint8_t>& grey) {
  if (const char* folder = std::getenv("VANTISOL_SEGMENTATION_PICTURES"))
    test::WritePng(std::string(folder) + "/" + name + ".png", grey, kSize);
}

TEST(ForegroundExtractionQualityTest, TrimapAgreesWithTheTruthAwayFromTheBoundary) {
  test::ScopedScenario scenario;
  test::SimulatedFrames frames(kSize);
  test::SegmentationStage stage;
  int checked = 0;
  for (int n = 0; n < 8; ++n) {
    auto frame = frames.Next();
    ASSERT_NE(frame, nullptr);
    if (!stage.Process(*frame)) continue;
    const auto truth = frames.TrueMask();
    const auto trimap = stage.Trimap();
    const auto far = FarFromBoundary(truth, 6);
    size_t person = 0, background = 0, lost = 0, invented = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
      if (!far[i]) continue;
      if (truth[i] == 255) {
        ++person;
        lost += trimap[i] == 0;
      } else {
        ++background;
        invented += trimap[i] == 255;
      }
    }
    ASSERT_GT(person, truth.size() / 50);
    EXPECT_LT(double(lost) / person, 0.01) << "frame " << n;
    EXPECT_LT(double(invented) / background, 0.01) << "frame " << n;
    std::cout << "frame " << n << " threshold " << stage.foreground_extractor.last_threshold()
              << " lost " << double(lost) / person << " invented " << double(invented) / background
              << "\n";
    ++checked;
    Picture("trimap" + std::to_string(n), trimap);
    Picture("truth" + std::to_string(n), truth);
  }
  EXPECT_GT(checked, 5);
}

}  // namespace
}  // namespace vantisol
