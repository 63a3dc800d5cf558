#include "opengl/texture.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "gl_test.h"

using namespace gl;

namespace vantisol {
namespace {

bool SameBytes(const Image& a, const Image& b) {
  if (a.format == Image::Format::kDepth32 && a.size == b.size && a.format == b.format) {
    // Depth is stored as 32-bit fixed point: the float round trip is exact to about 2^-24.
    const auto* x = reinterpret_cast<const float*>(a.data.get());
    const auto* y = reinterpret_cast<const float*>(b.data.get());
    for (int i = 0; i < a.size.width * a.size.height; ++i) {
      if (std::abs(x[i] - y[i]) > 1e-6f) return false;
    }
    return true;
  }
  return a.size == b.size && a.format == b.format &&
         std::memcmp(a.data.get(), b.data.get(),
                     size_t(a.size.width) * a.size.height * Image::pixel_size(a.format)) == 0;
}

GLint Parameter(const Texture& texture, GLenum name) {
  auto bound = texture.ScopedBind(0);
  GLint value = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
  return value;
}

class TextureRoundTrip : public testing::TestWithParam<Image::Format> {};

TEST_P(TextureRoundTrip, UploadThenDownloadGivesTheSamePixels) {
  // Odd widths exercise every row alignment.
  for (Size size : {Size{37, 11}, Size{64, 3}}) {
    const Image image = test::RandomImage(size, GetParam(), 7);
    Texture texture(image);
    EXPECT_NE(texture.id(), 0u);
    EXPECT_EQ(texture.size(), size);
    EXPECT_EQ(texture.internal_format(), GetParam());
    EXPECT_TRUE(SameBytes(texture.Download(), image)) << GetParam();
    // An upload of the same size and format updates in place.
    const GLuint id = texture.id();
    const Image second = test::RandomImage(size, GetParam(), 8);
    texture.Assign(second);
    EXPECT_EQ(texture.id(), id);
    EXPECT_TRUE(SameBytes(texture.Download(), second)) << GetParam();
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, TextureRoundTrip,
                         testing::Values(Image::Format::kBGRA, Image::Format::kRGBA,
                                         Image::Format::kBGR, Image::Format::kRGB,
                                         Image::Format::kYUY2, Image::Format::kGray8,
                                         Image::Format::kGray16, Image::Format::kGray32,
                                         Image::Format::kRGB32F, Image::Format::kDepth32));

// Two pixels of known colour in a format's own byte order, and what GL must read from them as
// RGBA: a texture that swaps red and blue both ways passes the round trip but not this.
struct KnownColour {
  Image::Format format;
  std::vector<uint8_t> bytes;  // memory order of the format
  std::vector<float> rgba;     // as GL reads them, 0..1 (absent channels read 0, alpha 1)
};

std::vector<KnownColour> KnownColours() {
  return {
      {Image::Format::kRGBA,
       {200, 100, 30, 250, 10, 20, 40, 80},
       {200, 100, 30, 250, 10, 20, 40, 80}},
      {Image::Format::kBGRA,
       {30, 100, 200, 250, 40, 20, 10, 80},
       {200, 100, 30, 250, 10, 20, 40, 80}},
      {Image::Format::kRGB, {200, 100, 30, 10, 20, 40}, {200, 100, 30, 255, 10, 20, 40, 255}},
      {Image::Format::kBGR, {30, 100, 200, 40, 20, 10}, {200, 100, 30, 255, 10, 20, 40, 255}},
      // Y0 U Y1 V: luma in red, chroma in green.
      {Image::Format::kYUY2, {90, 60, 180, 240}, {90, 60, 0, 255, 180, 240, 0, 255}},
  };
}

std::vector<float> ReadAsRgba(const Texture& texture) {
  auto bound = texture.ScopedBind(0);
  std::vector<float> rgba(size_t(texture.size().width) * texture.size().height * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, rgba.data());
  return rgba;
}

TEST(TextureChannelOrder, UploadPutsEachByteInTheChannelGlReads) {
  for (const KnownColour& known : KnownColours()) {
    Image image(Size{2, 1}, known.format);
    std::memcpy(image.data.get(), known.bytes.data(), known.bytes.size());
    const std::vector<float> seen = ReadAsRgba(Texture(image));
    for (size_t i = 0; i < 8; ++i) {
      EXPECT_NEAR(seen[i] * 255, known.rgba[i], 0.01) << known.format << " value " << i;
    }
  }
  // Float colour: three channels in RGB order.
  Image image(Size{1, 1}, Image::Format::kRGB32F);
  const float rgb[3] = {0.75f, 0.5f, 0.125f};
  std::memcpy(image.data.get(), rgb, sizeof(rgb));
  const std::vector<float> seen = ReadAsRgba(Texture(image));
  EXPECT_EQ(seen, (std::vector<float>{0.75f, 0.5f, 0.125f, 1}));
}

TEST(TextureChannelOrder, DownloadWritesEachChannelGlHoldsInTheFormatsOrder) {
  for (const KnownColour& known : KnownColours()) {
    Texture texture(known.format);
    texture.Resize(Size{2, 1});
    std::vector<uint8_t> rgba(8);
    for (size_t i = 0; i < 8; ++i) rgba[i] = uint8_t(known.rgba[i]);
    {
      auto bound = texture.ScopedBind(0);
      glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 2, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    }
    const Image image = texture.Download();
    EXPECT_EQ(std::vector<uint8_t>(image.data.get(), image.data.get() + known.bytes.size()),
              known.bytes)
        << known.format;
  }
  Texture texture(Image::Format::kRGB32F);
  texture.Resize(Size{1, 1});
  const float rgba[4] = {0.75f, 0.5f, 0.125f, 1};
  {
    auto bound = texture.ScopedBind(0);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 1, 1, GL_RGBA, GL_FLOAT, rgba);
  }
  const Image image = texture.Download();
  const auto* rgb = reinterpret_cast<const float*>(image.data.get());
  EXPECT_EQ(std::vector<float>(rgb, rgb + 3), (std::vector<float>{0.75f, 0.5f, 0.125f}));
}

TEST(TextureTest, DownloadConvertsToAnotherFormat) {
  Image image(Size{3, 2}, Image::Format::kRGBA);
  for (int i = 0; i < 24; ++i) image.data.get()[i] = uint8_t(i * 10);
  Texture texture(image);
  const Image bgra = texture.Download(Image::Format::kBGRA);
  for (int p = 0; p < 6; ++p) {
    EXPECT_EQ(bgra.data.get()[4 * p + 0], image.data.get()[4 * p + 2]);
    EXPECT_EQ(bgra.data.get()[4 * p + 2], image.data.get()[4 * p + 0]);
  }
}

TEST(TextureTest, AlignmentChoice) {
  alignas(8) uint8_t buffer[64] = {};
  EXPECT_EQ(TransferAlignment(buffer, 5, Image::Format::kRGB), 1);
  EXPECT_EQ(TransferAlignment(buffer, 5, Image::Format::kRGBA), 4);
  EXPECT_EQ(TransferAlignment(buffer, 24, Image::Format::kYUY2), 8);
  EXPECT_EQ(TransferAlignment(buffer + 2, 24, Image::Format::kYUY2), 2);
  // A 15-byte row from an odd address still round-trips.
  for (int i = 0; i < 45; ++i) buffer[1 + i] = uint8_t(i);
  Image rgb(Size{5, 3}, Image::Format::kRGB, buffer + 1);
  Texture texture(rgb);
  EXPECT_TRUE(SameBytes(texture.Download(), rgb));
}

TEST(TextureTest, FormatMappingRejectsInvalid) {
  test::LogCapture log;
  EXPECT_EQ(ToOpenGl(Image::Format::kInvalid), GLenum(0));
  EXPECT_EQ(ToOpenGlComputeFormat(Image::Format::kRGBA), GLenum(0));
  EXPECT_EQ(ToOpenGlComputeFormat(Image::Format::kGray16), GL_R16UI);
  EXPECT_EQ(log.CountPrefix("FATAL Cannot handle format yet: "), 1);
  EXPECT_EQ(log.Count("FATAL Format not supported!"), 1);
  EXPECT_EQ(ToGl(Texture::Access::WriteOnly), GL_WRITE_ONLY);
}

TEST(TextureTest, ResizeKeepsOrChangesTheFormat) {
  Texture texture(Image::Format::kGray16);
  EXPECT_EQ(texture.id(), 0u);
  texture.Resize(Size{8, 4});
  EXPECT_NE(texture.id(), 0u);
  EXPECT_EQ(texture.internal_format(), Image::Format::kGray16);
  texture.Resize(Size{9, 4}, Image::Format::kRGBA);
  EXPECT_EQ(texture.internal_format(), Image::Format::kRGBA);
  EXPECT_EQ(texture.size(), (Size{9, 4}));
  auto bound = texture.ScopedBind(0);
  GLint width = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  EXPECT_EQ(width, 9);
}

TEST(TextureTest, BadInputFailsItsChecksAndKeepsTheTexture) {
  test::LogCapture log;
  Texture texture(Image(Size{2, 2}, Image::Format::kGray8));
  texture.Assign(Image());
  texture.Resize(Size{0, 5});
  EXPECT_EQ(texture.size(), (Size{2, 2}));
  EXPECT_EQ(log.Count("FATAL Check failed: [image.valid() && !image.empty()] "), 1);
  EXPECT_EQ(log.Count("FATAL Check failed: [!new_size.empty()] "), 1);
}

TEST(TextureTest, InterpolationRules) {
  Texture rgba(Image(Size{2, 2}, Image::Format::kRGBA));
  EXPECT_EQ(Parameter(rgba, GL_TEXTURE_MAG_FILTER), GLint(GL_LINEAR));
  EXPECT_EQ(Parameter(rgba, GL_TEXTURE_WRAP_S), GLint(GL_CLAMP_TO_EDGE));
  rgba.SetInterpolation(Texture::Nearest);
  EXPECT_EQ(Parameter(rgba, GL_TEXTURE_MIN_FILTER), GLint(GL_NEAREST));

  test::LogCapture log;
  Texture gray16(Image(Size{2, 2}, Image::Format::kGray16));
  EXPECT_EQ(Parameter(gray16, GL_TEXTURE_MIN_FILTER), GLint(GL_NEAREST));
  gray16.SetInterpolation(Texture::Linear);
  EXPECT_EQ(gray16.interpolation(), Texture::Default);
  EXPECT_EQ(Parameter(gray16, GL_TEXTURE_MAG_FILTER), GLint(GL_NEAREST));
  EXPECT_EQ(log.Count("WARNING Interpolation set to linear, but using integer format! Disabling "
                      "interpolation..."),
            1);
}

TEST(TextureTest, BindingGuards) {
  Texture a(Image(Size{1, 1}, Image::Format::kRGBA));
  Texture b(Image(Size{1, 1}, Image::Format::kRGBA));
  test::LogCapture log;
  {
    auto bound_b = b.ScopedBind(1);
    {
      auto bound_a = a.ScopedBind(1);
      EXPECT_EQ(log.Count("WARNING Overwriting bound texture!"), 1);
    }
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);  // B is not restored
    // B's guard now finds nothing of its own there.
    auto bound_a = a.ScopedBind(1);
    auto moved = std::move(bound_b);
    EXPECT_EQ(bound_b.kind(), Texture::Unbinder::Kind::kNone);
  }
  EXPECT_EQ(log.Count("WARNING Trying to unbind unbound texture"), 1);

  {
    auto outer = a.ScopedBind(2);
    auto inner = a.ScopedBind(2);
    EXPECT_EQ(inner.kind(), Texture::Unbinder::Kind::kNone);
  }
  glActiveTexture(GL_TEXTURE2);
  GLint bound = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(bound, 0);

  glActiveTexture(GL_TEXTURE0);
  auto none = a.ScopedBind(-1);
  EXPECT_EQ(none.kind(), Texture::Unbinder::Kind::kNone);
  EXPECT_EQ(log.Count("WARNING Trying to bind to texture unit < 0"), 1);
}

TEST(TextureTest, ImageUnitGuards) {
  Texture a(Image(Size{4, 4}, Image::Format::kGray32));
  Texture b(Image::Format::kGray32);
  test::LogCapture log;
  {
    auto bound_a = a.ScopedBindImage(0, Texture::Access::ReadWrite);
    EXPECT_EQ(bound_a.kind(), Texture::Unbinder::Kind::kImageUnit);
    auto again = a.ScopedBindImage(0, Texture::Access::ReadOnly);
    EXPECT_EQ(again.kind(), Texture::Unbinder::Kind::kNone);
    b.Resize(Size{4, 4});
    auto bound_b = b.ScopedBindImage(0, Texture::Access::ReadOnly);
    EXPECT_EQ(log.Count("WARNING Overwriting bound compute texture"), 1);
  }
  EXPECT_EQ(log.Count("WARNING Trying to unbind unbound image"), 1);
  a.ScopedBindImage(-1, Texture::Access::ReadOnly);
  EXPECT_EQ(log.Count("WARNING Trying to bind to location < 0"), 1);
}

}  // namespace
}  // namespace vantisol
