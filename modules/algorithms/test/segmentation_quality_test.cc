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

// Worst figures over the frames after the first second of the default scenario.
struct Figures {
  double iou = 1, boundary = 0, flicker = 0, mean_iou = 0;
};

Figures AfterFirstSecond(bool history, int frames) {
  test::ScopedScenario scenario;
  test::SimulatedFrames camera(kSize);
  test::SegmentationStage stage(history);
  Figures figures;
  std::vector<uint8_t> previous_mask, previous_truth;
  int counted = 0;
  for (int n = 0; n < frames; ++n) {
    auto frame = camera.Next();
    EXPECT_NE(frame, nullptr);
    if (!frame || !stage.Process(*frame)) continue;
    if (n < 30) continue;
    const auto mask = stage.Mask();
    const auto truth = camera.TrueMask();
    const auto quality = test::Compare(mask, truth, kSize);
    figures.iou = std::min(figures.iou, quality.iou);
    figures.mean_iou += quality.iou;
    ++counted;
    figures.boundary = std::max(figures.boundary, quality.boundary_error);
    if (!previous_mask.empty()) {
      figures.flicker =
          std::max(figures.flicker, test::Flicker(mask, previous_mask, truth, previous_truth));
    }
    previous_mask = mask;
    previous_truth = truth;
    if (n % 5 == 0) Picture((history ? "mask_on" : "mask_off") + std::to_string(n), mask);
  }
  EXPECT_GT(counted, frames - 35);
  figures.mean_iou /= std::max(counted, 1);
  std::cout << "history " << history << ": worst IoU " << figures.iou << ", mean IoU "
            << figures.mean_iou << ", boundary " << figures.boundary << " px, flicker "
            << figures.flicker * 100 << " %\n";
  return figures;
}

// Bounds set from measured figures with margin (history on: IoU 0.995, boundary 1 px, flicker
// 0.04 %; off: IoU 0.96, boundary 4.5 px, flicker 0.2 %). A perfect score would mean the mask was
// compared with itself.
TEST(TemporalSegmentationQualityTest, MaskFollowsTheTruthAndHistoryHelps) {
  const Figures on = AfterFirstSecond(true, 45);
  const Figures off = AfterFirstSecond(false, 45);
  EXPECT_GE(on.iou, 0.98);
  EXPECT_LT(on.iou, 0.9999);
  EXPECT_LE(on.boundary, 2.5);
  EXPECT_GT(on.boundary, 0.0);
  EXPECT_LE(on.flicker, 0.003);
  EXPECT_GE(off.iou, 0.93);
  EXPECT_LE(off.boundary, 7.0);
  EXPECT_LE(off.flicker, 0.006);
  EXPECT_GE(on.mean_iou, off.mean_iou);
}

}  // namespace
}  // namespace vantisol
