#include "opengl/texture_draw.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "gl_test.h"

using namespace gl;

namespace vantisol {
namespace {

// Runs `draw` with `target` as the framebuffer and the viewport over it.
void DrawInto(Texture& target, const std::function<void()>& draw) {
  GLuint framebuffer = 0;
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.id(), 0);
  {
    ViewportGuard viewport(target.size());
    draw();
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &framebuffer);
}

Image Numbered(Size size, Image::Format format) {
  Image image(size, format);
  const int bytes = size.width * size.height * Image::pixel_size(format);
  for (int i = 0; i < bytes; ++i) image.data.get()[i] = uint8_t(i * 7 + 3);
  return image;
}

uint8_t At(const Image& image, int x, int y, int channel) {
  const int pixel = Image::pixel_size(image.format);
  return image.data.get()[(y * image.size.width + x) * pixel + channel];
}

void ExpectRect(const Rectangle& r, int x, int y, int w, int h) {
  EXPECT_EQ(r.x, x);
  EXPECT_EQ(r.y, y);
  EXPECT_EQ(r.width, w);
  EXPECT_EQ(r.height, h);
}

TEST(TextureDrawTest, FitModeNumbers) {
  ExpectRect(TextureDraw::Placement({1280, 720}, {640, 640}, TextureDraw::kFit), 0, 140, 640, 360);
  ExpectRect(TextureDraw::Placement({640, 480}, {1280, 720}, TextureDraw::kFit), 160, 0, 960, 720);
  ExpectRect(TextureDraw::Placement({640, 480}, {1280, 720}, TextureDraw::kFill), 0, -120, 1280,
             960);
  ExpectRect(TextureDraw::Placement({640, 480}, {1280, 720}, TextureDraw::kStretch), 0, 0, 1280,
             720);
}

TEST(TextureDrawTest, StretchAndFlipsAreExactMirrors) {
  TextureDraw draw;
  Texture source(Numbered({8, 6}, Image::Format::kRGBA));
  source.SetInterpolation(Texture::Nearest);
  for (int flips : {0, 1, 2, 3}) {
    Texture target(Image::Format::kRGBA);
    target.Resize({8, 6});
    DrawInto(target, [&] { draw.Draw(source, Size{8, 6}, TextureDraw::kStretch, flips); });
    const Image in = source.Download(), out = target.Download();
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x)
        for (int c = 0; c < 4; ++c) {
          const int sx = (flips & 1) ? 7 - x : x, sy = (flips & 2) ? 5 - y : y;
          ASSERT_EQ(At(out, x, y, c), At(in, sx, sy, c)) << flips << " " << x << "," << y;
        }
  }
}

TEST(TextureDrawTest, SingleChannelIsGreyAndFitLeavesBarsAlone) {
  TextureDraw draw;
  Texture gray(Numbered({4, 2}, Image::Format::kGray8));
  gray.SetInterpolation(Texture::Nearest);
  Texture target(Image(Size{8, 8}, Image::Format::kRGBA));
  Image blue(Size{8, 8}, Image::Format::kRGBA);
  for (int i = 0; i < 64; ++i) {
    blue.data.get()[4 * i] = 0, blue.data.get()[4 * i + 1] = 0;
    blue.data.get()[4 * i + 2] = 255, blue.data.get()[4 * i + 3] = 255;
  }
  target.Assign(blue);
  // 4x2 into 8x8 fitted: rows 2..5 hold the picture, the bars keep their colour.
  DrawInto(target, [&] { draw.Draw(gray, Size{8, 8}, TextureDraw::kFit, 0); });
  const Image in = gray.Download(), out = target.Download();
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      if (y < 2 || y >= 6) {
        EXPECT_EQ(At(out, x, y, 2), 255);
        EXPECT_EQ(At(out, x, y, 0), 0);
        continue;
      }
      const uint8_t v = At(in, x / 2, (y - 2) / 2, 0);
      EXPECT_EQ(At(out, x, y, 0), v);
      EXPECT_EQ(At(out, x, y, 1), v);
      EXPECT_EQ(At(out, x, y, 2), v);
    }
}

TEST(TextureDrawTest, RawNameAtPlacement) {
  TextureDraw draw;
  Texture source(Numbered({2, 2}, Image::Format::kRGBA));
  source.SetInterpolation(Texture::Nearest);
  Texture target(Image(Size{6, 6}, Image::Format::kRGBA));
  target.Assign(Image(Size{6, 6}, Image::Format::kRGBA, std::vector<uint8_t>(144, 9).data()));
  DrawInto(target, [&] { draw.Draw(source.id(), Rectangle{3, 1, 2, 2}, 0); });
  const Image in = source.Download(), out = target.Download();
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 3 && x < 5 && y >= 1 && y < 3;
      EXPECT_EQ(At(out, x, y, 0), inside ? At(in, x - 3, y - 1, 0) : 9) << x << "," << y;
    }
}

TEST(TextureCopyTest, WholeWindowAndUnsigned) {
  TextureCopy copy;
  Texture source(Numbered({120, 80}, Image::Format::kRGBA));
  Texture whole(Image::Format::kRGBA);
  whole.Resize({4, 4});
  copy.Copy(source, whole);
  EXPECT_EQ(whole.size(), (Size{120, 80}));
  const Image in = source.Download(), all = whole.Download();
  EXPECT_EQ(std::memcmp(in.data.get(), all.data.get(), 120 * 80 * 4), 0);

  Texture window(Image::Format::kRGBA);
  window.Resize({100, 50});
  copy.Copy(source.id(), window.id(), 10, 20, 100, 50);
  const Image part = window.Download();
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x)
      for (int c = 0; c < 4; ++c) ASSERT_EQ(At(part, x, y, c), At(in, x + 10, y + 20, c));

  Image depth(Size{9, 5}, Image::Format::kGray16);
  auto* values = reinterpret_cast<uint16_t*>(depth.data.get());
  for (int i = 0; i < 45; ++i) values[i] = uint16_t(i * 1000 + 7);
  Texture depth_source(depth), depth_target(Image::Format::kGray16);
  depth_target.Resize({9, 5});
  copy.CopyUnsigned(depth_source.id(), depth_target.id(), 9, 5);
  const Image copied = depth_target.Download();
  EXPECT_EQ(std::memcmp(copied.data.get(), depth.data.get(), 90), 0);
}

// An odd leftover on either axis is halved toward zero, whatever its sign: a picture placed one
// pixel off (rounding the half up, or flooring a negative one) is caught on each axis.
TEST(TextureDrawTest, OddLeftoversAreHalvedTowardZero) {
  struct Case {
    Size texture, target;
    int fit_mode;
    Rectangle expected;
  };
  const Case cases[] = {
      {{640, 480}, {1281, 720}, TextureDraw::kFit, {160, 0, 960, 720}},     // 321 / 2
      {{1280, 720}, {640, 641}, TextureDraw::kFit, {0, 140, 640, 360}},     // 281 / 2
      {{1920, 1080}, {642, 480}, TextureDraw::kFill, {-105, 0, 853, 480}},  // -211 / 2
      {{640, 480}, {1280, 723}, TextureDraw::kFill, {0, -118, 1280, 960}},  // -237 / 2
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.texture.width << "x" << c.texture.height << " in "
                                    << c.target.width << "x" << c.target.height);
    const Rectangle& e = c.expected;
    ExpectRect(TextureDraw::Placement(c.texture, c.target, c.fit_mode), e.x, e.y, e.width,
               e.height);
  }
}

}  // namespace
}  // namespace vantisol
