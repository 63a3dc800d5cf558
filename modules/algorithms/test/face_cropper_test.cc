#include "algorithms/face_cropper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "../src/face_cropper_internal.h"
#include "gl_test.h"

namespace vantisol {
namespace {

PixelBox Box(int x0, int y0, int x1, int y1) {
  return PixelBox(Eigen::Vector2i(x0, y0), Eigen::Vector2i(x1, y1));
}

using algorithms::FitInside;
using algorithms::GetStuckMapping;
using algorithms::RotationBetween;
using algorithms::ZoomInside;

constexpr float kF = 948.5f;  // the simulated colour camera at 1280 x 720
const Size kInput{1280, 720};
const Eigen::Vector3f kZ = Eigen::Vector3f::UnitZ();

Eigen::Matrix3f Intrinsics() {
  Eigen::Matrix3f K;
  K << kF, 0, 639.5f, 0, kF, 359.5f, 0, 0, 1;
  return K;
}

CameraImage Colour(int64_t time_ns, Size size = kInput) {
  Calibration calibration;
  const float fx = kF * size.width / 1280.0f;
  calibration.K = {fx, 0, (size.width - 1) * 0.5f, 0, fx, (size.height - 1) * 0.5f, 0, 0, 1};
  Image image;
  image.size = size;
  image.format = Image::Format::kRGB;
  return CameraImage(image, calibration, time_ns);
}

FaceData Face(int x, int y, int w, int h) {
  FaceData face;
  face.rect = Rectangle{x, y, w, h};
  return face;
}

Eigen::Vector2d Apply(const Eigen::Matrix3f& m, double x, double y) {
  const Eigen::Vector3d q = m.cast<double>() * Eigen::Vector3d(x, y, 1);
  return {q.x() / q.z(), q.y() / q.z()};
}

// Where the tile looks, from its matrix alone: the ray of the input point shown at its centre.
Eigen::Vector3d ViewDirection(const CropTile& tile, const Eigen::Matrix3f& K) {
  const Eigen::Vector2d p =
      Apply(tile.matrix.inverse(), tile.rectangle.width / 2.0, tile.rectangle.height / 2.0);
  return (K.cast<double>().inverse() * Eigen::Vector3d(p.x(), p.y(), 1)).normalized();
}

double Angle(const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  return std::acos(std::clamp(a.dot(b), -1.0, 1.0));
}

// The tile's corners seen in the input lie inside the picture (to a rounding margin).
void ExpectOutlineInside(const CropTile& tile, Size input, const std::string& where) {
  const Eigen::Matrix3f inverse = tile.matrix.inverse();
  const double w = tile.rectangle.width, h = tile.rectangle.height, eps = 1e-2;
  for (const auto& corner : {Eigen::Vector2d(0, 0), Eigen::Vector2d(w, 0), Eigen::Vector2d(w, h),
                             Eigen::Vector2d(0, h)}) {
    const Eigen::Vector2d p = Apply(inverse, corner.x(), corner.y());
    EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y())) << where;
    EXPECT_GE(p.x(), -eps) << where;
    EXPECT_LE(p.x(), input.width + eps) << where;
    EXPECT_GE(p.y(), -eps) << where;
    EXPECT_LE(p.y(), input.height + eps) << where;
  }
}

constexpr int64_t kFrame = 35'000'000;  // 15 frames make one time constant

TEST(FaceCropperGeometryTest, RotationBetweenHasNoRollAndParallelIsIdentity) {
  EXPECT_TRUE(RotationBetween(kZ.cast<float>(), kZ.cast<float>())
                  .coeffs()
                  .isApprox(Eigen::Quaternionf::Identity().coeffs()));
  const Eigen::Vector3f u = Eigen::Vector3f(0.3f, -0.2f, 1).normalized();
  EXPECT_TRUE(RotationBetween(u, u).coeffs() == Eigen::Quaternionf::Identity().coeffs());
  std::mt19937 random(7);
  std::uniform_real_distribution<float> slope(-0.6f, 0.6f);
  for (int i = 0; i < 50; ++i) {
    const Eigen::Vector3f a = Eigen::Vector3f(slope(random), slope(random), 1).normalized();
    const Eigen::Vector3f b = Eigen::Vector3f(slope(random), slope(random), 1).normalized();
    const Eigen::Quaternionf q = RotationBetween(a, b);
    EXPECT_LT((q * a - b).norm(), 1e-5f) << i;
    EXPECT_NEAR(q.z(), 0.0f, 1e-6f) << i;  // the axis lies in the image plane
  }
}

TEST(FaceCropperGeometryTest, DeadZoneHoldsInsideAndTrailsOutside) {
  const Eigen::Matrix3f K = Intrinsics();
  const Size tile{640, 720};
  const Transformation current(K, kInput, tile, Box(500, 200, 700, 450));
  auto turned = [&](float angle, float scale) {
    const Eigen::Quaternionf r =
        Eigen::Quaternionf(Eigen::AngleAxisf(angle, Eigen::Vector3f(0.6f, 0.8f, 0))) *
        current.rotation();
    return Transformation(K, kInput, tile, r, scale);
  };
  const float s = current.scale();
  // Inside: the current view comes back exactly.
  for (const auto& inside : {turned(0.04f, s), turned(0.0f, s * 1.07f), turned(0.03f, s / 1.07f)}) {
    const Transformation stuck = GetStuckMapping(current, inside, 0.043f, 0.08f);
    EXPECT_TRUE(stuck.matrix() == current.matrix());
  }
  // Outside: the view trails the target by exactly the dead zone.
  auto angle_between = [](const Transformation& a, const Transformation& b) {
    return std::acos(std::min(1.0f, (a.rotation() * kZ).dot(b.rotation() * kZ)));
  };
  for (float angle : {0.05f, 0.2f}) {
    const Transformation target = turned(angle, s);
    const Transformation stuck = GetStuckMapping(current, target, 0.043f, 0.08f);
    EXPECT_NEAR(angle_between(stuck, target), 0.043f, 2e-4f) << angle;
    EXPECT_NEAR(angle_between(stuck, current), angle_between(current, target) - 0.043f, 2e-4f)
        << angle;
    EXPECT_NEAR(stuck.rotation().z(), 0.0f, 1e-6f);
  }
  EXPECT_FLOAT_EQ(GetStuckMapping(current, turned(0, s * 1.25f), 0.043f, 0.08f).scale(),
                  0.92f * s * 1.25f);
  EXPECT_FLOAT_EQ(GetStuckMapping(current, turned(0, s / 1.25f), 0.043f, 0.08f).scale(),
                  1.08f * s / 1.25f);
}

TEST(FaceCropperGeometryTest, TargetBoxFollowsThePaddingRules) {
  const Eigen::Matrix3f K = Intrinsics();
  const PixelBox face = Box(600, 300, 700, 420);  // 100 x 120
  // Padding 23, 90 and 84 px give (577, 210)-(723, 504), 294 high. A wide tile keeps that height
  // and widens to 294 * (1280 / 720) / (100 / 120) = 627: (337, 210)-(964, 504).
  const Transformation wide =
      algorithms::ComputeTarget(face, {1280, 720}, kInput, K, 0.75f, 0.23f, 0.7f);
  const Transformation wide_box(K, kInput, {1280, 720}, Box(337, 210, 964, 504));
  EXPECT_TRUE(wide.matrix() == wide_box.matrix());
  // A narrow tile (426 / 720 < 100 / 120) heightens instead: 294 * 0.8333 / 0.5917 = 414,
  // (577, 150)-(723, 564).
  const Transformation narrow =
      algorithms::ComputeTarget(face, {426, 720}, kInput, K, 0.75f, 0.23f, 0.7f);
  const Transformation narrow_box(K, kInput, {426, 720}, Box(577, 150, 723, 564));
  EXPECT_TRUE(narrow.matrix() == narrow_box.matrix());
  // Both aim at the adjusted box's centre, (650, 357).
  for (const Transformation* t : {&wide, &narrow}) {
    const Eigen::Vector2d c = Apply(t->matrix(), 650, 357);
    EXPECT_NEAR(c.x(), t->output_resolution().width / 2.0, 1e-2);
    EXPECT_NEAR(c.y(), t->output_resolution().height / 2.0, 1e-2);
  }
}

TEST(FaceCropperGeometryTest, FitInsideTurnsCheapestAndZoomInsideZoomsJustEnough) {
  const Eigen::Matrix3f K = Intrinsics();
  const Size tile{640, 720};
  // Inside already: unchanged.
  Transformation inside(K, kInput, tile, Box(500, 200, 700, 450));
  const Eigen::Matrix3f before = inside.matrix();
  EXPECT_TRUE(FitInside(inside));
  EXPECT_TRUE(inside.matrix() == before);

  // Aimed too far left: turned right until the left edge touches the border, no further.
  Transformation left(K, kInput, tile, Box(0, 250, 200, 450));
  ASSERT_FALSE(algorithms::OutlineInside(left));
  EXPECT_TRUE(FitInside(left));
  EXPECT_TRUE(algorithms::OutlineInside(left));
  float min_x = 1e9f;
  for (const auto& p : left.InputOutline()) min_x = std::min(min_x, p.x());
  // Turned only as far as needed: the outline touches the left border.
  EXPECT_GE(min_x, 0.0f);
  EXPECT_LT(min_x, 2.0f);

  // Wider than the picture: no turn helps, so FitInside fails and the view is left alone...
  Transformation wide(K, kInput, {1280, 720}, Eigen::Quaternionf::Identity(), 0.8f);
  const Eigen::Matrix3f wide_before = wide.matrix();
  EXPECT_FALSE(FitInside(wide));
  EXPECT_TRUE(wide.matrix() == wide_before);
  // ...and ZoomInside zooms in to the threshold: a little less zoom no longer fits.
  const Transformation zoomed = ZoomInside(wide, 20);
  EXPECT_TRUE(algorithms::OutlineInside(zoomed));
  EXPECT_GT(zoomed.scale(), 1.0f);
  EXPECT_LT(zoomed.scale(), 1.01f);
  Transformation less = zoomed;
  less.set_scale(zoomed.scale() * 0.995f);
  less.UpdateMatrix();
  EXPECT_FALSE(FitInside(less));

  // A view aimed far outside the picture ends, finite.
  const Transformation away(
      K, kInput, tile, Eigen::Quaternionf(Eigen::AngleAxisf(1.4f, Eigen::Vector3f::UnitY())), 1.0f);
  const Transformation result = ZoomInside(away, 20);
  EXPECT_TRUE(result.matrix().allFinite());
}

class FaceCropperTest : public testing::Test {
 protected:
  std::vector<CropTile> Run(const std::map<int, FaceData>& faces, Size output = {1280, 720},
                            Size input = kInput) {
    auto tiles = cropper_.Update(Colour(time_, input), faces, output);
    time_ += kFrame;
    return tiles;
  }

  FaceCropper cropper_;
  int64_t time_ = 1'000'000'000;
};

TEST_F(FaceCropperTest, OneFaceIsFramedAsThePaddingRulesSay) {
  const int x = 630, y = 240, w = 140, h = 180;
  const auto tiles = Run({{3, Face(x, y, w, h)}});
  ASSERT_EQ(tiles.size(), 1u);
  EXPECT_EQ(tiles[0].rectangle.x, 0);
  EXPECT_EQ(tiles[0].rectangle.y, 0);
  EXPECT_EQ(tiles[0].rectangle.width, 1280);
  EXPECT_EQ(tiles[0].rectangle.height, 720);
  // The padded box is 2.45 h high and centred 0.025 h above the face centre; a wide tile keeps
  // that height and widens it by a_t / a_f; the view shows that area at the tile's aspect.
  const double aspect_tile = 1280.0 / 720, aspect_face = double(w) / h;
  const double padded_h = 2.45 * h, area = padded_h * padded_h * aspect_tile / aspect_face;
  const double view_h = std::sqrt(area / aspect_tile);
  const double zoom = 720 / view_h;
  const Eigen::Vector2d top = Apply(tiles[0].matrix, x + w / 2.0, y);
  const Eigen::Vector2d bottom = Apply(tiles[0].matrix, x + w / 2.0, y + h);
  const double centre_y = 360 + 0.025 * h * zoom;
  EXPECT_NEAR(top.x(), 640, 0.01 * 1280);
  EXPECT_NEAR(bottom.x(), 640, 0.01 * 1280);
  EXPECT_NEAR(top.y(), centre_y - h * zoom / 2, 0.01 * 720);
  EXPECT_NEAR(bottom.y(), centre_y + h * zoom / 2, 0.01 * 720);
}

TEST_F(FaceCropperTest, StillHeadWithBoxNoiseGivesAConstantMatrix) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> noise(-2, 2);
  std::vector<CropTile> first;
  for (int i = 0; i < 120; ++i) {
    const auto tiles = Run({{1, Face(300 + noise(random), 250 + noise(random), 150 + noise(random),
                                     190 + noise(random))},
                            {2, Face(850 + noise(random), 200 + noise(random), 130 + noise(random),
                                     170 + noise(random))}});
    ASSERT_EQ(tiles.size(), 2u);
    if (i == 0) first = tiles;
    for (int k = 0; k < 2; ++k) ASSERT_TRUE(tiles[k].matrix == first[k].matrix) << i << " " << k;
  }
  // A move beyond the dead zone (80 px at f = 948 is 0.084 rad) does change the view.
  const auto moved = Run({{1, Face(380, 250, 150, 190)}, {2, Face(850, 200, 130, 170)}});
  EXPECT_FALSE(moved[0].matrix == first[0].matrix);
  EXPECT_TRUE(moved[1].matrix == first[1].matrix);
}

// The zoom of a tile, from its matrix alone: M K = K2 R^-1, so (M K)(M K)^T = K2 K2^T, whose
// top-left entry less the square of its top-right one (both over the bottom-right) is (zoom f)^2.
double Zoom(const CropTile& tile, const Eigen::Matrix3f& K) {
  const Eigen::Matrix3d A = tile.matrix.cast<double>() * K.cast<double>();
  const Eigen::Matrix3d S = A * A.transpose() / (A.row(2).squaredNorm());
  return std::sqrt(S(0, 0) - S(0, 2) * S(0, 2)) / K(0, 0);
}

// Direction and zoom are smoothed alike whichever way they go: a head that moves sideways or
// changes size by more than the dead zone is followed exponentially, 1 - 1/e of the way to the
// dead zone's edge after one time constant, and settles at that edge; what stays within its dead
// zone does not move at all.
TEST_F(FaceCropperTest, StepResponseReaches63PercentAfterOneTimeConstant) {
  struct Step {
    const char* name;
    FaceData from, to;
    std::string moves;  // the measure that must leave its dead zone
  };
  // Views that stay clear of the picture's borders on the way, which would turn them inward.
  const FaceData left = Face(400, 250, 140, 180), right = Face(700, 250, 140, 180);
  const FaceData small_right = Face(730, 260, 100, 130), small_left = Face(430, 260, 100, 130);
  const FaceData near = Face(570, 240, 140, 180), far = Face(595, 272, 90, 116);
  const Eigen::Matrix3f K = Intrinsics();
  for (const Step& step :
       {Step{"right", left, right, "direction"}, Step{"left", small_right, small_left, "direction"},
        Step{"zoom in", near, far, "zoom"}, Step{"zoom out", far, near, "zoom"}}) {
    SCOPED_TRACE(step.name);
    FaceCropper cropper;
    int64_t time = 0;
    auto run = [&](const FaceData& face) {
      const auto tiles = cropper.Update(Colour(time += kFrame), {{1, face}}, {1280, 720});
      return tiles.at(0);
    };
    for (int i = 0; i < 10; ++i) run(step.from);
    const CropTile start = run(step.from);
    // The target after the step, from a fresh cropper (which takes it at once).
    FaceCropper fresh;
    const CropTile target = fresh.Update(Colour(0), {{1, step.to}}, {1280, 720}).at(0);
    std::vector<double> turned, zoomed;  // after 1, 2, ... frames
    for (int i = 0; i < 200; ++i) {
      const CropTile tile = run(step.to);
      turned.push_back(Angle(ViewDirection(start, K), ViewDirection(tile, K)));
      zoomed.push_back(Zoom(tile, K) - Zoom(start, K));
    }
    // How far each measure has to go (signed), and how much of that is dead zone: 0.043 rad of
    // direction, 8 % of the target's zoom.
    const struct {
      const char* what;
      double step, dead_zone;
      std::vector<double> travelled;
    } measures[] = {
        {"direction", Angle(ViewDirection(start, K), ViewDirection(target, K)), 0.043, turned},
        {"zoom", Zoom(target, K) - Zoom(start, K), 0.08 * Zoom(target, K), zoomed}};
    for (const auto& m : measures) {
      SCOPED_TRACE(m.what);
      if (m.what == step.moves) {
        ASSERT_GT(std::abs(m.step), 2 * m.dead_zone);
      }
      if (std::abs(m.step) < m.dead_zone) {
        EXPECT_LT(std::abs(m.travelled.back()), 1e-4);
        continue;
      }
      // 15 frames of 35 ms are one time constant.
      const double reach = m.step - std::copysign(m.dead_zone, m.step);
      EXPECT_NEAR(m.travelled[14] / reach, 1 - std::exp(-1.0), 0.01);
      EXPECT_NEAR(m.travelled[6] / reach, 1 - std::exp(-7.0 / 15), 0.01);
      EXPECT_NEAR(m.travelled[29] / reach, 1 - std::exp(-2.0), 0.01);
      EXPECT_NEAR(m.travelled.back() / reach, 1, 0.01);
    }
  }
}

TEST_F(FaceCropperTest, TilesGoLeftToRightAsThePeopleStand) {
  auto at = [](const CropTile& t, double x, double y) { return Apply(t.matrix, x, y); };
  // Id 1 stands right, id 2 left.
  auto tiles = Run({{1, Face(830, 240, 140, 180)}, {2, Face(230, 260, 140, 180)}});
  ASSERT_EQ(tiles.size(), 2u);
  EXPECT_EQ(tiles[0].rectangle.x, 0);
  EXPECT_EQ(tiles[1].rectangle.x, 640);
  EXPECT_EQ(tiles[0].rectangle.width, 640);
  EXPECT_EQ(tiles[1].rectangle.width, 640);
  EXPECT_NEAR(at(tiles[0], 300, 350).x(), 320, 0.02 * 640);
  EXPECT_NEAR(at(tiles[1], 900, 330).x(), 320, 0.02 * 640);
  // They swap places: the tiles swap with them at once, and each view glides to its person.
  const std::map<int, FaceData> crossed{{1, Face(200, 240, 140, 180)},
                                        {2, Face(860, 260, 140, 180)}};
  tiles = Run(crossed);
  EXPECT_NEAR(at(tiles[0], 900, 330).x(), 320, 0.1 * 640);  // id 1's view, still where it was
  EXPECT_NEAR(at(tiles[1], 300, 350).x(), 320, 0.1 * 640);
  // Settled, each face is within the dead zone (0.043 rad, about 60 tile pixels here) of centre.
  for (int i = 0; i < 100; ++i) tiles = Run(crossed);
  EXPECT_NEAR(at(tiles[0], 270, 330).x(), 320, 0.15 * 640);
  EXPECT_NEAR(at(tiles[1], 930, 350).x(), 320, 0.15 * 640);
}

TEST_F(FaceCropperTest, EqualCentresAreOrderedById) {
  // One above the other: the smaller id takes the left tile, whichever of them is on top.
  for (bool swapped : {false, true}) {
    const int y4 = swapped ? 400 : 100, y7 = swapped ? 100 : 400;
    FaceCropper cropper;
    for (int i = 0; i < 3; ++i) {
      const auto tiles =
          cropper.Update(Colour(i * kFrame),
                         {{7, Face(600, y7, 100, 120)}, {4, Face(600, y4, 100, 120)}}, {1280, 720});
      ASSERT_EQ(tiles.size(), 2u);
      EXPECT_NEAR(Apply(tiles[0].matrix, 650, y4 + 60).y(), 360, 0.1 * 720) << swapped << i;
      EXPECT_NEAR(Apply(tiles[1].matrix, 650, y7 + 60).y(), 360, 0.1 * 720) << swapped << i;
    }
  }
}

TEST_F(FaceCropperTest, ThreeFacesIn1280GiveTiles426Wide) {
  const auto tiles = Run({{1, Face(100, 200, 120, 160)},
                          {2, Face(560, 220, 120, 160)},
                          {3, Face(1000, 180, 120, 160)}});
  ASSERT_EQ(tiles.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(tiles[i].rectangle.x, 426 * i);
    EXPECT_EQ(tiles[i].rectangle.width, 426);
    EXPECT_EQ(tiles[i].rectangle.height, 720);
    ExpectOutlineInside(tiles[i], kInput, "tile " + std::to_string(i));
  }
}

TEST_F(FaceCropperTest, ASecondPersonEnteringOrLeavingRestartsEveryView) {
  const FaceData first = Face(400, 250, 140, 180), second = Face(900, 230, 130, 170);
  for (int i = 0; i < 10; ++i) Run({{1, Face(200, 250, 140, 180)}});
  // Mid-way through a move the smoothed view is not the target...
  for (int i = 0; i < 3; ++i) Run({{1, first}});
  const auto moving = Run({{1, first}});
  FaceCropper fresh_one;
  const auto one_target = fresh_one.Update(Colour(0), {{1, first}}, {1280, 720});
  EXPECT_FALSE(moving[0].matrix.isApprox(one_target[0].matrix, 1e-3f));
  // ...but the frame the second person enters shows both targets at once, as a fresh start does.
  const auto entered = Run({{1, first}, {2, second}});
  FaceCropper fresh_two;
  const auto two_targets = fresh_two.Update(Colour(0), {{1, first}, {2, second}}, {1280, 720});
  ASSERT_EQ(entered.size(), 2u);
  EXPECT_TRUE(entered[0].matrix == two_targets[0].matrix);
  EXPECT_TRUE(entered[1].matrix == two_targets[1].matrix);
  // Move the first a little beyond the dead zone, then let the second leave.
  Run({{1, Face(470, 250, 140, 180)}, {2, second}});
  const auto left = Run({{1, Face(470, 250, 140, 180)}});
  FaceCropper fresh_again;
  const auto again = fresh_again.Update(Colour(0), {{1, Face(470, 250, 140, 180)}}, {1280, 720});
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].matrix == again[0].matrix);
  // Nobody left: no tiles.
  EXPECT_TRUE(Run({}).empty());
}

TEST_F(FaceCropperTest, OutlineNeverLeavesThePicture) {
  // A head walking from the middle out of the left edge and back, bobbing up and down, growing
  // as it comes closer; with a second person on the right for part of the way.
  for (int i = 0; i < 240; ++i) {
    const double phase = i / 240.0 * 2 * M_PI;
    const int size = 120 + int(120 * (1 - std::cos(phase)) / 2);
    const int x = int(560 - 620 * std::sin(phase / 2)), y = int(260 - 230 * std::sin(phase * 3));
    std::map<int, FaceData> faces{{1, Face(x, y, size, size * 5 / 4)}};
    if (i > 80 && i < 160) faces[2] = Face(1100, 500, 160, 200);
    const auto tiles = Run(faces);
    for (size_t k = 0; k < tiles.size(); ++k)
      ExpectOutlineInside(tiles[k], kInput, "frame " + std::to_string(i));
  }
}

TEST_F(FaceCropperTest, DegenerateBoxesEndWithFiniteViews) {
  // A zero-size box is no face to frame.
  EXPECT_TRUE(Run({{1, Face(300, 300, 0, 0)}}).empty());
  EXPECT_TRUE(Run({{1, Face(300, 300, 50, 0)}}).empty());
  auto tiles = Run({{1, Face(300, 300, 0, 80)}, {2, Face(600, 200, 120, 150)}});
  EXPECT_EQ(tiles.size(), 1u);
  // Boxes at and beyond the picture's edges and corners, tiny and huge.
  const Rectangle boxes[] = {{0, 0, 60, 80},      {1220, 640, 60, 80}, {-50, -40, 120, 150},
                             {1250, 300, 30, 40}, {0, 0, 1280, 720},   {-500, -500, 2000, 2000},
                             {640, 0, 1, 1},      {0, 719, 1, 1},      {1279, 360, 1, 700}};
  for (const Rectangle& r : boxes) {
    FaceCropper fresh;
    for (int i = 0; i < 3; ++i) {
      const auto result =
          fresh.Update(Colour(i * kFrame), {{1, Face(r.x, r.y, r.width, r.height)}}, {1280, 720});
      ASSERT_EQ(result.size(), 1u);
      const std::string where = std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                                std::to_string(r.width) + "x" + std::to_string(r.height);
      EXPECT_TRUE(result[0].matrix.allFinite()) << where;
      ExpectOutlineInside(result[0], kInput, where);
    }
  }
}

TEST_F(FaceCropperTest, AnotherInputSizeStartsTheFaceAfresh) {
  for (int i = 0; i < 5; ++i) Run({{1, Face(400, 250, 140, 180)}});
  test::LogCapture log;
  const auto tiles = Run({{1, Face(200, 125, 70, 90)}}, {1280, 720}, {640, 360});
  EXPECT_EQ(log.Count("FATAL Check failed: [current_transform.input_resolution() == "
                      "new_transform.input_resolution()] "),
            1);
  FaceCropper fresh;
  const auto expected =
      fresh.Update(Colour(0, {640, 360}), {{1, Face(200, 125, 70, 90)}}, {1280, 720});
  ASSERT_EQ(tiles.size(), 1u);
  EXPECT_TRUE(tiles[0].matrix == expected[0].matrix);
}

// An odd leftover when heightening is halved down: 294 * 0.8333 / (427 / 720) = 413 rows, 119
// more than the padded box, 59 of them above it: (577, 151)-(723, 564).
TEST(FaceCropperGeometryTest, TargetBoxHeightenedByAnOddLeftover) {
  const Eigen::Matrix3f K = Intrinsics();
  const Transformation narrow =
      algorithms::ComputeTarget(Box(600, 300, 700, 420), {427, 720}, kInput, K, 0.75f, 0.23f, 0.7f);
  const Transformation expected(K, kInput, {427, 720}, Box(577, 151, 723, 564));
  EXPECT_TRUE(narrow.matrix() == expected.matrix());
}

// The zoom's dead zone is 8 %: a face 7 % larger or smaller (about its centre) leaves the view as
// it is, one 10 % larger or smaller moves it.
TEST(FaceCropperDeadZoneTest, ZoomHoldsWithinEightPercentEitherWay) {
  struct Case {
    int w, h;
    bool held;
  };
  for (const Case& c :
       {Case{150, 193, true}, Case{130, 167, true}, Case{154, 198, false}, Case{126, 162, false}}) {
    FaceCropper cropper;
    int64_t time = 0;
    auto run = [&](int w, int h) {
      const auto tiles = cropper.Update(Colour(time += kFrame),
                                        {{1, Face(640 - w / 2, 330 - h / 2, w, h)}}, {1280, 720});
      return tiles.empty() ? Eigen::Matrix3f::Zero().eval() : tiles[0].matrix;
    };
    const Eigen::Matrix3f settled = run(140, 180);
    Eigen::Matrix3f now;
    for (int i = 0; i < 30; ++i) now = run(c.w, c.h);
    EXPECT_EQ(now == settled, c.held) << c.w << "x" << c.h;
  }
}

}  // namespace
}  // namespace vantisol
