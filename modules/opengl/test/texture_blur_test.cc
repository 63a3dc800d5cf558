#include "opengl/texture_blur.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <sstream>

#include "gl_test.h"

namespace vantisol {
namespace {

// The blur's full kernel for `steps` steps, from the Gaussian itself: width 4·steps − 1, sigma
// from the width as for a 3x3..NxN blur, and a square root of the 2-D density taken at the
// kernel's edge row, which is a 1-D Gaussian of twice the variance. Normalised to sum 1.
std::vector<double> GaussianKernel(int steps) {
  const int width = 4 * steps - 1, h = width / 2;
  const double sigma = (width * 0.5 - 1) * 0.3 + 0.8;
  std::vector<double> kernel;
  double sum = 0;
  for (int d = -h; d <= h; ++d) {
    kernel.push_back(std::exp(-d * d / (4 * sigma * sigma)));
    sum += kernel.back();
  }
  for (double& w : kernel) w /= sum;
  return kernel;
}

// One direction of a full kernel with clamp-to-edge reads, rounded to 8 bits.
std::vector<uint8_t> Convolve(const std::vector<uint8_t>& in, Size size, bool horizontal,
                              const std::vector<double>& kernel) {
  std::vector<uint8_t> out(in.size());
  const int h = static_cast<int>(kernel.size()) / 2;
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x)
      for (int c = 0; c < 4; ++c) {
        double sum = 0;
        for (int d = -h; d <= h; ++d) {
          const int sx = horizontal ? std::clamp(x + d, 0, size.width - 1) : x;
          const int sy = horizontal ? y : std::clamp(y + d, 0, size.height - 1);
          sum += kernel[d + h] * in[(sy * size.width + sx) * 4 + c];
        }
        out[(y * size.width + x) * 4 + c] = uint8_t(std::lround(std::clamp(sum, 0.0, 255.0)));
      }
  return out;
}

TEST(GaussKernelTest, HalfKernelIsTheGaussianWithTheCentreSplitBetweenTheHalves) {
  for (int steps : {1, 3, 10, 19}) {
    const std::vector<double> full = GaussianKernel(steps);
    const int width = 4 * steps - 1, h = width / 2;
    const auto half = GetGaussKernelValues((width * 0.5f - 1) * 0.3f + 0.8f, width);
    ASSERT_EQ(half.size(), size_t(h + 1)) << steps;
    EXPECT_NEAR(half[0], full[h] / 2, 1e-6) << steps;
    for (int d = 1; d <= h; ++d) EXPECT_NEAR(half[d], full[h + d], 1e-6) << steps << " tap " << d;
  }
}

TEST(GaussKernelTest, GeneratedTextForThreeSteps) {
  const std::string text = GenerateWeigthtsAndOffsets(11);
  EXPECT_EQ(text.rfind("  // Kernel width 11x11\n  const int num_steps = 3;\n\n"
                       "  const float kWeights[num_steps] = {\n    0.",
                       0),
            0u)
      << text;
  const auto half = GetGaussKernelValues(2.15f, 11);
  ASSERT_EQ(half.size(), 6u);
  EXPECT_NEAR(2 * std::accumulate(half.begin(), half.end(), 0.0f), 1.0f, 1e-6);
  // The weights printed with six decimals: their doubled sum is 1.
  std::istringstream lines(text);
  std::string line;
  double weights = 0;
  int count = 0;
  bool in_weights = false;
  while (std::getline(lines, line)) {
    if (line.find("kWeights") != std::string::npos)
      in_weights = true;
    else if (line == "  };")
      in_weights = false;
    else if (in_weights)
      weights += std::stod(line), ++count;
  }
  EXPECT_EQ(count, 3);
  EXPECT_NEAR(2 * weights, 1.0, 4e-6);
  EXPECT_NE(text.find("  const float kOffsets[num_steps] = {\n    0."), std::string::npos);
  EXPECT_NE(GenerateGaussFunctionCode(11).find("vec4 GaussianBlur(sampler2D input_texture, vec2 "
                                               "coordinates, vec2 pixel_offset)"),
            std::string::npos);
}

TEST(TextureBlurTest, MatchesCpuConvolutionEveryPixel) {
  for (int steps : {3, 10}) {
    TextureBlur blur;
    blur.SetKernelSize(steps);
    const Size size{37, 23};
    Image image = test::RandomImage(size, Image::Format::kRGBA, steps);
    Texture source(image), target(Image::Format::kRGBA);
    blur.Blur(source, target, nullptr);
    const auto kernel = GaussianKernel(steps);
    std::vector<uint8_t> in(image.data.get(), image.data.get() + size.width * size.height * 4);
    const auto expected = Convolve(Convolve(in, size, true, kernel), size, false, kernel);
    const Image result = target.Download();
    int worst = 0;
    for (size_t i = 0; i < expected.size(); ++i)
      worst = std::max(worst, std::abs(int(result.data.get()[i]) - int(expected[i])));
    EXPECT_LE(worst, 3) << "steps " << steps;
  }
}

TEST(TextureBlurTest, UniformImageStaysAndKernelChangeRebuilds) {
  TextureBlur blur;
  Image image(Size{20, 10}, Image::Format::kRGBA);
  std::fill(image.data.get(), image.data.get() + 800, uint8_t(77));
  Texture source(image), target(Image::Format::kRGBA);
  blur.Blur(source, target, nullptr);
  test::LogCapture log;
  blur.SetKernelSize(19);  // unchanged: no new program
  blur.Blur(source, target, nullptr);
  EXPECT_EQ(log.Count("INFO CreateShaderProgramFromStrings"), 0);
  blur.SetKernelSize(4);
  blur.Blur(source, target, nullptr);
  EXPECT_EQ(log.Count("INFO CreateShaderProgramFromStrings"), 1);
  const Image result = target.Download();
  for (int i = 0; i < 800; ++i) ASSERT_NEAR(result.data.get()[i], 77, 1);
}

TEST(TextureBlurTest, HugeKernelSizeIsLimitedAndStillBlurs) {
  TextureBlur blur;
  Image image(Size{20, 10}, Image::Format::kRGBA);
  std::fill(image.data.get(), image.data.get() + 800, uint8_t(77));
  Texture source(image), target(Image::Format::kRGBA);
  test::LogCapture log;
  blur.SetKernelSize(TextureBlur::kMaxKernelSize);
  EXPECT_EQ(blur.kernel_size(), TextureBlur::kMaxKernelSize);
  EXPECT_EQ(log.CountPrefix("WARNING"), 0);
  blur.SetKernelSize(100000);
  EXPECT_EQ(blur.kernel_size(), TextureBlur::kMaxKernelSize);
  EXPECT_EQ(log.Count("WARNING Blur kernel size 100000 limited to 100"), 1);
  blur.Blur(source, target, nullptr);
  const Image result = target.Download();
  for (int i = 0; i < 800; ++i) ASSERT_NEAR(result.data.get()[i], 77, 1);
}

TEST(TextureBlurTest, MaskedPersonNeverBleeds) {
  TextureBlur blur;
  blur.SetKernelSize(5);
  blur.use_alpha_mask_ = true;
  blur.invert_alpha_mask_ = true;
  const Size size{40, 20};
  Image colour(size, Image::Format::kRGBA), mask(size, Image::Format::kGray8);
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      const bool person = x >= 15 && x < 25;
      uint8_t* p = colour.data.get() + (y * size.width + x) * 4;
      p[0] = person ? 255 : 0, p[1] = 0, p[2] = person ? 0 : 200, p[3] = 255;
      mask.data.get()[y * size.width + x] = person ? 255 : 0;
    }
  Texture source(colour), alpha(mask), target(Image::Format::kRGBA);
  blur.Blur(source, target, &alpha);
  const Image result = target.Download();
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) {
      const uint8_t* p = result.data.get() + (y * size.width + x) * 4;
      ASSERT_EQ(p[0], 0) << x << "," << y;
      if (x < 15 || x >= 25) {
        ASSERT_NEAR(p[2], 200, 1) << x << "," << y;
      }
      ASSERT_EQ(p[3], 255);
    }
  test::LogCapture log;
  Texture gray_source(mask);
  blur.Blur(gray_source, target, nullptr);
  EXPECT_EQ(log.CountPrefix("FATAL Check failed: [source_texture.channels() == 4 || "), 1);
}

TEST(TextureBlurTest, NoUnmaskedPixelInTheKernelGivesBlack) {
  TextureBlur blur;
  blur.SetKernelSize(3);
  blur.use_alpha_mask_ = true;
  Image colour = test::RandomImage({12, 12}, Image::Format::kRGBA, 4);
  for (int i = 0; i < 144; ++i) colour.data.get()[4 * i + 3] = 0;  // every pixel masked out
  Texture source(colour), target(Image::Format::kRGBA);
  blur.Blur(source, target, nullptr);
  const Image result = target.Download();
  for (int i = 0; i < 144; ++i) {
    ASSERT_EQ(result.data.get()[4 * i], 0) << i;
    ASSERT_EQ(result.data.get()[4 * i + 1], 0) << i;
    ASSERT_EQ(result.data.get()[4 * i + 2], 0) << i;
    ASSERT_EQ(result.data.get()[4 * i + 3], 255) << i;
  }
}

TEST(TextureBlenderTest, AlphaZeroAndOneAndChecks) {
  TextureBlender blender;
  const Size size{9, 4};
  Image alpha_image(size, Image::Format::kGray8);
  for (int i = 0; i < 36; ++i) alpha_image.data.get()[i] = (i % 3 == 0) ? 255 : 0;
  Image fg = test::RandomImage(size, Image::Format::kRGBA, 1),
        bg = test::RandomImage(size, Image::Format::kRGBA, 2);
  Texture foreground(fg), background(bg), alpha(alpha_image), target(Image::Format::kRGBA);
  blender.Blend(foreground, background, target, alpha);
  const Image result = target.Download();
  for (int i = 0; i < 36; ++i)
    for (int c = 0; c < 3; ++c) {
      const Image& expected = (i % 3 == 0) ? fg : bg;
      ASSERT_EQ(result.data.get()[4 * i + c], expected.data.get()[4 * i + c]) << i;
    }
  EXPECT_EQ(result.data.get()[3], 255);
  test::LogCapture log;
  Texture small(test::RandomImage({2, 2}, Image::Format::kRGBA, 3));
  blender.Blend(foreground, small, target, foreground);
  EXPECT_EQ(log.Count("FATAL Check failed: [foreground_texture.size() == "
                      "background_texture.size()] "),
            1);
  EXPECT_EQ(log.Count("FATAL Check failed: [alpha_texture.channels() == 1] "), 1);
}

}  // namespace
}  // namespace vantisol
