// The watermark lands in its rectangle at every output size, upright, blended by its alpha, and
// nothing outside it changes.
#include "watermark_renderer/watermark_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "gl_test.h"
#include "opengl/locked_texture.h"

namespace vantisol {
namespace {

constexpr uint8_t kBackground[3] = {10, 200, 30};  // kRGB: red, green, blue
// The generated mark: 256 × 64, an opaque frame (20, 60, 140), a red square over texels 6..21 in
// the top-left corner, clear inside elsewhere, semi-transparent bars (alpha 200) from texel 104.
constexpr int kMarkWidth = 256, kMarkHeight = 64;

std::shared_ptr<LockedTexture> Output(Size size) {
  auto output = std::make_shared<LockedTexture>(Image::Format::kRGB);
  Image image(size, Image::Format::kRGB);
  for (int i = 0; i < size.width * size.height; ++i)
    std::copy(kBackground, kBackground + 3, image.data.get() + i * 3);
  output->Lock()->Assign(image);
  return output;
}

Image Read(const std::shared_ptr<LockedTexture>& output) {
  return output->Lock()->Download(Image::Format::kRGB);
}

const uint8_t* Pixel(const Image& image, int x, int y) {
  return image.data.get() + (size_t(y) * image.size.width + x) * 3;
}

bool IsBackground(const uint8_t* p) {
  return p[0] == kBackground[0] && p[1] == kBackground[1] && p[2] == kBackground[2];
}

// The output pixel that shows mark texel (u, v) of the mark drawn into `r` (row 0 at the top).
const uint8_t* MarkTexel(const Image& image, const Rectangle& r, float u, float v) {
  const int x = r.x + int(std::floor((u + 0.5f) * r.width / kMarkWidth));
  const int y = r.y + int(std::floor((v + 0.5f) * r.height / kMarkHeight));
  return Pixel(image, x, y);
}

// A fresh 640 × 480 output with the mark drawn once.
Image Watermarked640x480() {
  WatermarkRenderer watermark;
  auto output = Output({640, 480});
  watermark.Render(output);
  return Read(output);
}

struct SizeCase {
  Size size;
  Rectangle expected;  // worked out by hand from the placement rule
};

// The six sizes a video-call client can ask for.
const SizeCase kSizes[] = {
    {{640, 480}, {6, 412, 192, 48}},   {{960, 720}, {9, 619, 288, 72}},
    {{640, 360}, {6, 303, 192, 48}},   {{960, 540}, {9, 455, 288, 72}},
    {{1024, 675}, {10, 575, 307, 76}}, {{1280, 720}, {12, 607, 384, 96}},
};

TEST(WatermarkRenderer, LandsInItsRectangleAtEveryOutputSizeAndNowhereElse) {
  WatermarkRenderer watermark;
  for (const SizeCase& c : kSizes) {
    SCOPED_TRACE(testing::Message() << c.size);
    auto output = Output(c.size);
    watermark.Render(output);
    const Image image = Read(output);
    ASSERT_EQ(image.size, c.size);
    int left = c.size.width, top = c.size.height, right = -1, bottom = -1;
    for (int y = 0; y < c.size.height; ++y) {
      for (int x = 0; x < c.size.width; ++x) {
        if (IsBackground(Pixel(image, x, y))) continue;
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
    EXPECT_EQ(left, c.expected.x);
    EXPECT_EQ(top, c.expected.y);
    EXPECT_EQ(right - left + 1, c.expected.width);
    EXPECT_EQ(bottom - top + 1, c.expected.height);
    // The opaque frame covers the rectangle's edge pixels completely.
    const uint8_t* corner = Pixel(image, c.expected.x, c.expected.y + c.expected.height - 1);
    EXPECT_NEAR(corner[0], 20, 2);
    EXPECT_NEAR(corner[1], 60, 2);
    EXPECT_NEAR(corner[2], 140, 2);
  }
}

TEST(WatermarkRenderer, IsUprightAndNotMirrored) {
  const Image image = Watermarked640x480();
  const Rectangle r{6, 412, 192, 48};
  auto red = [](const uint8_t* p) { return p[0] > 180 && p[1] < 80 && p[2] < 80; };
  // The red square is in the mark's top-left corner, which is the smallest row of the output
  // (the output's first row is the top of the picture).
  EXPECT_TRUE(red(MarkTexel(image, r, 13.5f, 13.5f)));
  EXPECT_FALSE(red(MarkTexel(image, r, 13.5f, kMarkHeight - 14.5f)));
  EXPECT_FALSE(red(MarkTexel(image, r, kMarkWidth - 14.5f, 13.5f)));
}

TEST(WatermarkRenderer, BlendsByTheMarksAlpha) {
  const Image image = Watermarked640x480();
  const Rectangle r{6, 412, 192, 48};
  // A clear texel inside the frame leaves the frame's pixel as it was.
  EXPECT_TRUE(IsBackground(MarkTexel(image, r, 96, 32)));
  // A bar texel (20, 60, 140) at alpha 200 / 255 over the background.
  const uint8_t* bar = MarkTexel(image, r, 150, 18);
  const float a = 200.0f / 255.0f;
  const float expected[3] = {20 * a + kBackground[0] * (1 - a), 60 * a + kBackground[1] * (1 - a),
                             140 * a + kBackground[2] * (1 - a)};
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(bar[c], expected[c], 2) << c;
}

TEST(WatermarkRenderer, InitialisesOnceAndDrawsOnEveryFrame) {
  test::LogCapture log;
  WatermarkRenderer watermark;
  EXPECT_EQ(log.CountPrefix("INFO WatermarkRenderer::Init()"), 0);  // no GPU work at construction
  auto small = Output({320, 240});
  auto large = Output({1280, 720});
  for (int frame = 0; frame < 3; ++frame) {
    watermark.Render(frame == 1 ? large : small);
  }
  EXPECT_EQ(log.Count("INFO WatermarkRenderer::Init()"), 1);
  // Drawn again over the last frame: the semi-transparent bars darken further on the second pass.
  auto once = Output({320, 240});
  watermark.Render(once);
  const Rectangle r{3, 206, 96, 24};
  const Image twice_image = Read(small), once_image = Read(once), large_image = Read(large);
  EXPECT_LT(MarkTexel(twice_image, r, 150, 18)[1], MarkTexel(once_image, r, 150, 18)[1]);
  EXPECT_FALSE(IsBackground(MarkTexel(large_image, {12, 607, 384, 96}, 1, 1)));
}

TEST(WatermarkRenderer, AMissingPictureIsReportedOnceAndDrawsNothing) {
  test::LogCapture log;
  WatermarkRenderer watermark(":/no-such-watermark.png");
  auto output = Output({640, 480});
  watermark.Render(output);
  watermark.Render(output);
  EXPECT_EQ(log.Count("FATAL Watermark image not found"), 1);
  const Image image = Read(output);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) ASSERT_TRUE(IsBackground(Pixel(image, x, y))) << x << "," << y;
}

}  // namespace
}  // namespace vantisol
