// The segmenter against a plain CPU pyramid fill written from the rules: exact labels and colours.
#include "imgproc_opengl/segmenter.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "gl_test.h"

namespace vantisol {
namespace {

struct Pixel {
  int r = 0, g = 0, b = 0, a = 0;  // 8-bit levels; a is 0, 128 or 255
  bool operator==(const Pixel& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

struct Picture {
  int width = 0, height = 0;
  std::vector<Pixel> pixels;
  const Pixel& at(int x, int y) const {
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y, 0, height - 1);
    return pixels[size_t(y) * width + x];
  }
  Pixel& at(int x, int y) { return pixels[size_t(y) * width + x]; }
};

Picture Halve(const Picture& fine) {
  Picture coarse{(fine.width + 1) / 2, (fine.height + 1) / 2, {}};
  coarse.pixels.resize(size_t(coarse.width) * coarse.height);
  for (int y = 0; y < coarse.height; ++y) {
    for (int x = 0; x < coarse.width; ++x) {
      int sums[3][3] = {};  // black, white, all
      int counts[2] = {};
      for (int j = 0; j < 2; ++j) {
        for (int i = 0; i < 2; ++i) {
          const Pixel& p = fine.at(2 * x + i, 2 * y + j);
          const int kind = p.a == 0 ? 0 : p.a == 255 ? 1 : -1;
          for (int target : {kind, 2}) {
            if (target < 0) continue;
            sums[target][0] += p.r;
            sums[target][1] += p.g;
            sums[target][2] += p.b;
          }
          if (kind >= 0) ++counts[kind];
        }
      }
      int source, n, label;
      if (counts[1] > 0 && counts[0] == 0) {
        source = 1, n = counts[1], label = 255;
      } else if (counts[0] > 0 && counts[1] == 0) {
        source = 0, n = counts[0], label = 0;
      } else {
        source = 2, n = 4, label = 128;
      }
      coarse.at(x, y) = {(sums[source][0] + n / 2) / n, (sums[source][1] + n / 2) / n,
                         (sums[source][2] + n / 2) / n, label};
    }
  }
  return coarse;
}

Picture FillLevel(const Picture& image, const Picture& smaller, const Picture* previous) {
  Picture out = image;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const Pixel c = image.at(x, y);
      if (c.a != 128) continue;
      std::vector<Pixel> candidates;
      if (previous) candidates.push_back(previous->at(x, y));
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) candidates.push_back(smaller.at(x / 2 + dx, y / 2 + dy));
      const double inf = std::numeric_limits<double>::infinity();
      double best[2] = {inf, inf};
      int count[2] = {0, 0};
      Pixel colour[2];
      for (const Pixel& p : candidates) {
        if (p.a == 128) continue;
        const int k = p.a == 255 ? 1 : 0;
        const double d = double(p.r - c.r) * (p.r - c.r) + double(p.g - c.g) * (p.g - c.g) +
                         double(p.b - c.b) * (p.b - c.b);
        ++count[k];
        if (d < best[k]) best[k] = d, colour[k] = p;
      }
      // IEEE arithmetic on the infinities as the rule states it; NaN compares false.
      if (best[0] * count[1] < best[1] * count[0]) {
        out.at(x, y) = {colour[0].r, colour[0].g, colour[0].b, 0};
      } else if (count[1] > 0) {
        out.at(x, y) = {colour[1].r, colour[1].g, colour[1].b, 255};
      } else {
        out.at(x, y) = {0, 0, 0, 255};
      }
    }
  }
  return out;
}

// All levels of one frame, full resolution first.
std::vector<Picture> Segment(const Picture& input, const std::vector<Picture>* previous) {
  std::vector<Picture> pyramid{input};
  const int levels = opengl::Segmenter::LevelCount({input.width, input.height});
  while (int(pyramid.size()) < levels) pyramid.push_back(Halve(pyramid.back()));
  std::vector<Picture> results(levels);
  results[levels - 1] = pyramid[levels - 1];
  for (int level = levels - 2; level >= 0; --level) {
    results[level] =
        FillLevel(pyramid[level], results[level + 1], previous ? &(*previous)[level] : nullptr);
  }
  return results;
}

Picture RandomPicture(int width, int height, unsigned seed, int unknown_percent) {
  std::mt19937 random(seed);
  Picture picture{width, height, std::vector<Pixel>(size_t(width) * height)};
  // Two colour populations with noise, so that colour decides most unknown pixels.
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool person = (x - width / 2) * (x - width / 2) + (y - height / 2) * (y - height / 2) <
                          width * height / 6;
      const int base = person ? 180 : 60;
      Pixel& p = picture.at(x, y);
      p.r = std::clamp(base + int(random() % 61) - 30, 0, 255);
      p.g = std::clamp(base / 2 + int(random() % 61) - 30, 0, 255);
      p.b = int(random() % 256);
      p.a = int(random() % 100) < unknown_percent ? 128 : person ? 255 : 0;
    }
  }
  return picture;
}

std::unique_ptr<Texture> Upload(const Picture& picture) {
  Image image({picture.width, picture.height}, Image::Format::kRGBA);
  for (size_t i = 0; i < picture.pixels.size(); ++i) {
    const Pixel& p = picture.pixels[i];
    uint8_t* out = image.data.get() + 4 * i;
    out[0] = uint8_t(p.r), out[1] = uint8_t(p.g), out[2] = uint8_t(p.b), out[3] = uint8_t(p.a);
  }
  return std::make_unique<Texture>(image);
}

Picture Download(const Texture& texture) {
  const Image image = texture.Download(Image::Format::kRGBA);
  Picture picture{image.size.width, image.size.height, {}};
  for (int i = 0; i < image.size.width * image.size.height; ++i) {
    const uint8_t* p = image.data.get() + 4 * i;
    picture.pixels.push_back({p[0], p[1], p[2], p[3]});
  }
  return picture;
}

int Differences(const Picture& a, const Picture& b) {
  int differences = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) differences += !(a.pixels[i] == b.pixels[i]);
  return differences;
}

TEST(SegmenterTest, LevelCountFollowsTheShorterSide) {
  EXPECT_EQ(opengl::Segmenter::LevelCount({640, 480}), 10);
  EXPECT_EQ(opengl::Segmenter::LevelCount({1280, 720}), 11);
  EXPECT_EQ(opengl::Segmenter::LevelCount({1, 1}), 1);
  EXPECT_EQ(opengl::Segmenter::LevelCount({256, 257}), 9);
  opengl::Segmenter segmenter;
  segmenter.Segment(
      std::make_unique<Texture>(test::RandomImage({640, 480}, Image::Format::kRGBA, 1)));
  ASSERT_EQ(segmenter.levels(), 10);
  EXPECT_EQ(segmenter.level(9).size(), (Size{2, 1}));
  EXPECT_EQ(segmenter.result().size(), (Size{640, 480}));
}

// Three frames: without a previous frame, with one, and after Reset without one again.
TEST(SegmenterTest, MatchesTheCpuFillOverFramesAndReset) {
  for (const Size size : {Size{37, 23}, Size{64, 48}, Size{21, 40}}) {
    SCOPED_TRACE(testing::Message() << size);
    opengl::Segmenter segmenter;
    const Picture first = RandomPicture(size.width, size.height, 7, 40);
    const Picture second = RandomPicture(size.width, size.height, 8, 60);
    const auto expected_first = Segment(first, nullptr);
    const auto expected_second = Segment(second, &expected_first);
    const auto expected_fresh = Segment(second, nullptr);
    // The previous frame must matter here, or the second frame checks nothing new.
    ASSERT_GT(Differences(expected_second[0], expected_fresh[0]), 0);

    segmenter.Segment(Upload(first));
    for (int level = 0; level < segmenter.levels(); ++level) {
      EXPECT_EQ(Differences(Download(segmenter.result(level)), expected_first[level]), 0)
          << "level " << level;
    }
    segmenter.Segment(Upload(second));
    EXPECT_EQ(Differences(Download(segmenter.result()), expected_second[0]), 0);
    segmenter.Reset();
    segmenter.Segment(Upload(second));
    EXPECT_EQ(Differences(Download(segmenter.result()), expected_fresh[0]), 0);
  }
}

TEST(SegmenterTest, KnownPixelsPassUnchanged) {
  Picture known = RandomPicture(50, 30, 3, 0);
  opengl::Segmenter segmenter;
  segmenter.Segment(Upload(known));
  segmenter.Segment(Upload(known));
  EXPECT_EQ(Differences(Download(segmenter.result()), known), 0);
}

TEST(SegmenterTest, NearestColourWinsOverMoreNumerousCandidates) {
  // A white field with one black block of the unknown pixel's own colour: at the next level the
  // unknown pixel sees one black candidate and eight white ones.
  Picture picture{8, 8, std::vector<Pixel>(64, Pixel{200, 200, 200, 255})};
  for (int i = 0; i < 4; ++i) picture.at(i % 2, i / 2) = {20, 20, 20, 0};
  picture.at(2, 2) = {20, 20, 20, 128};
  picture.at(6, 6) = {190, 190, 190, 128};
  opengl::Segmenter segmenter;
  segmenter.Segment(Upload(picture));
  const Picture result = Download(segmenter.result());
  EXPECT_EQ(result.at(2, 2), (Pixel{20, 20, 20, 0}));
  EXPECT_EQ(result.at(6, 6), (Pixel{200, 200, 200, 255}));
}

TEST(SegmenterTest, InputWithoutAlphaFailsItsCheck) {
  test::LogCapture log;
  opengl::Segmenter segmenter;
  auto returned = segmenter.Segment(
      std::make_unique<Texture>(test::RandomImage({8, 8}, Image::Format::kRGB, 1)));
  EXPECT_EQ(log.CountPrefix("FATAL Check failed: [input->channels() == 4]"), 1);
  EXPECT_NE(returned, nullptr);
  segmenter.Segment(nullptr);
  EXPECT_EQ(log.CountPrefix("FATAL Check failed: [input]"), 1);
}

}  // namespace
}  // namespace vantisol
