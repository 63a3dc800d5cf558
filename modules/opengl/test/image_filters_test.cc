#include "opengl/image_filters.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>

#include "gl_test.h"

namespace vantisol {
namespace {

uint8_t ToByte(float value) { return uint8_t(std::lround(std::clamp(value, 0.f, 1.f) * 255)); }

TEST(ColorConverterTest, MatchesTheFormulaAndOpenCv) {
  const Size size{64, 16};
  Image yuy2 = test::RandomImage(size, Image::Format::kYUY2, 3);
  // Keep to the video range so that OpenCV's rounding of the same standard is comparable.
  for (int i = 0; i < size.width * size.height * 2; ++i)
    yuy2.data.get()[i] = uint8_t(16 + yuy2.data.get()[i] % 220);
  Texture input(yuy2), output(Image::Format::kRGBA);
  ColorConverter converter;
  converter.Convert(input, output);
  EXPECT_EQ(output.size(), size);
  EXPECT_EQ(output.internal_format(), Image::Format::kRGBA);
  const Image rgba = output.Download();

  cv::Mat packed(size.height, size.width, CV_8UC2, yuy2.data.get()), reference;
  cv::cvtColor(packed, reference, cv::COLOR_YUV2RGB_YUY2);
  const uint8_t* in = yuy2.data.get();
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      const int even = (y * size.width + x - x % 2) * 2;
      const float Y = 1.1643f * (in[(y * size.width + x) * 2] / 255.f - 0.0625f);
      const float u = in[even + 1] / 255.f - 0.5f, v = in[even + 3] / 255.f - 0.5f;
      const uint8_t expected[3] = {ToByte(Y + 1.5958f * v), ToByte(Y - 0.39173f * u - 0.81290f * v),
                                   ToByte(Y + 2.017f * u)};
      const uint8_t* got = rgba.data.get() + (y * size.width + x) * 4;
      const uint8_t* cv_pixel = reference.ptr<uint8_t>(y) + x * 3;
      for (int c = 0; c < 3; ++c) {
        ASSERT_NEAR(got[c], expected[c], 1) << x << "," << y << " " << c;
        ASSERT_NEAR(got[c], cv_pixel[c], 3) << x << "," << y << " " << c;
      }
      ASSERT_EQ(got[3], 255);
    }
}

TEST(ColorConverterTest, BlackWhiteAndOffset) {
  Image yuy2(Size{4, 1}, Image::Format::kYUY2);
  const uint8_t values[8] = {16, 128, 16, 128, 235, 128, 235, 128};
  std::copy(values, values + 8, yuy2.data.get());
  Texture input(yuy2), output(Image::Format::kRGBA);
  ColorConverter converter;
  converter.Convert(input, output);
  Image rgba = output.Download();
  for (int c = 0; c < 3; ++c) {
    EXPECT_LE(rgba.data.get()[c], 3);
    EXPECT_GE(rgba.data.get()[8 + c], 252);
  }
  converter.SetParams(1.0f, 0.1f);
  converter.Convert(input, output);
  rgba = output.Download();
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(rgba.data.get()[c], 1.1643 * 0.1 * 255, 1.5);
}

TEST(BilateralFilterTest, MatchesCpuFormulaWithClampedEdges) {
  const Size size{24, 17};
  Image image = test::RandomImage(size, Image::Format::kRGBA, 9);
  Texture input(image), output(Image::Format::kRGBA);
  BilateralFilter filter;
  filter.sigma_r = 0.2f;
  filter.Filter(input, output);
  const Image result = output.Download();
  const auto at = [&](int x, int y, int c) {
    x = std::clamp(x, 0, size.width - 1), y = std::clamp(y, 0, size.height - 1);
    return image.data.get()[(y * size.width + x) * 4 + c] / 255.0;
  };
  const auto intensity = [&](int x, int y) {
    return 0.2126 * at(x, y, 0) + 0.7152 * at(x, y, 1) + 0.0722 * at(x, y, 2);
  };
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      double sum[4] = {0, 0, 0, 0}, weights = 0;
      for (int j = -5; j <= 5; ++j)
        for (int i = -5; i <= 5; ++i) {
          const double d = intensity(x, y) - intensity(x + i, y + j);
          const double w = std::exp(-(i * i + j * j) / (2 * 1.5 * 1.5) - d * d / (2 * 0.2 * 0.2));
          for (int c = 0; c < 4; ++c) sum[c] += w * at(x + i, y + j, c);
          weights += w;
        }
      for (int c = 0; c < 4; ++c)
        ASSERT_NEAR(result.data.get()[(y * size.width + x) * 4 + c], sum[c] / weights * 255, 1.0)
            << x << "," << y;
    }
}

TEST(BilateralFilterTest, UniformStaysAndEdgeStaysSharp) {
  Image image(Size{20, 8}, Image::Format::kRGBA);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 20; ++x)
      for (int c = 0; c < 4; ++c) image.data.get()[(y * 20 + x) * 4 + c] = x < 10 ? 0 : 255;
  Texture input(image), output(Image::Format::kRGBA);
  BilateralFilter filter;
  filter.Filter(input, output);
  const Image result = output.Download();
  for (int i = 0; i < 20 * 8 * 4; ++i) ASSERT_EQ(result.data.get()[i], image.data.get()[i]) << i;
}

TEST(TextureScaleTest, FillCropsAndFitKeepsTheBars) {
  Image source(Size{4, 3}, Image::Format::kRGBA);
  for (int i = 0; i < 12; ++i) {
    uint8_t* p = source.data.get() + 4 * i;
    p[0] = uint8_t(20 * (i / 4)), p[1] = uint8_t(50 * (i % 4)), p[2] = 0, p[3] = 255;
  }
  Texture small(source);
  small.SetInterpolation(Texture::Nearest);
  Image grey(Size{16, 9}, Image::Format::kRGBA);
  std::fill(grey.data.get(), grey.data.get() + 16 * 9 * 4, uint8_t(99));
  TextureScale scale;

  Texture target(grey);
  scale.Scale(small, target, TextureDraw::kFill);
  EXPECT_EQ(target.size(), (Size{16, 9}));
  Image result = target.Download();
  // Drawn 16 x 12 at y = -1: rows 0..8 map to source rows (y + 1) / 4.
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint8_t* p = result.data.get() + (y * 16 + x) * 4;
      ASSERT_EQ(p[0], 20 * ((y + 1) / 4)) << x << "," << y;
      ASSERT_EQ(p[1], 50 * (x / 4)) << x << "," << y;
    }

  target.Assign(grey);
  scale.Scale(small, target, TextureDraw::kFit);
  result = target.Download();
  // Drawn 12 x 9 at x = 2: columns 0, 1, 14, 15 keep their grey.
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 16; ++x) {
      const uint8_t* p = result.data.get() + (y * 16 + x) * 4;
      if (x < 2 || x >= 14) {
        ASSERT_EQ(p[0], 99) << x << "," << y;
      } else {
        ASSERT_EQ(p[1], 50 * ((x - 2) / 3)) << x << "," << y;
        ASSERT_EQ(p[0], 20 * (y / 3)) << x << "," << y;
      }
    }
}

}  // namespace
}  // namespace vantisol
