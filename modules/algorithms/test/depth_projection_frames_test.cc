// The depth projection on the simulated camera's frames, as the 2-D stage runs it (depth
// undistorted in place first), against the projection worked out on the CPU.
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

#include "depth_projection_reference.h"
#include "segmentation_stage.h"
#include "test_support.h"

namespace vantisol {
namespace {

std::vector<uint16_t> Values(const Texture& texture) {
  const Image image = texture.Download();
  std::vector<uint16_t> values(size_t(image.size.width) * image.size.height);
  std::memcpy(values.data(), image.data.get(), values.size() * 2);
  return values;
}

TEST(DepthProjectionOnSimulatedFramesTest, AgreesWithTheCpuReference) {
  test::ScopedScenario scenario;
  test::SimulatedFrames frames({1280, 720});
  test::SegmentationStage stage;
  for (int n = 0; n < 4; ++n) {
    auto frame = frames.Next();
    ASSERT_NE(frame, nullptr) << "no simulated frame " << n;
    stage.Upload(*frame);
    stage.Project(*frame);
    const auto reference =
        test::ReferenceProjection(frame->depth.calibration, Values(*stage.depth),
                                  stage.depth->size(), frame->color.calibration, frame->color.size);
    const auto difference = test::Compare(Values(stage.projected_depth), reference);
    std::cout << "frame " << n << ": " << difference << "\n";
    EXPECT_GT(difference.covered, 0.5) << "frame " << n;
    EXPECT_LE(difference.coverage, 0.0001) << "frame " << n << ": " << difference;
    EXPECT_LE(difference.depth, 0.002) << "frame " << n << ": " << difference;
    EXPECT_LE(difference.over_1mm, 0.0001) << "frame " << n << ": " << difference;
  }
}

}  // namespace
}  // namespace vantisol
