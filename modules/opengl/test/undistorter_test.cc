#include "opengl/undistorter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "gl_test.h"

namespace vantisol {
namespace {

Calibration Camera(float k1, float k2, float p1, float p2) {
  Calibration calibration;
  calibration.K = {200, 0, 80, 0, 210, 60, 0, 0, 1};
  calibration.k1 = k1, calibration.k2 = k2, calibration.p1 = p1, calibration.p2 = p2;
  return calibration;
}

// The same model on the CPU: the source texel of every output pixel, or 0 outside.
std::vector<uint16_t> CpuUndistort(const std::vector<uint16_t>& in, Size size,
                                   const Calibration& c) {
  std::vector<uint16_t> out(in.size());
  const float fx = c.K[0], fy = c.K[4], cx = c.K[2], cy = c.K[5];
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      const float nx = (x - cx) / fx, ny = (y - cy) / fy;
      const float r2 = nx * nx + ny * ny, r4 = r2 * r2, r6 = r4 * r2;
      const float radial = 1 + c.k1 * r2 + c.k2 * r4 + c.k3 * r6;
      const float dx = radial * nx + 2 * c.p1 * nx * ny + c.p2 * (r2 + 2 * nx * nx);
      const float dy = radial * ny + 2 * c.p2 * nx * ny + c.p1 * (r2 + 2 * ny * ny);
      const int sx = int(fx * dx + cx + 0.5f), sy = int(fy * dy + cy + 0.5f);
      const bool inside = sx >= 0 && sy >= 0 && sx < size.width && sy < size.height;
      out[y * size.width + x] = inside ? in[sy * size.width + sx] : 0;
    }
  return out;
}

Texture Upload(const std::vector<uint16_t>& values, Size size) {
  Image image(size, Image::Format::kGray16);
  std::memcpy(image.data.get(), values.data(), values.size() * 2);
  return Texture(image);
}

std::vector<uint16_t> Read(const Texture& texture) {
  const Image image = texture.Download();
  const auto* values = reinterpret_cast<const uint16_t*>(image.data.get());
  return std::vector<uint16_t>(values, values + image.size.width * image.size.height);
}

TEST(UndistorterTest, ZeroCoefficientsKeepTheImage) {
  const Size size{160, 120};
  std::vector<uint16_t> values(160 * 120);
  std::mt19937 random(1);
  for (auto& v : values) v = uint16_t(random());
  Texture depth = Upload(values, size);
  Undistorter undistorter;
  undistorter.RunDepth(depth, Camera(0, 0, 0, 0));
  EXPECT_EQ(depth.size(), size);
  EXPECT_EQ(depth.internal_format(), Image::Format::kGray16);
  EXPECT_EQ(Read(depth), values);
}

TEST(UndistorterTest, DistortedGridMatchesTheModelAndBecomesStraight) {
  const Size size{160, 120};
  // A grid of lines through the pixels as the distorted camera saw them: a straight line x = 40
  // in the undistorted image lies on the distorted curve, so draw the curve.
  const Calibration camera = Camera(-0.3f, 0.1f, 0, 0);
  std::vector<uint16_t> ideal(160 * 120, 1000);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x)
      if (x % 20 == 0 || y % 20 == 0) ideal[y * 160 + x] = 2000;
  // Distort: every undistorted pixel's value lands at its distorted position.
  std::vector<uint16_t> distorted(160 * 120, 1000);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) {
      const float nx = (x - 80) / 200.f, ny = (y - 60) / 210.f, r2 = nx * nx + ny * ny;
      const float radial = 1 - 0.3f * r2 + 0.1f * r2 * r2;
      const int sx = int(200 * radial * nx + 80 + 0.5f), sy = int(210 * radial * ny + 60 + 0.5f);
      // Lines win where two pixels fall together, so they arrive whole.
      if (sx >= 0 && sy >= 0 && sx < 160 && sy < 120 && ideal[y * 160 + x] == 2000)
        distorted[sy * 160 + sx] = 2000;
    }
  Texture depth = Upload(distorted, size);
  Undistorter undistorter;
  undistorter.RunDepth(depth, camera);
  const auto result = Read(depth);
  EXPECT_EQ(result, CpuUndistort(distorted, size, camera));
  // The grid lines are straight again: every line pixel in view is restored, and line values
  // appear nowhere farther than one pixel from a straight line.
  int restored = 0, broken = 0, stray = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) {
      const uint16_t value = result[y * 160 + x];
      if (value == 0) continue;
      ++restored;
      if (ideal[y * 160 + x] == 2000 && value != 2000) ++broken;
      const bool near_line = (x + 1) % 20 <= 2 || (y + 1) % 20 <= 2;
      if (value == 2000 && !near_line) ++stray;
    }
  EXPECT_GT(restored, 160 * 100);
  EXPECT_EQ(broken, 0);
  EXPECT_EQ(stray, 0);
}

TEST(UndistorterTest, TangentialShiftAndWrongFormat) {
  const Size size{160, 120};
  std::vector<uint16_t> values(160 * 120);
  for (int i = 0; i < 160 * 120; ++i) values[i] = uint16_t(i);
  for (auto camera : {Camera(0, 0, 0.05f, 0), Camera(0, 0, 0, 0.05f)}) {
    Texture depth = Upload(values, size);
    Undistorter undistorter;
    undistorter.RunDepth(depth, camera);
    EXPECT_EQ(Read(depth), CpuUndistort(values, size, camera));
  }
  test::LogCapture log;
  Texture rgba(Image(Size{4, 4}, Image::Format::kRGBA));
  Undistorter undistorter;
  undistorter.RunDepth(rgba, Camera(0, 0, 0, 0));
  EXPECT_EQ(
      log.Count("FATAL Check failed: [depth_texture.internal_format() == Image::Format::kGray16] "),
      1);
}

}  // namespace
}  // namespace vantisol
