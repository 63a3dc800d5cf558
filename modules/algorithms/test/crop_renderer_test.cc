#include "algorithms/crop_renderer.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <cmath>

#include "algorithms/face_cropper.h"
#include "gl_test.h"

using namespace gl;

namespace vantisol {
namespace {

// A smooth picture with no symmetry, so that bilinear sampling is compared on gentle slopes and
// a mirrored or transposed mapping shows.
Image Pattern(Size size) {
  Image image(size, Image::Format::kRGB);
  uint8_t* p = image.data.get();
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x, p += 3) {
      p[0] = uint8_t(128 + 100 * std::sin(x / 23.0 + y / 41.0));
      p[1] = uint8_t(20 + 200.0 * x / size.width);
      p[2] = uint8_t(20 + 200.0 * y * y / (double(size.height) * size.height));
    }
  return image;
}

// Bilinear sample with clamp to edge at continuous position (x, y), pixel centres at + 0.5.
double Sample(const Image& image, double x, double y, int channel) {
  const int w = image.size.width, h = image.size.height;
  const double fx = x - 0.5, fy = y - 0.5;
  const int x0 = int(std::floor(fx)), y0 = int(std::floor(fy));
  const double ax = fx - x0, ay = fy - y0;
  auto at = [&](int xi, int yi) {
    xi = std::clamp(xi, 0, w - 1);
    yi = std::clamp(yi, 0, h - 1);
    return double(image.data.get()[(yi * w + xi) * 3 + channel]);
  };
  return (1 - ay) * ((1 - ax) * at(x0, y0) + ax * at(x0 + 1, y0)) +
         ay * ((1 - ax) * at(x0, y0 + 1) + ax * at(x0 + 1, y0 + 1));
}

// What a tile shows at output pixel (x, y): the input through the inverse of its matrix.
double Expected(const Image& input, const CropTile& tile, int x, int y, int channel) {
  const Eigen::Matrix3d inverse = tile.matrix.cast<double>().inverse();
  const Eigen::Vector3d q =
      inverse * Eigen::Vector3d(x - tile.rectangle.x + 0.5, y - tile.rectangle.y + 0.5, 1);
  return Sample(input, q.x() / q.z(), q.y() / q.z(), channel);
}

uint8_t At(const Image& image, int x, int y, int channel) {
  return image.data.get()[(y * image.size.width + x) * Image::pixel_size(image.format) + channel];
}

class CropRendererTest : public testing::Test {
 protected:
  void SetUp() override { glClearColor(1, 1, 1, 1); }
  void TearDown() override { glClearColor(0, 0, 0, 0); }
};

TEST_F(CropRendererTest, TilesMatchACpuResampling) {
  const Size input_size{320, 240};
  const Image input = Pattern(input_size);
  Texture texture(input);
  // Tile 0: a turned camera with an off-centre principal point (no symmetric part to hide a
  // transposed upload). Tile 1: a plain zoom and shift.
  Eigen::Matrix3d k_in, k_out;
  k_in << 300, 0, 140, 0, 300, 100, 0, 0, 1;
  k_out << 420, 0, 80, 0, 420, 110, 0, 0, 1;
  const Eigen::Matrix3d turn =
      Eigen::AngleAxisd(0.12, Eigen::Vector3d(0.3, -0.5, 0.2).normalized()).toRotationMatrix();
  CropTile turned{{0, 0, 150, 200}, (k_out * turn * k_in.inverse()).cast<float>()};
  Eigen::Matrix3f zoom;
  zoom << 1.6f, 0, -120, 0, 1.3f, -70, 0, 0, 1;
  CropTile zoomed{{150, 0, 150, 200}, zoom};
  ASSERT_GT((turned.matrix - turned.matrix.transpose()).norm(), 100);

  CropRenderer renderer;
  renderer.Draw(texture, {turned, zoomed}, {300, 200});
  const Image out = renderer.output().Download();
  ASSERT_EQ(out.size, (Size{300, 200}));
  double worst = 0, sum = 0, transposed_sum = 0;
  const CropTile flipped{turned.rectangle, turned.matrix.transpose()};
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x)
      for (int c = 0; c < 3; ++c) {
        const CropTile& tile = x < 150 ? turned : zoomed;
        const double error = std::fabs(At(out, x, y, c) - Expected(input, tile, x, y, c));
        worst = std::max(worst, error);
        sum += error;
        if (x < 150)
          transposed_sum += std::fabs(At(out, x, y, c) - Expected(input, flipped, x, y, c));
      }
  EXPECT_LE(worst, 3.0);
  EXPECT_LT(sum / (300 * 200 * 3), 0.6);
  // The comparison can tell the storage orders apart.
  EXPECT_GT(transposed_sum / (150 * 200 * 3), 10);
}

TEST_F(CropRendererTest, IdentityTileCopiesTheInputExactly) {
  const Image input = test::RandomImage({64, 48}, Image::Format::kRGB, 5);
  Texture texture(input);
  CropRenderer renderer;
  renderer.Draw(texture, {CropTile{{0, 0, 64, 48}, Eigen::Matrix3f::Identity()}}, {64, 48});
  const Image out = renderer.output().Download();
  EXPECT_EQ(std::memcmp(out.data.get(), input.data.get(), 64 * 48 * 3), 0);
}

TEST_F(CropRendererTest, ThreeFacesLeaveTheLastTwoColumnsWhite) {
  // Dark input, so that white can only come from the clear colour.
  Image input({1280, 720}, Image::Format::kRGB);
  for (int i = 0; i < 1280 * 720 * 3; ++i) input.data.get()[i] = uint8_t(i % 97);
  Calibration calibration;
  calibration.K = {948.5f, 0, 639.5f, 0, 948.5f, 359.5f, 0, 0, 1};
  FaceCropper cropper;
  std::map<int, FaceData> faces;
  for (int i = 0; i < 3; ++i) faces[i].rect = Rectangle{150 + 400 * i, 200, 120, 160};
  const auto tiles = cropper.Update(CameraImage(input, calibration, 0), faces, {1280, 720});
  ASSERT_EQ(tiles.size(), 3u);
  Texture texture(input);
  CropRenderer renderer;
  renderer.Draw(texture, tiles, {1280, 720});
  const Image out = renderer.output().Download();
  int white_columns = 0;
  for (int x = 0; x < 1280; ++x) {
    bool white = true;
    for (int y = 0; y < 720 && white; ++y)
      for (int c = 0; c < 3; ++c) white = white && At(out, x, y, c) == 255;
    if (white) {
      EXPECT_GE(x, 1278);
      ++white_columns;
    }
  }
  EXPECT_EQ(white_columns, 2);
  // Each tile shows its own face: its centre pixel matches the resampled input.
  for (const CropTile& tile : tiles) {
    const int x = tile.rectangle.x + 213, y = 360;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(At(out, x, y, c), Expected(input, tile, x, y, c), 3);
  }
}

TEST_F(CropRendererTest, WithoutTilesTheInputIsStretchedIntoTheGivenTarget) {
  // Left half red, right half blue, drawn at twice the size.
  Image input({4, 2}, Image::Format::kRGB);
  for (int i = 0; i < 8; ++i) {
    uint8_t* p = input.data.get() + i * 3;
    p[0] = (i % 4) < 2 ? 255 : 0;
    p[1] = 0;
    p[2] = (i % 4) < 2 ? 0 : 255;
  }
  Texture texture(input);
  texture.SetInterpolation(Texture::Nearest);
  Texture target(Image::Format::kRGB);
  CropRenderer renderer;
  renderer.Draw(texture, {}, {8, 4}, &target);
  EXPECT_TRUE(renderer.output().size().empty());
  const Image out = target.Download();
  ASSERT_EQ(out.size, (Size{8, 4}));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(At(out, x, y, 0), x < 4 ? 255 : 0) << x << "," << y;
      EXPECT_EQ(At(out, x, y, 2), x < 4 ? 0 : 255) << x << "," << y;
    }
}

}  // namespace
}  // namespace vantisol
