#include "opengl/depth_projection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "gl_test.h"

namespace vantisol {
namespace {

Calibration Camera(Size size, float tx = 0, float zoom = 1) {
  Calibration calibration;
  // The same field of view at every resolution.
  const float f = zoom * float(size.width);
  calibration.K = {f, 0, size.width / 2.f, 0, f, size.height / 2.f, 0, 0, 1};
  calibration.R = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  calibration.T = {tx, 0, 0};
  return calibration;
}

Texture Depth(Size size, const std::function<uint16_t(int, int)>& value) {
  Image image(size, Image::Format::kGray16);
  auto* values = reinterpret_cast<uint16_t*>(image.data.get());
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) values[y * size.width + x] = value(x, y);
  return Texture(image);
}

std::vector<uint16_t> Read(const Texture& texture) {
  const Image image = texture.Download();
  const auto* values = reinterpret_cast<const uint16_t*>(image.data.get());
  return std::vector<uint16_t>(values, values + image.size.width * image.size.height);
}

class DepthProjectionTest : public testing::Test {
 protected:
  std::vector<uint16_t> Project(Texture& source, Size target_size, float tx = 0, float zoom = 1) {
    Texture target(Image::Format::kGray16);
    target.Resize(target_size);
    Calibration source_camera = Camera(source.size(), 0, zoom);
    Calibration target_camera = Camera(target_size, tx, zoom);
    projection_.Project(source_camera, source, target_camera, target);
    EXPECT_EQ(target.size(), target_size);
    return Read(target);
  }

  DepthProjection projection_;
};

TEST_F(DepthProjectionTest, FlatWallAtOneMetre) {
  const Size size{64, 48};
  Texture wall = Depth(size, [](int, int) { return 1000; });
  const auto result = Project(wall, size);
  // Pixel u lands on the window position u, so the last column and row lie outside the mesh.
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      const uint16_t value = result[y * size.width + x];
      if (x == size.width - 1 || y == size.height - 1) {
        EXPECT_EQ(value, 0) << x << "," << y;
      } else {
        ASSERT_GE(value, 999) << x << "," << y;
        ASSERT_LE(value, 1000) << x << "," << y;
      }
    }
}

TEST_F(DepthProjectionTest, StepLeavesAHoleAndTooCloseDisappears) {
  const Size size{64, 48};
  Texture step = Depth(size, [](int x, int) { return x < 32 ? 1000 : 1200; });
  const auto result = Project(step, size);
  for (int y = 0; y < size.height - 1; ++y) {
    EXPECT_EQ(result[y * size.width + 31], 0) << y;
    EXPECT_NEAR(result[y * size.width + 10], 1000, 1);
    EXPECT_NEAR(result[y * size.width + 50], 1200, 1);
  }
  Texture near = Depth(size, [](int, int) { return 250; });
  for (uint16_t value : Project(near, size)) ASSERT_EQ(value, 0);
  Texture zero = Depth(size, [](int, int) { return 0; });
  for (uint16_t value : Project(zero, size)) ASSERT_EQ(value, 0);
}

TEST_F(DepthProjectionTest, EdgesLongerThanTenCentimetresAndSurfacesNearerThanThirtyVanish) {
  const Size size{64, 48};
  // A narrow field of view keeps the sideways part of every edge under 1.5 cm, so an edge
  // across the step is between the step and the step + 1 cm long.
  const float zoom = 4;
  for (const auto& [step, hole] : {std::pair{95, false}, std::pair{105, true}}) {
    Texture scene = Depth(size, [step = step](int x, int) { return x < 32 ? 1000 : 1000 + step; });
    const auto result = Project(scene, size, 0, zoom);
    for (int y = 0; y < size.height - 1; ++y) {
      if (hole) {
        EXPECT_EQ(result[y * size.width + 31], 0) << "step " << step << " row " << y;
      } else {
        EXPECT_NEAR(result[y * size.width + 31], 1000 + step / 2, step / 2 + 1)
            << "step " << step << " row " << y;
      }
      EXPECT_NEAR(result[y * size.width + 10], 1000, 1);
      EXPECT_NEAR(result[y * size.width + 50], 1000 + step, 1);
    }
  }
  for (const auto& [depth, seen] : {std::pair{290, false}, std::pair{310, true}}) {
    Texture near = Depth(size, [depth = depth](int, int) { return depth; });
    const auto result = Project(near, size, 0, zoom);
    EXPECT_NEAR(result[20 * size.width + 20], seen ? depth : 0, 1) << depth;
  }
}

TEST_F(DepthProjectionTest, NearerSurfaceWinsWhereBothLand) {
  const Size size{64, 48};
  // A patch at 0.8 m before a wall at 1.5 m, seen from 0.1 m to the side: the patch moves 8
  // pixels, the wall 4.3, so target column 13 sees both.
  Texture scene = Depth(size, [](int x, int) { return x >= 20 && x < 40 ? 800 : 1500; });
  const auto result = Project(scene, size, -0.1f);
  for (int y = 0; y < size.height - 1; ++y) {
    EXPECT_NEAR(result[y * size.width + 13], 800, 2) << y;
    EXPECT_NEAR(result[y * size.width + 5], 1500, 2) << y;
  }
}

TEST_F(DepthProjectionTest, SizeChangesBetweenCalls) {
  Texture wall = Depth({64, 48}, [](int, int) { return 1000; });
  Project(wall, {64, 48});
  Texture small_wall = Depth({32, 24}, [](int, int) { return 1000; });
  const auto result = Project(small_wall, {96, 72});
  // Same field of view at three times the resolution: the whole interior is covered.
  for (int y = 0; y < 72 - 3; ++y)
    for (int x = 0; x < 96 - 3; ++x) ASSERT_NEAR(result[y * 96 + x], 1000, 1) << x << "," << y;
}

TEST_F(DepthProjectionTest, OtherFormatsFailTheCheck) {
  test::LogCapture log;
  Texture rgba(Image(Size{4, 4}, Image::Format::kRGBA));
  Texture target(Image::Format::kGray16);
  target.Resize({4, 4});
  Calibration camera = Camera({4, 4});
  projection_.Project(camera, rgba, camera, target);
  EXPECT_EQ(log.Count("FATAL Check failed: [depth_texture_source.internal_format() == "
                      "Image::Format::kGray16] "),
            1);
}

}  // namespace
}  // namespace vantisol
