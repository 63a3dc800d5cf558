#include "opengl/depth_projection.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cstring>
#include <functional>

#include "depth_projection_reference.h"
#include "gl_test.h"

using namespace gl;

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

// A camera looking slightly down and to the side, with unequal focal lengths and an
// off-centre principal point: a transposed or un-inverted matrix shows. `turn` scales the angles
// and the shift.
Calibration TurnedCamera(Size size, float turn = 1) {
  Calibration calibration = Camera(size, 0.025f, 0.9f);
  calibration.K[4] *= 1.02f;
  calibration.K[2] += 7;
  calibration.K[5] -= 5;
  const Eigen::Matrix3f rotation = (Eigen::AngleAxisf(0.05f * turn, Eigen::Vector3f::UnitY()) *
                                    Eigen::AngleAxisf(-0.03f * turn, Eigen::Vector3f::UnitX()) *
                                    Eigen::AngleAxisf(0.01f * turn, Eigen::Vector3f::UnitZ()))
                                       .toRotationMatrix();
  for (int i = 0; i < 9; ++i) calibration.R[i] = rotation(i / 3, i % 3);
  calibration.T = {0.025f * turn, 0.004f * turn, -0.003f * turn};
  return calibration;
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

// Scenes whose every pixel must agree with the CPU reference.
TEST_F(DepthProjectionTest, AgreesWithTheReferenceOnConstructedScenes) {
  const Size small{64, 48};
  const auto step = [](int size) {
    return [size](int x, int) { return uint16_t(x < 32 ? 1000 : 1000 + size); };
  };
  const auto plane = [](uint16_t depth) { return [depth](int, int) { return depth; }; };
  struct Scene {
    const char* name;
    Size source, target;
    Calibration source_camera, target_camera;
    std::function<uint16_t(int, int)> depth;
  };
  const Scene scenes[] = {
      // A narrow field of view: every edge across the step is its height plus under 1.5 cm.
      {"9.5 cm step", small, small, Camera(small, 0, 4), Camera(small, 0, 4), step(95)},
      {"10.5 cm step", small, small, Camera(small, 0, 4), Camera(small, 0, 4), step(105)},
      {"plane at 290 mm", small, small, Camera(small, 0, 4), Camera(small, 0, 4), plane(290)},
      {"plane at 310 mm", small, small, Camera(small, 0, 4), Camera(small, 0, 4), plane(310)},
      // Hole edges along the quads' diagonals: pixel centres lie on triangle edges.
      {"diagonal step", small, small, Camera(small), Camera(small),
       [](int x, int y) { return uint16_t(x + y < 56 ? 1000 : 1300); }},
      // Seen from the side, the patch hides part of the wall.
      {"patch before a wall", small, small, Camera(small), Camera(small, -0.1f),
       [](int x, int) { return uint16_t(x >= 20 && x < 40 ? 800 : 1500); }},
      {"wall to a larger target",
       {32, 24},
       {96, 72},
       Camera({32, 24}),
       Camera({96, 72}),
       plane(1000)},
  };
  for (const Scene& scene : scenes) {
    Image image(scene.source, Image::Format::kGray16);
    std::vector<uint16_t> depth(size_t(scene.source.width) * scene.source.height);
    for (int y = 0; y < scene.source.height; ++y)
      for (int x = 0; x < scene.source.width; ++x)
        depth[size_t(y) * scene.source.width + x] = scene.depth(x, y);
    std::memcpy(image.data.get(), depth.data(), depth.size() * 2);
    Texture source(image), target(Image::Format::kGray16);
    target.Resize(scene.target);
    Calibration source_camera = scene.source_camera, target_camera = scene.target_camera;
    projection_.Project(source_camera, source, target_camera, target);
    const auto reference = test::ReferenceProjection(scene.source_camera, depth, scene.source,
                                                     scene.target_camera, scene.target);
    const auto difference = test::Compare(Read(target), reference);
    EXPECT_EQ(difference.coverage, 0) << scene.name << ": " << difference;
    EXPECT_EQ(difference.over_1mm, 0) << scene.name << ": " << difference;
  }
}

TEST_F(DepthProjectionTest, AgreesWithTheReferenceOnAPersonSeenByATurnedCamera) {
  const Size source_size{640, 480}, target_size{1280, 720};
  const Calibration target_camera = TurnedCamera(target_size);
  Texture target(Image::Format::kGray16);
  target.Resize(target_size);
  for (int variant = 0; variant < 2; ++variant) {
    // The second time the depth camera is turned and shifted too, less far: its rotation,
    // translation and off-centre intrinsics count as well.
    const Calibration source_camera =
        variant == 0 ? Camera(source_size, 0, 0.9f) : TurnedCamera(source_size, 0.6f);
    const std::vector<uint16_t> depth = test::PersonScene(source_size, variant);
    Image image(source_size, Image::Format::kGray16);
    std::memcpy(image.data.get(), depth.data(), depth.size() * 2);
    Texture source(image);
    Calibration source_copy = source_camera, target_copy = target_camera;
    projection_.Project(source_copy, source, target_copy, target);
    const auto difference = test::Compare(
        Read(target),
        test::ReferenceProjection(source_camera, depth, source_size, target_camera, target_size));
    EXPECT_GT(difference.covered, 0.8) << difference;
    EXPECT_LE(difference.coverage, 0.0001) << difference;
    EXPECT_LE(difference.depth, 0.002) << difference;
    EXPECT_LE(difference.over_1mm, 0.0001) << difference;
  }
}

TEST_F(DepthProjectionTest, EachCallStartsEmptyAndLeavesTheGlStateAsFound) {
  const Size size{64, 48};
  glClearColor(0.25f, 0.5f, 0.75f, 0.125f);
  glViewport(3, 4, 50, 60);
  Texture near = Depth(size, [](int, int) { return 500; });
  Texture far = Depth(size, [](int, int) { return 2000; });
  Texture zero = Depth(size, [](int, int) { return 0; });
  Project(near, size);
  // A nearer depth left over from the call before would win over this one.
  const auto result = Project(far, size);
  EXPECT_NEAR(result[20 * size.width + 20], 2000, 1);
  for (uint16_t value : result) ASSERT_TRUE(value == 0 || std::abs(value - 2000) <= 1) << value;
  for (uint16_t value : Project(zero, size)) ASSERT_EQ(value, 0);
  GLfloat clear_color[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_color);
  EXPECT_EQ(std::vector<GLfloat>(clear_color, clear_color + 4),
            (std::vector<GLfloat>{0.25f, 0.5f, 0.75f, 0.125f}));
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{3, 4, 50, 60}));
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  glClearColor(0, 0, 0, 0);
}

}  // namespace
}  // namespace vantisol
