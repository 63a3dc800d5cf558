// The temporal segmentation's mask over the first seconds of the default scenario, measured
// against the simulation's true person mask, with history on and off.
#include <gtest/gtest.h>

#include <iostream>

#include "segmentation_stage.h"
#include "test_support.h"

namespace vantisol {
namespace {

const Size kSize{1280, 720};

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
  const Figures on = AfterFirstSecond(true, 40);
  const Figures off = AfterFirstSecond(false, 40);
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

// A static scene: one frame of the scenario shown again and again. Flicker is the share of pixels
// whose mask changes from one showing to the next.
TEST(TemporalSegmentationQualityTest, StaticSceneDoesNotFlicker) {
  test::ScopedScenario scenario;
  test::SimulatedFrames camera(kSize);
  std::shared_ptr<const ImageData> frame;
  for (int n = 0; n < 3; ++n) frame = camera.Next();
  ASSERT_NE(frame, nullptr);
  for (const bool history : {true, false}) {
    test::SegmentationStage stage(history);
    ASSERT_TRUE(stage.Process(*frame));
    std::vector<uint8_t> previous = stage.Mask();
    double worst = 0;
    for (int n = 0; n < 8; ++n) {
      stage.Process(*frame);
      const auto mask = stage.Mask();
      size_t changed = 0;
      for (size_t i = 0; i < mask.size(); ++i) changed += mask[i] != previous[i];
      worst = std::max(worst, double(changed) / mask.size());
      previous = mask;
    }
    std::cout << "history " << history << ": static flicker " << worst * 100 << " %\n";
    // Measured: 0.11 % with history (the model settling over the first showings), 0 without.
    EXPECT_LE(worst, 0.003);
  }
}

}  // namespace
}  // namespace vantisol
