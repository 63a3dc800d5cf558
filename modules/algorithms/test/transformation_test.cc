#include "algorithms/transformation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "gl_test.h"

namespace vantisol {
namespace {

PixelBox Box(int x0, int y0, int x1, int y1) {
  return PixelBox(Eigen::Vector2i(x0, y0), Eigen::Vector2i(x1, y1));
}

Eigen::Matrix3f Intrinsics(float fx, float fy, float cx, float cy) {
  Eigen::Matrix3f K;
  K << fx, 0, cx, 0, fy, cy, 0, 0, 1;
  return K;
}

Eigen::Vector2f Apply(const Eigen::Matrix3f& m, float x, float y) {
  const Eigen::Vector3f q = m * Eigen::Vector3f(x, y, 1);
  return {q.x() / q.z(), q.y() / q.z()};
}

float Area(const std::vector<Eigen::Vector2f>& p) {
  float twice = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    const auto& a = p[i];
    const auto& b = p[(i + 1) % p.size()];
    twice += a.x() * b.y() - b.x() * a.y();
  }
  return twice / 2;
}

const Size kPicture{640, 480};
const Eigen::Matrix3f kCentred = Intrinsics(500, 500, 320, 240);

TEST(TransformationTest, IdentityViewOfACentredCameraIsTheIdentity) {
  const Transformation t(kCentred, kPicture, kPicture, Eigen::Quaternionf::Identity(), 1.0f);
  EXPECT_TRUE(t.matrix().isApprox(Eigen::Matrix3f::Identity(), 1e-6f)) << t.matrix();
  const auto outline = t.InputOutline();
  ASSERT_EQ(outline.size(), 4u);
  const Eigen::Vector2f corners[4] = {{0, 0}, {640, 0}, {640, 480}, {0, 480}};
  for (int i = 0; i < 4; ++i) EXPECT_LT((outline[i] - corners[i]).norm(), 1e-3f) << i;

  // A box centred on the principal point needs no turn; its area alone sets the zoom.
  const Transformation whole(kCentred, kPicture, kPicture, Box(0, 0, 640, 480));
  EXPECT_LT(whole.rotation().angularDistance(Eigen::Quaternionf::Identity()), 1e-6f);
  EXPECT_NEAR(whole.scale(), 1.0f, 1e-5f);
  for (const auto& p :
       {Eigen::Vector2f(0, 0), Eigen::Vector2f(640, 480), Eigen::Vector2f(100, 400)})
    EXPECT_LT((Apply(whole.matrix(), p.x(), p.y()) - p).norm(), 1e-2f);
}

TEST(TransformationTest, BoxConstructorZoomsToTheBoxArea) {
  const Transformation quarter(kCentred, kPicture, kPicture, Box(160, 120, 480, 360));
  EXPECT_NEAR(quarter.scale(), 2.0f, 1e-5f);
  const Transformation ninth(kCentred, kPicture, kPicture,
                             Box(320 - 107, 240 - 80, 320 + 107, 240 + 80));
  EXPECT_NEAR(ninth.scale(), std::sqrt(640.0f * 480 / (214 * 160)), 1e-4f);
  // The shape does not matter, only the area: a tall box of the picture's area is not zoomed.
  const Transformation tall(kCentred, kPicture, kPicture, Box(80, -80, 560, 560));
  EXPECT_NEAR(tall.scale(), 1.0f, 1e-5f);
}

TEST(TransformationTest, OffCentreBoxIsAimedAtAndCoveredAtItsArea) {
  // Off-centre principal point and an output of another shape: the box centre must land on the
  // output centre, and the view must show about as many input pixels as the box has.
  const Eigen::Matrix3f K = Intrinsics(610, 607, 301, 255);
  const Size output{200, 300};
  const PixelBox box = Box(450, 40, 550, 160);
  const Transformation t(K, kPicture, output, box);
  const Eigen::Vector2f centre = Apply(t.matrix(), 500, 100);
  EXPECT_NEAR(centre.x(), 100, 1e-3f);
  EXPECT_NEAR(centre.y(), 150, 1e-3f);
  EXPECT_NEAR(Area(t.InputOutline()), 100 * 120, 100 * 120 * 0.02f);
  // The viewing direction is the ray of the box centre.
  const Eigen::Vector3f ray = (K.inverse() * Eigen::Vector3f(500, 100, 1)).normalized();
  EXPECT_LT(((t.rotation() * Eigen::Vector3f::UnitZ()) - ray).norm(), 1e-6f);
  // Kept rotation and scale rebuild the same matrix.
  const Transformation again(K, kPicture, output, t.rotation(), t.scale());
  EXPECT_TRUE(again.matrix() == t.matrix());
}

TEST(TransformationTest, FocalLengthsMustAgreeWithinOnePercent) {
  const std::string line =
      "FATAL Check failed: [input_K_(0, 0) >= input_K_(1, 1)*0.99 && input_K_(0, 0) <= "
      "input_K_(1, 1)*1.01] Expect focal length to be the same for x and y";
  struct Case {
    float fx;
    int lines;
  };
  for (const Case& c : {Case{500, 0}, Case{504.9f, 0}, Case{495.1f, 0}, Case{505.5f, 1},
                        Case{494.5f, 1}, Case{600, 1}}) {
    test::LogCapture log;
    Transformation t(Intrinsics(c.fx, 500, 320, 240), kPicture, kPicture,
                     Eigen::Quaternionf::Identity(), 1.0f);
    EXPECT_EQ(log.Count(line), c.lines) << c.fx;
  }
}

TEST(TransformationTest, InterpolateEndsAndMiddle) {
  const Transformation a(kCentred, kPicture, {320, 240}, Box(100, 100, 200, 220));
  const Transformation b(kCentred, kPicture, {320, 240}, Box(400, 200, 540, 380));
  ASSERT_GT(a.rotation().angularDistance(b.rotation()), 0.2f);
  test::LogCapture log;
  EXPECT_TRUE(utils::Interpolate(a, b, 0).matrix().isApprox(a.matrix(), 1e-6f));
  EXPECT_TRUE(utils::Interpolate(a, b, 1).matrix().isApprox(b.matrix(), 1e-6f));
  const Transformation mid = utils::Interpolate(a, b, 0.5f);
  const Eigen::Vector3f z = Eigen::Vector3f::UnitZ();
  const float total = std::acos((a.rotation() * z).dot(b.rotation() * z));
  EXPECT_NEAR(std::acos((a.rotation() * z).dot(mid.rotation() * z)), total / 2, 1e-4f);
  EXPECT_NEAR(mid.scale(), (a.scale() + b.scale()) / 2, 1e-6f);
  // Equal ends stay bit for bit: a view held still must not creep.
  for (float t : {0.0615f, 0.3f, 0.77f}) {
    EXPECT_TRUE(utils::Interpolate(a, a, t).matrix() == a.matrix()) << t;
  }
  EXPECT_TRUE(log.lines().empty());
}

TEST(TransformationTest, InterpolateReportsViewsOfDifferentCameras) {
  const Transformation a(kCentred, kPicture, {320, 240}, Box(100, 100, 200, 220));
  const Transformation other_output(kCentred, kPicture, {300, 240}, Box(100, 100, 200, 220));
  const Transformation other_input(kCentred, {600, 480}, {320, 240}, Box(100, 100, 200, 220));
  const Transformation other_k(Intrinsics(520, 520, 320, 240), kPicture, {320, 240},
                               Box(100, 100, 200, 220));
  test::LogCapture log;
  utils::Interpolate(a, other_output, 0.5f);
  utils::Interpolate(a, other_input, 0.5f);
  utils::Interpolate(a, other_k, 0.5f);
  EXPECT_EQ(log.Count("FATAL Check failed: [current_transform.output_resolution() == "
                      "new_transform.output_resolution()] "),
            1);
  EXPECT_EQ(log.Count("FATAL Check failed: [current_transform.input_resolution() == "
                      "new_transform.input_resolution()] "),
            1);
  EXPECT_EQ(log.Count("FATAL Check failed: "
                      "[current_transform.input_K().isApprox(new_transform.input_K())] "),
            1);
  EXPECT_EQ(log.lines().size(), 3u);
}

// A box with an odd width and height is aimed at its centre halved down to whole pixels.
TEST(TransformationTest, OddBoxIsAimedAtItsWholePixelCentre) {
  const Eigen::Matrix3f K = Intrinsics(610, 607, 301, 255);
  const Transformation t(K, kPicture, Size{200, 300}, Box(451, 41, 550, 160));
  const Eigen::Vector3f ray = (K.inverse() * Eigen::Vector3f(500, 100, 1)).normalized();
  EXPECT_LT(((t.rotation() * Eigen::Vector3f::UnitZ()) - ray).norm(), 1e-6f);
}

}  // namespace
}  // namespace vantisol
