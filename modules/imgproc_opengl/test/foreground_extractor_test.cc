// Foreground extraction on synthetic projected depth, and the automatic threshold against a
// direct reading of balanced histogram thresholding.
#include "imgproc_opengl/foreground_extractor.h"

#include <gtest/gtest.h>
#include <lodepng.h>
#include <stdlib.h>

#include <functional>
#include <random>

#include "gl_test.h"
#include "test_folder.h"

namespace vantisol {
namespace {

Image Depth(Size size, const std::function<uint16_t(int, int)>& value) {
  Image image(size, Image::Format::kGray16);
  auto* depth = reinterpret_cast<uint16_t*>(image.data.get());
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x) depth[y * size.width + x] = value(x, y);
  return image;
}

FaceData Face(int x, int y, int w, int h, int average_depth) {
  FaceData face;
  face.rect = {x, y, w, h};
  face.average_depth = average_depth;
  return face;
}

std::vector<uint8_t> Values(const Texture& texture) {
  const Image image = texture.Download(Image::Format::kGray8);
  return std::vector<uint8_t>(image.data.get(),
                              image.data.get() + image.size.width * image.size.height);
}

// Balanced histogram thresholding with both sums recounted from the histogram at every step.
int ReferenceThreshold(const Image& image, const std::vector<FaceData>& faces, int window) {
  std::vector<long> bins(65537, 0);
  const auto* depth = reinterpret_cast<const uint16_t*>(image.data.get());
  for (int y = 0; y < image.size.height; y += 16)
    for (int x = 0; x < image.size.width; x += 16) ++bins[depth[y * image.size.width + x]];
  int start = 0;
  for (const auto& face : faces) start = std::max(start, face.average_depth);
  int s = std::min(start, 65535), e = std::min(start + window, 65535), m = (s + e) / 2;
  auto sum = [&](int from, int to) {
    long total = 0;
    for (int i = from; i <= to; ++i) total += bins[i];
    return total;
  };
  while (s < e) {
    if (sum(m + 1, e) > sum(s, m)) {
      --e;
      if ((s + e) / 2 < m) --m;
    } else {
      ++s;
      if ((s + e) / 2 >= m) ++m;
    }
  }
  return m;
}

TEST(GetThresholdTest, MatchesTheReferenceOnNoisyScenes) {
  std::mt19937 random(3);
  for (int round = 0; round < 20; ++round) {
    const int near = 500 + int(random() % 1500), far = near + 200 + int(random() % 800);
    const Size size{320 + int(random() % 400), 240 + int(random() % 300)};
    const Image depth = Depth(size, [&](int x, int y) {
      if (random() % 20 == 0) return uint16_t(0);
      const int base = (x - size.width / 2) * (x - size.width / 2) +
                                   (y - size.height / 2) * (y - size.height / 2) <
                               size.width * size.height / 8
                           ? near
                           : far;
      return uint16_t(base + int(random() % 60) - 30);
    });
    const std::vector<FaceData> faces{Face(0, 0, 10, 10, near - 100), Face(0, 0, 10, 10, near)};
    const int window = 100 + int(random() % 900);
    EXPECT_EQ(opengl::GetThreshold(depth, faces, window), ReferenceThreshold(depth, faces, window))
        << near << " " << far << " " << window;
  }
}

TEST(GetThresholdTest, PersonBeforeAWallSplitsBetweenThem) {
  std::mt19937 random(9);
  // Measured depth scatters by a few millimetres around both surfaces.
  const Image depth = Depth({640, 480}, [&](int x, int) {
    return uint16_t((x < 300 ? 800 : 1300) + int(random() % 21) - 10);
  });
  // Every person pixel (up to 810) nearer than the threshold, every wall pixel (from 1290) not.
  const int threshold = opengl::GetThreshold(depth, {Face(200, 100, 80, 80, 800)}, 600);
  EXPECT_GT(threshold, 810);
  EXPECT_LE(threshold, 1290);
  // Two exact surfaces: the search ends on the wall's own bin, which the strict comparison of
  // the trimap still counts as background.
  const Image exact = Depth({640, 480}, [](int x, int) { return uint16_t(x < 300 ? 800 : 1300); });
  EXPECT_EQ(opengl::GetThreshold(exact, {Face(200, 100, 80, 80, 800)}, 600), 1300);
}

TEST(GetThresholdTest, WindowIsClampedToTheSixteenBitRange) {
  const Image depth =
      Depth({256, 256}, [](int x, int) { return uint16_t(x < 128 ? 65200 : 65535); });
  for (const int face_depth : {65000, 65300, 65535, 70000}) {
    const std::vector<FaceData> faces{Face(0, 0, 1, 1, face_depth)};
    const int threshold = opengl::GetThreshold(depth, faces, 600);
    EXPECT_LE(threshold, 65535);
    EXPECT_GE(threshold, std::min(face_depth, 65535));
    EXPECT_EQ(threshold, ReferenceThreshold(depth, faces, 600)) << face_depth;
  }
}

TEST(GetThresholdTest, EmptyPictureGivesTheFallbackAndFailsItsCheck) {
  test::LogCapture log;
  const int threshold = opengl::GetThreshold(Image(), {Face(0, 0, 1, 1, 900)}, 600);
  EXPECT_EQ(log.CountPrefix("FATAL Check failed: [!image.empty()]"), 1);
  // Nothing to balance: the search runs to the far end of the window.
  EXPECT_EQ(threshold, ReferenceThreshold(Image(), {Face(0, 0, 1, 1, 900)}, 600));
  EXPECT_GE(threshold, 1500);
  EXPECT_LE(threshold, 1501);
}

class ForegroundExtractorTest : public testing::Test {
 protected:
  std::vector<uint8_t> Extract(const Image& depth, const std::vector<FaceData>& faces,
                               const Image* depth_image, int threshold) {
    Texture projected(depth);
    extractor_.Extract(projected, trimap_, faces, depth_image, threshold);
    EXPECT_EQ(trimap_.size(), depth.size);
    return Values(trimap_);
  }
  opengl::ForegroundExtractor extractor_;
  Texture trimap_{Image::Format::kGray8};
};

TEST_F(ForegroundExtractorTest, FixedThresholdSplits999From1000WithUnknownBands) {
  const Size size{120, 40};
  // 999 left of column 60, then 1000, then 1001 from column 90; the face covers all.
  const Image depth = Depth(size, [](int x, int) {
    return uint16_t(x < 60 ? 999 : x < 90 ? 1000 : 1001);
  });
  const auto trimap = Extract(depth, {Face(0, 0, 120, 40, 990)}, nullptr, 1000);
  EXPECT_EQ(extractor_.last_threshold(), 1000);
  for (int x = 0; x < size.width; ++x) {
    const uint8_t expected = x <= 55 ? 255 : x <= 63 ? 128 : 0;
    EXPECT_EQ(trimap[20 * size.width + x], expected) << x;
  }
}

TEST_F(ForegroundExtractorTest, AutomaticThresholdSeparatesPersonFromWall) {
  const Size size{320, 240};
  const Image depth = Depth(
      size, [](int x, int y) { return uint16_t(std::abs(x - 160) < 60 && y > 40 ? 800 : 1300); });
  const auto trimap = Extract(depth, {Face(120, 50, 80, 80, 800)}, &depth, 600);
  EXPECT_GT(extractor_.last_threshold(), 800);
  EXPECT_LE(extractor_.last_threshold(), 1300);
  EXPECT_EQ(trimap[150 * size.width + 160], 255);  // person
  EXPECT_EQ(trimap[150 * size.width + 60], 0);     // wall beside
  EXPECT_EQ(trimap[150 * size.width + 100], 128);  // at the silhouette
}

TEST_F(ForegroundExtractorTest, NoDepthIsUnknownOnlyNearTheFaces) {
  const Size size{640, 480};
  const Image depth = Depth(size, [](int, int) { return uint16_t(0); });
  const Rectangle box{40, 30, 64, 64};
  const auto trimap =
      Extract(depth, {Face(box.x, box.y, box.width, box.height, 700)}, nullptr, 900);
  int unknown = 0;
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      const uint8_t value = trimap[y * size.width + x];
      ASSERT_TRUE(value == 0 || value == 128) << x << " " << y;
      unknown += value == 128;
      const bool inside =
          x >= box.x && x < box.x + box.width && y >= box.y && y < box.y + box.height;
      const int dx = std::max({box.x - x, x - (box.x + box.width - 1), 0});
      const int dy = std::max({box.y - y, y - (box.y + box.height - 1), 0});
      // The dilation reaches 17 coarse pixels of 8, give or take one coarse pixel.
      if (inside) {
        EXPECT_EQ(value, 128) << x << " " << y;
      }
      if (std::max(dx, dy) > 18 * 8) {
        EXPECT_EQ(value, 0) << x << " " << y;
      }
    }
  }
  EXPECT_GT(unknown, box.width * box.height * 4);
}

// Without depth a pixel is the person exactly when it lies in a face box, x <= px < x + w and
// y <= py < y + h. The person image before the erosion (the step "Faces") shows it pixel by pixel.
TEST(ForegroundExtractorFacesTest, PixelsWithoutDepthArePersonExactlyInsideTheFaceBox) {
  test::TemporaryFolder folder;
  setenv(opengl::StepDumper::kDirectoryVariable, folder.str().c_str(), 1);
  opengl::ForegroundExtractor extractor;
  unsetenv(opengl::StepDumper::kDirectoryVariable);
  const Size size{64, 48};
  Texture projected(Depth(size, [](int, int) { return uint16_t(0); }));
  Texture trimap(Image::Format::kGray8);
  extractor.Extract(projected, trimap, {Face(10, 7, 31, 20, 700)}, nullptr, 900);

  std::vector<unsigned char> person;
  unsigned width = 0, height = 0;
  ASSERT_EQ(lodepng::decode(person, width, height,
                            folder.str() + "/0000 ForegroundExtractor 1.Faces.png", LCT_GREY, 8),
            0u);
  ASSERT_EQ(width, unsigned(size.width));
  struct Probe {
    int x, y;
    uint8_t value;
  };
  // Each edge of the box {10, 7, 31, 20}: its last pixel inside and the next one outside.
  for (const Probe& p :
       {Probe{9, 15, 0}, Probe{10, 15, 255}, Probe{40, 15, 255}, Probe{41, 15, 0}, Probe{20, 6, 0},
        Probe{20, 7, 255}, Probe{20, 26, 255}, Probe{20, 27, 0}}) {
    EXPECT_EQ(person[p.y * size.width + p.x], p.value) << p.x << " " << p.y;
  }
}

TEST_F(ForegroundExtractorTest, SteadyStateLogsNothing) {
  const Image depth = Depth({320, 240}, [](int x, int) { return uint16_t(x < 160 ? 800 : 1300); });
  Extract(depth, {Face(100, 50, 60, 60, 800)}, &depth, 600);
  test::LogCapture log;
  Extract(depth, {Face(100, 50, 60, 60, 800), Face(10, 10, 30, 30, 900)}, &depth, 600);
  Extract(depth, {Face(100, 50, 60, 60, 800)}, nullptr, 1000);
  EXPECT_EQ(log.lines(), std::vector<std::string>());
}

TEST_F(ForegroundExtractorTest, FaceCountOutsideOneToFourFailsItsChecks) {
  const Image depth = Depth({64, 64}, [](int, int) { return uint16_t(0); });
  test::LogCapture log;
  std::vector<FaceData> five;
  for (int i = 0; i < 5; ++i) five.push_back(Face(i * 10, 0, 20, 20, 700));
  const auto trimap = Extract(depth, five, nullptr, 900);
  EXPECT_EQ(log.CountPrefix("FATAL Check failed: [face_distances.size() <= 4]"), 1);
  EXPECT_EQ(trimap[4 * 64 + 4], 128);
  Extract(depth, {}, nullptr, 900);
  EXPECT_EQ(log.CountPrefix("FATAL Check failed: [!face_distances.empty()]"), 1);
}

}  // namespace
}  // namespace vantisol
