// The tonal stretch: levels found with the 1/255 tails ignored, mapping toward the targets at
// 5 levels per second, never past them and never inverted.
#include "imgproc_opencv/color_corrector_software.h"

#include <gtest/gtest.h>

#include <map>

#include "test_support.h"

namespace vantisol {
namespace {

constexpr int64_t kSecond = 1000000000;

// A grey picture of the given size with `fill` everywhere but the listed pixel counts per level.
cv::Mat Levels(int width, int height, int fill, const std::map<int, int>& counts) {
  cv::Mat picture(height, width, CV_8UC1, cv::Scalar(fill));
  int index = 0;
  for (const auto& [level, count] : counts) {
    for (int k = 0; k < count; ++k, ++index)
      picture.at<uint8_t>(index / width, index % width) = level;
  }
  return picture;
}

// A 100 × 100 face whose tails leave the dark level at `low` and the bright level at `high`
// (threshold 10000 / 255 = 39 pixels).
cv::Mat Face(int low, int high) {
  return Levels(100, 100, (low + high) / 2, {{low, 50}, {high, 50}});
}

const std::vector<Rectangle> kWhole = {{0, 0, 100, 100}};

struct Mapping {
  float scale = 0, offset = 0;
  float operator()(float level) const { return level * scale + offset; }
};

Mapping Correct(ColorCorrectorSoftware& corrector, const cv::Mat& picture,
                const std::vector<Rectangle>& faces, int64_t time,
                const cv::Mat& mask = cv::Mat()) {
  Mapping m;
  EXPECT_TRUE(corrector.GetScaleOffset(picture, mask, faces, time, &m.scale, &m.offset, -1, -1));
  return m;
}

TEST(ColorCorrectorSoftware, FirstFaceMapsItsLevelsStraightOntoTheTargets) {
  ColorCorrectorSoftware corrector(20, 180, false);
  const Mapping m = Correct(corrector, Face(40, 200), kWhole, 5 * kSecond);
  EXPECT_FLOAT_EQ(m.scale, 1);
  EXPECT_FLOAT_EQ(m.offset, -20);
  // A frame 0.1 s later with the same face is already on target (within 1): unchanged.
  const Mapping later = Correct(corrector, Face(40, 200), kWhole, 5 * kSecond + kSecond / 10);
  EXPECT_FLOAT_EQ(later.scale, 1);
  EXPECT_FLOAT_EQ(later.offset, -20);
}

TEST(ColorCorrectorSoftware, TailsOfFewerThanNOver255PixelsAreIgnored) {
  // 39 pixels (10000 / 255) are enough to define a level, 38 are not.
  for (int tail : {38, 39}) {
    SCOPED_TRACE(tail);
    ColorCorrectorSoftware corrector(20, 180, false);
    const cv::Mat picture = Levels(100, 100, 120, {{5, tail}, {40, 50}, {200, 50}, {250, tail}});
    const Mapping m = Correct(corrector, picture, kWhole, 0);
    const float low = tail == 39 ? 5 : 40, high = tail == 39 ? 250 : 200;
    EXPECT_NEAR(m(low), 20, 1e-3);
    EXPECT_NEAR(m(high), 180, 1e-3);
  }
}

TEST(ColorCorrectorSoftware, ASmallCropTakesItsDarkestAndBrightestPixel) {
  // 10 × 10: threshold 1, so single pixels count.
  ColorCorrectorSoftware corrector(20, 180, false);
  const cv::Mat picture = Levels(10, 10, 100, {{30, 1}, {170, 1}});
  const Mapping m = Correct(corrector, picture, {{0, 0, 10, 10}}, 0);
  EXPECT_NEAR(m(30), 20, 1e-3);
  EXPECT_NEAR(m(170), 180, 1e-3);
}

TEST(ColorCorrectorSoftware, LevelsMoveAtFiveLevelsPerSecondAndNeverPastTheTarget) {
  ColorCorrectorSoftware corrector(20, 180, false);
  Correct(corrector, Face(40, 200), kWhole, 0);  // mapping: v - 20
  // The face darkens: its dark level 30 now maps to 10, its bright level 150 to 130.
  Mapping m = Correct(corrector, Face(30, 150), kWhole, kSecond / 2);
  EXPECT_NEAR(m(30), 12.5, 1e-3);
  EXPECT_NEAR(m(150), 132.5, 1e-3);
  m = Correct(corrector, Face(30, 150), kWhole, kSecond);
  EXPECT_NEAR(m(30), 15, 1e-3);
  EXPECT_NEAR(m(150), 135, 1e-3);
  // 2.5 levels short of 20 with a whole second's step of 5: lands on 20, not at 22.5.
  m = Correct(corrector, Face(30, 150), kWhole, kSecond + kSecond / 2);
  EXPECT_NEAR(m(30), 17.5, 1e-3);
  m = Correct(corrector, Face(30, 150), kWhole, 2 * kSecond + kSecond / 2);
  EXPECT_NEAR(m(30), 20, 1e-3);
  EXPECT_NEAR(m(150), 142.5, 1e-3);
}

TEST(ColorCorrectorSoftware, ALongGapWithoutFacesNeitherJumpsNorInverts) {
  ColorCorrectorSoftware corrector(20, 180, false);
  Correct(corrector, Face(40, 200), kWhole, 0);  // mapping: v - 20
  // A minute without faces changes nothing.
  const cv::Mat nothing(100, 100, CV_8UC1, cv::Scalar(0));
  Mapping m = Correct(corrector, nothing, {}, 30 * kSecond);
  EXPECT_FLOAT_EQ(m.scale, 1);
  EXPECT_FLOAT_EQ(m.offset, -20);
  // The face returns with its levels 10 outside both targets (mapped 10 and 190). An uncapped
  // step of 300 levels would carry the dark level past the bright one.
  m = Correct(corrector, Face(30, 210), kWhole, 60 * kSecond);
  EXPECT_GT(m.scale, 0);
  EXPECT_NEAR(m(30), 15, 1e-3);  // one capped second: 5 levels
  EXPECT_NEAR(m(210), 185, 1e-3);
}

TEST(ColorCorrectorSoftware, FramesWithoutFacesKeepTheClock) {
  ColorCorrectorSoftware corrector(20, 180, false);
  Correct(corrector, Face(40, 200), kWhole, 0);
  Correct(corrector, Face(40, 200), {}, kSecond / 2);
  // The step covers the whole 0.8 s since the last face: 4 levels.
  const Mapping m = Correct(corrector, Face(30, 150), kWhole, kSecond * 8 / 10);
  EXPECT_NEAR(m(30), 14, 1e-3);
}

TEST(ColorCorrectorSoftware, AOneLevelFaceKeepsTheLastMapping) {
  ColorCorrectorSoftware corrector(20, 180, false);
  const cv::Mat flat(100, 100, CV_8UC1, cv::Scalar(77));
  Mapping m = Correct(corrector, flat, kWhole, 0);
  EXPECT_FLOAT_EQ(m.scale, 1);
  EXPECT_FLOAT_EQ(m.offset, 0);
  // Still the first real update: straight to the targets.
  m = Correct(corrector, Face(40, 200), kWhole, kSecond);
  EXPECT_FLOAT_EQ(m.scale, 1);
  EXPECT_FLOAT_EQ(m.offset, -20);
  m = Correct(corrector, flat, kWhole, 2 * kSecond);
  EXPECT_FLOAT_EQ(m.scale, 1);
  EXPECT_FLOAT_EQ(m.offset, -20);
}

TEST(ColorCorrectorSoftware, SeveralFacesAverageTheirLevels) {
  // Face A at the left (levels 40 and 200), face B at the right (20 and 160), both 100 × 100.
  cv::Mat picture(100, 200, CV_8UC1);
  Face(40, 200).copyTo(picture(cv::Rect(0, 0, 100, 100)));
  Face(20, 160).copyTo(picture(cv::Rect(100, 0, 100, 100)));
  ColorCorrectorSoftware corrector(20, 180, false);
  const Mapping m = Correct(corrector, picture, {{0, 0, 100, 100}, {100, 0, 100, 100}}, 0);
  EXPECT_NEAR(m(30), 20, 1e-3);
  EXPECT_NEAR(m(180), 180, 1e-3);
}

TEST(ColorCorrectorSoftware, FacesOutsideThePictureAreSkipped) {
  cv::Mat picture(100, 200, CV_8UC1, cv::Scalar(0));
  Face(40, 200).copyTo(picture(cv::Rect(0, 0, 100, 100)));
  ColorCorrectorSoftware corrector(20, 180, false);
  test::LogCapture log;
  Mapping m = Correct(corrector, picture, {{300, 0, 50, 50}}, 0);
  EXPECT_FLOAT_EQ(m.scale, 1);
  EXPECT_FLOAT_EQ(m.offset, 0);
  m = Correct(corrector, picture, {{300, 0, 50, 50}, {0, 0, 100, 100}, {-80, 120, 40, 40}}, 0);
  EXPECT_FLOAT_EQ(m.scale, 1);
  EXPECT_FLOAT_EQ(m.offset, -20);
  EXPECT_EQ(
      log.Count("Check failed: [face_cv != cv::Rect()] No intersection of face with image...?"), 3);
}

TEST(ColorCorrectorSoftware, MeasuresOnlyTheFirstChannelAndTheMaskedPixels) {
  // Two channels as in a YUY2 picture: the chroma channel holds extremes that must not count.
  cv::Mat luma = Face(40, 200);
  cv::Mat chroma(100, 100, CV_8UC1, cv::Scalar(255));
  chroma(cv::Rect(0, 0, 10, 10)).setTo(0);
  cv::Mat picture;
  cv::merge(std::vector<cv::Mat>{luma, chroma}, picture);
  {
    ColorCorrectorSoftware corrector(20, 180, false);
    const Mapping m = Correct(corrector, picture, kWhole, 0);
    EXPECT_NEAR(m(40), 20, 1e-3);
    EXPECT_NEAR(m(200), 180, 1e-3);
  }
  {
    // Only the bottom half counts (rows 50..99: level 100 with 30 pixels at 70 and 30 at 150;
    // 5000 masked pixels give a threshold of 19). The top half keeps its 40s and 200s.
    luma(cv::Rect(0, 50, 100, 50)).setTo(100);
    luma(cv::Rect(0, 60, 30, 1)).setTo(70);
    luma(cv::Rect(0, 99, 30, 1)).setTo(150);
    cv::merge(std::vector<cv::Mat>{luma, chroma}, picture);
    cv::Mat mask(100, 100, CV_8UC1, cv::Scalar(0));
    mask(cv::Rect(0, 50, 100, 50)).setTo(255);
    ColorCorrectorSoftware corrector(20, 180, false);
    const Mapping m = Correct(corrector, picture, kWhole, 0, mask);
    EXPECT_NEAR(m(70), 20, 1e-3);
    EXPECT_NEAR(m(150), 180, 1e-3);
  }
}

TEST(ColorCorrectorSoftware, TargetsOtherThanMinusOneReplaceTheStoredOnes) {
  ColorCorrectorSoftware corrector(20, 180, false);
  Mapping m;
  ASSERT_TRUE(
      corrector.GetScaleOffset(Face(40, 200), cv::Mat(), kWhole, 0, &m.scale, &m.offset, 0, 255));
  EXPECT_NEAR(m(40), 0, 1e-3);
  EXPECT_NEAR(m(200), 255, 1e-3);
  // The replaced targets stay for later calls with -1.
  ColorCorrectorSoftware fresh(20, 180, false);
  fresh.GetScaleOffset(Face(40, 200), cv::Mat(), {}, 0, &m.scale, &m.offset, 10, -1);
  m = Correct(fresh, Face(40, 200), kWhole, 0);
  EXPECT_NEAR(m(40), 10, 1e-3);
  EXPECT_NEAR(m(200), 180, 1e-3);
}

TEST(ColorCorrectorSoftwareCrop, ClipsToThePictureAndViewsIt) {
  cv::Mat picture(40, 60, CV_8UC1, cv::Scalar(0));
  cv::Mat crop, crop_mask;
  int count = -1;
  ColorCorrectorSoftware::GetCroppedImages({-10, 30, 30, 30}, picture, cv::Mat(), &crop, &crop_mask,
                                           &count);
  ASSERT_EQ(crop.size(), cv::Size(20, 10));
  EXPECT_EQ(crop.data, picture.ptr<uint8_t>(30));
  EXPECT_TRUE(crop_mask.empty());
  EXPECT_EQ(count, 200);

  // A mask region with set pixels: it is the mask's view and the count is its set pixels.
  cv::Mat mask(40, 60, CV_8UC1, cv::Scalar(0));
  mask(cv::Rect(50, 0, 5, 3)).setTo(1);
  ColorCorrectorSoftware::GetCroppedImages({45, -5, 100, 10}, picture, mask, &crop, &crop_mask,
                                           &count);
  EXPECT_EQ(crop.size(), cv::Size(15, 5));
  EXPECT_EQ(crop_mask.size(), cv::Size(15, 5));
  EXPECT_EQ(count, 15);
  // A mask region without set pixels counts as no mask.
  ColorCorrectorSoftware::GetCroppedImages({0, 10, 10, 10}, picture, mask, &crop, &crop_mask,
                                           &count);
  EXPECT_TRUE(crop_mask.empty());
  EXPECT_EQ(count, 100);
}

TEST(ColorCorrectorSoftwareCrop, ABoxTouchingThePictureOnlyAtItsEdgeIsOutside) {
  const cv::Mat picture(40, 60, CV_8UC1, cv::Scalar(0));
  struct Case {
    Rectangle box;
    cv::Size inside;
  };
  // At each edge of the 60 x 40 picture: a box that ends (or starts) exactly on it has nothing
  // inside and fails the check; one pixel further, one column or row is inside.
  for (const Case& c : {Case{{-10, 0, 10, 10}, {0, 0}}, Case{{-10, 0, 11, 10}, {1, 10}},
                        Case{{0, -10, 10, 10}, {0, 0}}, Case{{0, -10, 10, 11}, {10, 1}},
                        Case{{60, 5, 10, 10}, {0, 0}}, Case{{59, 5, 10, 10}, {1, 10}},
                        Case{{5, 40, 10, 10}, {0, 0}}, Case{{5, 39, 10, 10}, {10, 1}}}) {
    SCOPED_TRACE(testing::Message()
                 << c.box.x << " " << c.box.y << " " << c.box.width << " " << c.box.height);
    test::LogCapture log;
    cv::Mat crop, crop_mask;
    int count = -1;
    ColorCorrectorSoftware::GetCroppedImages(c.box, picture, cv::Mat(), &crop, &crop_mask, &count);
    EXPECT_EQ(crop.size(), c.inside);
    EXPECT_EQ(count, c.inside.area());
    EXPECT_EQ(log.lines().size(), c.inside.area() == 0 ? 1u : 0u);
  }
}

// A level that maps within 1 of its target stays where it maps; 1.6 off, it takes a step (0.5 in
// 0.1 s). The first face, 30 to 230, sets the mapping 0.8 v - 4.
TEST(ColorCorrectorSoftware, LevelsWithinOneOfTheTargetStayOnBothEnds) {
  struct Case {
    int low, high;
    float mapped_low, mapped_high;
  };
  for (const Case& c : {Case{31, 230, 20.8f, 180}, Case{32, 230, 21.1f, 180},
                        Case{30, 229, 20, 179.2f}, Case{30, 228, 20, 178.9f}}) {
    ColorCorrectorSoftware corrector(20, 180, false);
    Correct(corrector, Face(30, 230), kWhole, 0);
    const Mapping m = Correct(corrector, Face(c.low, c.high), kWhole, kSecond / 10);
    EXPECT_NEAR(m(c.low), c.mapped_low, 1e-3) << c.low << " " << c.high;
    EXPECT_NEAR(m(c.high), c.mapped_high, 1e-3) << c.low << " " << c.high;
  }
}

}  // namespace
}  // namespace vantisol
