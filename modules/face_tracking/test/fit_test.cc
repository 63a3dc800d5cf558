#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <random>

#include "face_tracking/blendshapes.h"
#include "face_tracking/landmark_filter.h"
#include "face_tracking/rigid_tracking.h"
#include "face_tracking/rt_temporal_filter.h"

namespace vantisol {
namespace {

TEST(SolveBoundedTest, KeepsWeightsInTheBox) {
  const int k = 7;
  Eigen::VectorXf x0 = Eigen::VectorXf::Constant(k, 0.5f);
  x0[2] = 1.4f;
  Eigen::VectorXf x;
  const Eigen::MatrixXf I = Eigen::MatrixXf::Identity(k, k);
  ASSERT_TRUE(SolveBounded(I, I, Eigen::VectorXf::Zero(k), Eigen::VectorXf::Ones(k), x0, &x));
  EXPECT_NEAR(x[2], 1, 1e-4);
  EXPECT_NEAR(x[0], 0.5f, 1e-4);

  std::mt19937 random(7);
  std::uniform_real_distribution<float> uniform(-1, 2);
  for (int trial = 0; trial < 50; ++trial) {
    Eigen::MatrixXf A(21, k);
    for (int i = 0; i < A.size(); ++i) A.data()[i] = uniform(random);
    const Eigen::MatrixXf H = A.transpose() * A;
    for (int i = 0; i < k; ++i) x0[i] = uniform(random);
    ASSERT_TRUE(SolveBounded(H, I, Eigen::VectorXf::Zero(k), Eigen::VectorXf::Ones(k), x0, &x));
    EXPECT_GE(x.minCoeff(), -1e-4f);
    EXPECT_LE(x.maxCoeff(), 1 + 1e-4f);
  }
}

// One weight below its lower bound: each iteration halves its distance to the bound, exactly, so
// the first iterate within the tolerance is known. The residual after the first iteration lies
// just above 1e-4 in one case and just below it in the other.
TEST(SolveBoundedTest, StopsAtTheFirstIterateWithinTheTolerance) {
  const Eigen::MatrixXf I = Eigen::MatrixXf::Identity(1, 1);
  for (const auto& [start, iterations] : {std::pair{-2.0002e-4f, 2}, std::pair{-1.9998e-4f, 1}}) {
    Eigen::VectorXf x;
    EXPECT_TRUE(SolveBounded(I, I, Eigen::VectorXf::Zero(1), Eigen::VectorXf::Ones(1),
                             Eigen::VectorXf::Constant(1, start), &x));
    EXPECT_EQ(x[0], std::ldexp(start, -iterations)) << start;
  }
}

// Two strongly coupled weights, both below their bounds: each iteration moves them toward the
// bounds by the factor (1 + c) / 2 = 0.9921875, too slowly to get within the tolerance in 1000
// iterations. The iterate returned shows how many were made.
TEST(SolveBoundedTest, GivesUpAfterAThousandIterationsWithTheLastIterate) {
  const float c = 1 - 1.0f / 64;
  Eigen::MatrixXf H(2, 2);
  H << 1, c, c, 1;
  const Eigen::MatrixXf I = Eigen::MatrixXf::Identity(2, 2);
  Eigen::VectorXf x;
  EXPECT_FALSE(SolveBounded(H, I, Eigen::VectorXf::Zero(2), Eigen::VectorXf::Ones(2),
                            Eigen::VectorXf::Constant(2, -1), &x));
  const double expected = -std::pow((1 + c) / 2.0, 1000);
  for (int i = 0; i < 2; ++i) EXPECT_NEAR(x[i], expected, std::abs(expected) * 1e-3) << i;
}

// A three-vertex model whose second shape moves no vertex at all.
class SmallModelTest : public testing::Test {
 protected:
  void SetUp() override {
    blendshapes_.mean.resize(9);
    blendshapes_.mean << 0, 0, 0, 0.05f, 0, 0, 0, 0.05f, 0.01f;
    blendshapes_.shapes = Eigen::MatrixXf::Zero(9, 2);
    blendshapes_.shapes.col(0) << 0, 0.01f, 0, 0, 0.01f, 0, 0, 0.01f, 0.005f;
    blendshapes_.weights = Eigen::VectorXf::Zero(2);
    for (int i = 0; i < 3; ++i) mesh_.vertices.push_back(vec3::Zero());
    mesh_.triangles = {0, 1, 2};
    mesh_.matching = {{0, 0}, {1, 1}, {2, 2}};
  }
  std::vector<LandmarkData> Landmarks(float weight, const Eigen::Affine3f& pose) const {
    return Landmarks(Eigen::Vector2f(weight, 0), pose);
  }
  std::vector<LandmarkData> Landmarks(const Eigen::Vector2f& weights,
                                      const Eigen::Affine3f& pose) const {
    std::vector<LandmarkData> out(3);
    const Eigen::VectorXf face = blendshapes_.mean + blendshapes_.shapes * weights;
    for (int i = 0; i < 3; ++i) {
      Eigen::Vector3f::Map(out[i].world.data()) = pose * Eigen::Vector3f(face.segment<3>(3 * i));
    }
    return out;
  }
  Blendshapes blendshapes_;
  FaceMesh mesh_;
};

TEST_F(SmallModelTest, SingularSystemGivesFiniteWeights) {
  Eigen::Affine3f pose = Eigen::Translation3f(0, 0, 0.5f) * Eigen::AngleAxisf(0.2f, vec3::UnitY());
  blendshapes_.UpdateExpression(nullptr, Landmarks(0.6f, pose), pose, &mesh_);
  ASSERT_TRUE(blendshapes_.weights.allFinite());
  EXPECT_NEAR(blendshapes_.weights[0], 0.6f, 1e-3);
  EXPECT_NEAR(blendshapes_.weights[1], 0, 1e-3);
  for (const vec3& v : mesh_.vertices) EXPECT_TRUE(v.allFinite());
  // Landmarks on the neutral face: zero weights.
  blendshapes_.UpdateExpression(nullptr, Landmarks(0, pose), pose, &mesh_);
  EXPECT_NEAR(blendshapes_.weights.norm(), 0, 1e-4);
  // Every shape vanishing, or no landmark at all: still finite and neutral.
  blendshapes_.shapes.setZero();
  blendshapes_.UpdateExpression(nullptr, Landmarks(0.6f, pose), pose, &mesh_);
  EXPECT_EQ(blendshapes_.weights, Eigen::VectorXf::Zero(2));
  blendshapes_.UpdateExpression(nullptr, {}, pose, &mesh_);
  EXPECT_EQ(blendshapes_.weights, Eigen::VectorXf::Zero(2));
  EXPECT_EQ(mesh_.vertices[1], vec3(0.05f, 0, 0));
}

TEST_F(SmallModelTest, ExpressionsBeyondTheModelsRangeStopAtItsEnds) {
  const Eigen::Affine3f pose(Eigen::Translation3f(0, 0, 0.5f));
  // Inside the range, on both sides of each end, the fit follows the face.
  for (float weight : {0.05f, 0.95f}) {
    blendshapes_.UpdateExpression(nullptr, Landmarks(weight, pose), pose, &mesh_);
    EXPECT_NEAR(blendshapes_.weights[0], weight, 1e-3) << weight;
  }
  // An exaggerated face (weight 1.5) and an inverted one (-0.5): the weight stops at 1 and at 0,
  // and the mesh shows the full expression, no more.
  for (const auto& [weight, bound] : {std::pair{1.5f, 1.0f}, std::pair{-0.5f, 0.0f}}) {
    blendshapes_.UpdateExpression(nullptr, Landmarks(weight, pose), pose, &mesh_);
    EXPECT_NEAR(blendshapes_.weights[0], bound, 1e-3) << weight;
    const Eigen::VectorXf face = blendshapes_.mean + bound * blendshapes_.shapes.col(0);
    for (int i = 0; i < 3; ++i) {
      EXPECT_LT((mesh_.vertices[i] - vec3(face.segment<3>(3 * i))).norm(), 1e-5f)
          << weight << " vertex " << i;
    }
  }
}

// Two nearly alike shapes and a face far outside the model's range: the bound iteration cannot
// settle within its limit, and the fit falls back to the neutral face.
TEST_F(SmallModelTest, AFitThatDoesNotSettleGivesTheNeutralFace) {
  blendshapes_.shapes.col(1) << 0, 0.01f, 0, 0, 0.01f, 0, 0, 0.0095f, 0.006f;
  const Eigen::Affine3f pose(Eigen::Translation3f(0, 0, 0.5f));
  blendshapes_.UpdateExpression(nullptr, Landmarks(Eigen::Vector2f(0.3f, 0.3f), pose), pose,
                                &mesh_);
  ASSERT_NEAR(blendshapes_.weights[0], 0.3f, 0.01f);
  ASSERT_NEAR(blendshapes_.weights[1], 0.3f, 0.01f);
  blendshapes_.UpdateExpression(nullptr, Landmarks(Eigen::Vector2f(-1, -1), pose), pose, &mesh_);
  EXPECT_EQ(blendshapes_.weights, Eigen::VectorXf::Zero(2));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(mesh_.vertices[i], vec3(blendshapes_.mean.segment<3>(3 * i))) << i;
  }
}

TEST_F(SmallModelTest, ScaleAndMismatchedVertexCounts) {
  blendshapes_.Scale({2, 1, 1});
  EXPECT_EQ(blendshapes_.mean[3], 0.1f);
  EXPECT_EQ(blendshapes_.shapes(0, 0), 0);
  EXPECT_EQ(blendshapes_.shapes(1, 0), 0.01f);
  // A mesh with more vertices than the model: only the model's vertices are written.
  mesh_.vertices.push_back(vec3(7, 7, 7));
  mesh_.matching.push_back({0, 3});  // a pair beyond the model is skipped
  blendshapes_.ResetExpression(&mesh_);
  EXPECT_EQ(mesh_.vertices[1], vec3(0.1f, 0, 0));
  EXPECT_EQ(mesh_.vertices[3], vec3(7, 7, 7));
  blendshapes_.UpdateExpression(nullptr, Landmarks(0.3f, Eigen::Affine3f::Identity()),
                                Eigen::Affine3f::Identity(), &mesh_);
  EXPECT_NEAR(blendshapes_.weights[0], 0.3f, 1e-3);
  // No model (missing file): nothing is written.
  Blendshapes empty;
  empty.ResetExpression(&mesh_);
  empty.UpdateExpression(nullptr, Landmarks(0.3f, Eigen::Affine3f::Identity()),
                         Eigen::Affine3f::Identity(), &mesh_);
  EXPECT_EQ(mesh_.vertices[3], vec3(7, 7, 7));
}

Eigen::Matrix3Xd RandomPoints(std::mt19937& random, int n) {
  std::normal_distribution<double> normal(0, 0.05);
  Eigen::Matrix3Xd points(3, n);
  for (int i = 0; i < points.size(); ++i) points.data()[i] = normal(random);
  return points;
}

TEST(WeightedRigidAlignTest, AgreesWithUmeyamaAndNeverReflects) {
  std::mt19937 random(3);
  std::normal_distribution<double> noise(0, 0.001);
  for (int trial = 0; trial < 20; ++trial) {
    const Eigen::Matrix3Xd source = RandomPoints(random, 53);
    const Eigen::Quaterniond q(Eigen::Vector4d::Random().normalized());
    const Eigen::Vector3d t = Eigen::Vector3d::Random() * 0.5;
    Eigen::Matrix3Xd target = (q.toRotationMatrix() * source).colwise() + t;
    for (int i = 0; i < target.size(); ++i) target.data()[i] += noise(random);
    const Eigen::Matrix4d ours = WeightedRigidAlign(source, target, Eigen::VectorXd::Ones(53));
    const Eigen::Matrix4d reference = Eigen::umeyama(source, target, false);
    EXPECT_TRUE(ours.isApprox(reference, 1e-9)) << ours << "\n" << reference;
  }
  const Eigen::Matrix3Xd source = RandomPoints(random, 30);
  Eigen::Matrix3Xd mirrored = source;
  mirrored.row(0) *= -1;
  const Eigen::Matrix4d m = WeightedRigidAlign(source, mirrored, Eigen::VectorXd::Ones(30));
  const Eigen::Matrix3d r = m.topLeftCorner<3, 3>();
  EXPECT_NEAR(r.determinant(), 1, 1e-9);
  // No weight at all: a finite identity.
  EXPECT_EQ(WeightedRigidAlign(source, source, Eigen::VectorXd::Zero(30)),
            Eigen::Matrix4d::Identity());
  EXPECT_EQ(WeightedRigidAlign(Eigen::Matrix3Xd(3, 0), Eigen::Matrix3Xd(3, 0), Eigen::VectorXd()),
            Eigen::Matrix4d::Identity());
}

TEST(RigidTrackingTest, TracksAMotionAfterThePreviousPose) {
  std::mt19937 random(5);
  FaceMesh mesh;
  const Eigen::Matrix3Xd points = RandomPoints(random, 20);
  for (int i = 0; i < 20; ++i) {
    mesh.vertices.push_back(points.col(i).cast<float>());
    mesh.matching.push_back({i, i});
  }
  const Eigen::Affine3f previous(Eigen::Translation3f(0, 0, 0.5f));
  const Eigen::Affine3f motion =
      Eigen::Translation3f(0.01f, 0, 0) * Eigen::AngleAxisf(10 * float(M_PI) / 180, vec3::UnitY());
  std::vector<LandmarkData> same(20), moved(20);
  float expected_error = 0;
  for (int i = 0; i < 20; ++i) {
    const vec3 p = previous * mesh.vertices[i];
    Eigen::Vector3f::Map(same[i].world.data()) = p;
    Eigen::Vector3f::Map(moved[i].world.data()) = motion * p;
    expected_error += (motion * p - p).squaredNorm();
  }
  RigidTracking tracking;
  float error = -1;
  const Calibration calibration;
  EXPECT_TRUE(tracking.Track(same, mesh, previous, calibration, calibration, &error)
                  .isApprox(previous, 1e-5f));
  EXPECT_NEAR(error, 0, 1e-10);
  const Eigen::Affine3f pose =
      tracking.Track(moved, mesh, previous, calibration, calibration, &error);
  EXPECT_TRUE(pose.isApprox(motion * previous, 1e-5f));
  EXPECT_NEAR(error, expected_error, 1e-6);
  // No usable pair: the previous pose, error 0.
  mesh.matching = {{25, 0}, {0, 99}};
  EXPECT_TRUE(
      tracking.Track(moved, mesh, previous, calibration, calibration, &error).isApprox(previous));
  EXPECT_EQ(error, 0);
}

std::vector<LandmarkData> Depths(std::initializer_list<float> z) {
  std::vector<LandmarkData> out;
  for (float d : z) {
    LandmarkData l;
    l.world = {0.1f, 0.2f, d};
    l.image = {5, 6};
    l.confidence_world = 100;
    out.push_back(l);
  }
  return out;
}

TEST(LandmarkFilterTest, AveragesDepthOverThreeFramesAndRefillsOnANewCount) {
  LandmarkFilter filter;
  std::vector<LandmarkData> out;
  filter.Filter(Depths({0.50f}), &out);
  EXPECT_FLOAT_EQ(out[0].world[2], 0.50f);
  filter.Filter(Depths({0.53f}), &out);
  filter.Filter(Depths({0.50f}), &out);
  EXPECT_NEAR(out[0].world[2], 0.51f, 1e-6);
  EXPECT_EQ(out[0].world[0], 0.1f);
  EXPECT_EQ(out[0].image[1], 6);
  EXPECT_EQ(out[0].confidence_world, 100);
  filter.Filter(Depths({0.6f, 0.7f}), &out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_FLOAT_EQ(out[1].world[2], 0.7f);
  filter.Filter(Depths({0.9f}), &out);
  EXPECT_FLOAT_EQ(out[0].world[2], 0.9f);
}

TEST(TemporalFilterTest, PassesIdenticalPosesAndFollowsFastMotion) {
  RT_TemporalFilter filter;
  const Eigen::Affine3f pose = Eigen::Translation3f(0.01f, 0.02f, 0.6f) *
                               Eigen::AngleAxisf(0.3f, vec3(1, 1, 0).normalized());
  filter.Reset(pose);
  for (int i = 0; i < 5; ++i) filter.Filter(pose);
  EXPECT_TRUE(filter.output().isApprox(pose, 1e-6f));
  EXPECT_TRUE(filter.output().matrix() == pose.matrix() || filter.output().isApprox(pose, 1e-7f));

  Eigen::Affine3f moved = pose;
  moved.translation().x() += 0.02f;
  filter.Filter(moved);
  EXPECT_LT((filter.output().translation() - moved.translation()).norm(), 0.003f);
  EXPECT_GT((filter.output().translation() - moved.translation()).norm(), 0);
  EXPECT_TRUE(filter.output().rotation().isApprox(pose.rotation(), 1e-5f));

  // Slow rotation: the output lies between the oldest and the newest rotation.
  RT_TemporalFilter slow;
  slow.Reset(Eigen::Affine3f::Identity());
  for (int i = 1; i <= 5; ++i) {
    slow.Filter(Eigen::Affine3f(Eigen::AngleAxisf(0.02f * i, vec3::UnitY())));
  }
  const float angle = Eigen::AngleAxisf(slow.output().rotation()).angle();
  EXPECT_GT(angle, 0.03f);
  EXPECT_LT(angle, 0.1f);
}

// A head turning 0.1 rad and sliding 4 mm per frame: once the ring holds five real poses, the
// output is the weighted circular mean of the yaw angles with weights exp(-2 j D_r) (the eigen
// average weighs each quaternion by its weight squared) and the weighted mean of the positions
// with weights exp(-100 j D_t), newest first: a turning head lags the newest pose only a little.
TEST(TemporalFilterTest, TurningHeadFollowsTheNewestPosesWeighting) {
  RT_TemporalFilter filter;
  filter.Reset(Eigen::Affine3f::Identity());
  const int kFrames = 5;
  for (int i = 1; i <= kFrames; ++i) {
    filter.Filter(Eigen::Translation3f(0.004f * i, 0, 0.6f) *
                  Eigen::AngleAxisf(0.1f * i, vec3::UnitY()));
  }
  const double spread_r = 0.1 * (kFrames - 1), spread_t = 0.004 * (kFrames - 1);
  double sin_sum = 0, cos_sum = 0, x_sum = 0, x_weights = 0;
  for (int j = 0; j < kFrames; ++j) {
    const double yaw = 0.1 * (kFrames - j), x = 0.004 * (kFrames - j);
    const double b = std::exp(-j * spread_r);
    sin_sum += b * b * std::sin(yaw);
    cos_sum += b * b * std::cos(yaw);
    const double a = std::exp(-j * 100 * spread_t);
    x_sum += a * x;
    x_weights += a;
  }
  const Eigen::AngleAxisf rotation(filter.output().rotation());
  const float yaw = rotation.angle() * rotation.axis().dot(vec3::UnitY());
  EXPECT_NEAR(yaw, std::atan2(sin_sum, cos_sum), 2e-4);
  EXPECT_NEAR(rotation.axis().dot(vec3::UnitY()), 1, 1e-4);
  EXPECT_NEAR(filter.output().translation().x(), x_sum / x_weights, 1e-5);
  EXPECT_NEAR(filter.output().translation().z(), 0.6f, 1e-6);
}

// The newest pose passes through unchanged only while both spreads stay under 0.0001: just under
// it in either measure the output is the newest pose, just over it the average of the ring.
TEST(TemporalFilterTest, PassThroughLimitOnBothSidesOfEachSpread) {
  struct Case {
    float shift, turn;  // metres and radians of the newest pose from the four before
    bool passes;
  };
  for (const Case& c : {Case{0.00009f, 0, true}, Case{0.00011f, 0, false}, Case{0, 0.00009f, true},
                        Case{0, 0.00011f, false}}) {
    const Eigen::Affine3f pose(Eigen::Translation3f(0.01f, 0.02f, 0.6f));
    const Eigen::Affine3f newest = Eigen::Translation3f(0.01f + c.shift, 0.02f, 0.6f) *
                                   Eigen::AngleAxisf(c.turn, vec3::UnitY());
    RT_TemporalFilter filter;
    filter.Reset(pose);
    for (int i = 0; i < 4; ++i) filter.Filter(pose);
    filter.Filter(newest);
    const Eigen::Affine3f& out = filter.output();
    const float off = std::max(
        (out.translation() - newest.translation()).norm(),
        AngularDistance(Eigen::Quaternionf(out.rotation()), Eigen::Quaternionf(newest.rotation())));
    if (c.passes) {
      EXPECT_LT(off, 1e-6f) << c.shift << " " << c.turn;
    } else {
      EXPECT_GT(off, 2e-5f) << c.shift << " " << c.turn;
    }
  }
}

}  // namespace
}  // namespace vantisol
