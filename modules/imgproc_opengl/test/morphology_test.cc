// Morphology against a CPU rendering of the rules, and the scaled variant's sizes and filters.
#include "imgproc_opengl/morphology.h"

#include <gtest/gtest.h>

#include <random>

#include "gl_test.h"

namespace vantisol {
namespace {

using Grey = std::vector<uint8_t>;

// One pass along x (dx = 1) or y (dy = 1); positions past the edge read the edge.
Grey Pass(const Grey& in, Size size, bool erode, int reach, uint8_t target, bool horizontal) {
  Grey out(in.size());
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      const uint8_t c = in[y * size.width + x];
      uint8_t value = c;
      for (int i = -reach; i <= reach && c != target; ++i) {
        const int nx = std::clamp(horizontal ? x + i : x, 0, size.width - 1);
        const int ny = std::clamp(horizontal ? y : y + i, 0, size.height - 1);
        const uint8_t n = in[ny * size.width + nx];
        if (i != 0 && (erode ? n != c : n == target)) {
          value = target;
          break;
        }
      }
      out[y * size.width + x] = value;
    }
  }
  return out;
}

Grey Reference(const Grey& in, Size size, bool erode, int reach, uint8_t target) {
  return Pass(Pass(in, size, erode, reach, target, true), size, erode, reach, target, false);
}

Image ToImage(const Grey& values, Size size) {
  Image image(size, Image::Format::kGray8);
  std::copy(values.begin(), values.end(), image.data.get());
  return image;
}

Grey ToGrey(const Texture& texture) {
  const Image image = texture.Download();
  return Grey(image.data.get(), image.data.get() + image.size.width * image.size.height);
}

// Blobs of 0, 128 and 255 with a few stray values in between.
Grey RandomTrimap(Size size, unsigned seed) {
  std::mt19937 random(seed);
  Grey values(size_t(size.width) * size.height);
  const uint8_t levels[] = {0, 128, 255, 127, 129, 254};
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x)
      values[y * size.width + x] =
          random() % 10 == 0 ? levels[random() % 6] : levels[((x / 5) + (y / 4) * 3) % 3];
  return values;
}

TEST(MorphologyTest, MatchesTheCpuRules) {
  const Size size{41, 29};
  struct Case {
    bool erode;
    int reach;
    uint8_t target;
  };
  for (const Case c :
       {Case{true, 4, 128}, Case{false, 3, 255}, Case{false, 1, 0}, Case{true, 2, 255}}) {
    SCOPED_TRACE(testing::Message() << c.erode << " " << c.reach << " " << int(c.target));
    const Grey input = RandomTrimap(size, 5 + c.reach);
    opengl::Morphology morphology(c.erode, c.reach, c.target);
    Texture in(ToImage(input, size));
    Texture out(Image::Format::kGray8);
    morphology.Apply(in, out);
    EXPECT_EQ(ToGrey(out), Reference(input, size, c.erode, c.reach, c.target));
    // In place gives the same.
    morphology.Apply(in, in);
    EXPECT_EQ(ToGrey(in), Reference(input, size, c.erode, c.reach, c.target));
  }
}

TEST(MorphologyTest, ErosionBandIsFourPixelsEachSideOfAnEdge) {
  const Size size{30, 3};
  Grey input(90);
  for (int i = 0; i < 90; ++i) input[i] = i % 30 < 15 ? 255 : 0;
  opengl::Morphology erosion(true, 4, 128);
  Texture texture(ToImage(input, size));
  erosion.Apply(texture, texture);
  const Grey out = ToGrey(texture);
  for (int x = 0; x < 30; ++x) {
    const uint8_t expected = x <= 10 ? 255 : x >= 19 ? 0 : 128;
    EXPECT_EQ(out[30 + x], expected) << x;
  }
}

// A dilation at 1/8 resolution on a picture made of 8x8 blocks equals the full-resolution rule on
// the blocks, scaled back up.
TEST(ScaledMorphologyTest, WorksOnTheCoarseGridAndRestoresTheFilter) {
  const Size small{12, 9}, size{96, 72};
  Grey coarse(size_t(small.width) * small.height, 0);
  coarse[4 * small.width + 3] = 255;
  coarse[8 * small.width + 11] = 255;
  Grey fine(size_t(size.width) * size.height);
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x)
      fine[y * size.width + x] = coarse[(y / 8) * small.width + x / 8];
  const Grey coarse_expected = Reference(coarse, small, false, 2, 255);

  opengl::ScaledMorphology dilation(false, 2, 255);
  Texture in(ToImage(fine, size));
  in.SetInterpolation(Texture::Linear);
  Texture out(Image::Format::kGray8);
  dilation.Apply(in, out, 8);
  EXPECT_EQ(in.interpolation(), Texture::Linear);
  ASSERT_EQ(out.size(), size);
  const Grey result = ToGrey(out);
  int wrong = 0;
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x)
      wrong += result[y * size.width + x] != coarse_expected[(y / 8) * small.width + x / 8];
  EXPECT_EQ(wrong, 0);

  dilation.set_scale_back(false);
  Texture small_out(Image::Format::kGray8);
  dilation.Apply(in, small_out, 8);
  ASSERT_EQ(small_out.size(), small);
  EXPECT_EQ(ToGrey(small_out), coarse_expected);
}

}  // namespace
}  // namespace vantisol
