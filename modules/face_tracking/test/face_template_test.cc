#include "face_tracking/face_template.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>

#include "face_tracking/face_tracker.h"
#include "synthetic_face.h"
#include "utils/logging.h"

namespace vantisol {
namespace {

using test::MakeFrame;
using test::SyntheticFace;

float Degrees(const Eigen::Matrix3f& a, const Eigen::Matrix3f& b) {
  return Eigen::AngleAxisf(a * b.transpose()).angle() * 180 / float(M_PI);
}

Eigen::Affine3f Turned(float yaw_degrees, float pitch_degrees) {
  return Eigen::Translation3f(0.02f, -0.01f, 0.55f) *
         Eigen::AngleAxisf(yaw_degrees * float(M_PI) / 180, Eigen::Vector3f::UnitY()) *
         Eigen::AngleAxisf(pitch_degrees * float(M_PI) / 180, Eigen::Vector3f::UnitX());
}

class FaceTemplateTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { base_ = new FaceTemplate; }
  static void TearDownTestSuite() { delete base_; }

  // Feeds `frames` frames of `face` and returns whether the last one was lost.
  bool Run(FaceTemplate& t, const SyntheticFace& face, int frames) {
    for (int i = 0; i < frames; ++i) t.Update(MakeFrame(*base_, face, random_), 1);
    return t.good_frames_ == 0;
  }

  static FaceTemplate* base_;
  std::mt19937 random_{11};
};
FaceTemplate* FaceTemplateTest::base_ = nullptr;

TEST_F(FaceTemplateTest, FitsPoseAndExpressionAndFadesIn) {
  FaceTemplate t(*base_);
  SyntheticFace face;
  face.pose = Turned(10, 5);
  face.weights << 0.4f, 0.2f, 0.6f, 0, 0.3f, 0.1f, 0.5f;
  face.noise = 0.0003f;
  Run(t, face, 1);
  EXPECT_FLOAT_EQ(t.weight_, 0.05f);
  Run(t, face, 18);
  EXPECT_LT(t.weight_, 1);
  Run(t, face, 1);
  EXPECT_NEAR(t.weight_, 1, 1e-5);
  EXPECT_LT((t.pose_.translation() - face.pose.translation()).norm(), 0.002f);
  EXPECT_LT(Degrees(t.pose_.rotation(), face.pose.rotation()), 1);
  for (int k = 0; k < 7; ++k) EXPECT_NEAR(t.blendshapes_->weights[k], face.weights[k], 0.05) << k;
  // The world mesh is the model mesh under the pose, and stays finite.
  const int v = t.world_mesh_->matching[28].second;
  EXPECT_TRUE(t.world_mesh_->vertex(v).isApprox(t.pose_ * t.model_mesh_->vertex(v), 1e-5f));
  EXPECT_LT(t.HeadAngle(MakeFrame({})), 15);
}

TEST_F(FaceTemplateTest, AdaptScaleFindsTheWidthAndHeight) {
  FaceTemplate t(*base_);
  SyntheticFace face;
  face.pose = Turned(-8, 4);
  face.weights << 0.2f, 0, 0.3f, 0, 0, 0, 0;
  face.scale = {1.07f, 0.94f, 1};
  face.noise = 0.0002f;
  Run(t, face, 5);
  t.adapt_scale_requested_ = true;
  Run(t, face, 1);
  EXPECT_FALSE(t.adapt_scale_requested_);
  EXPECT_NEAR(t.scale_[0], 1.07f, 0.0107f);
  EXPECT_NEAR(t.scale_[1], 0.94f, 0.0094f);
  EXPECT_EQ(t.scale_[2], 1);
  // SetScale first undoes the current scale.
  t.SetScale(1.2f, 1, 1);
  t.SetScale(1.2f, 1, 1);
  EXPECT_FLOAT_EQ(t.scale_[0], 1.2f);
  EXPECT_NEAR(t.blendshapes_->mean[0], 1.2f * base_->blendshapes_->mean[0], 1e-6);
  // A zero or non-finite scale is refused.
  t.SetScale(0, 1, 1);
  t.SetScale(std::nanf(""), 1, 1);
  EXPECT_FLOAT_EQ(t.scale_[0], 1.2f);
  t.ResetScale();
  EXPECT_EQ(t.scale_, (std::array<float, 3>{1, 1, 1}));
  EXPECT_NEAR(t.blendshapes_->mean[0], base_->blendshapes_->mean[0], 1e-7);
}

TEST_F(FaceTemplateTest, ScaleFitWithoutConfidentLandmarksKeepsTheScale) {
  FaceTemplate t(*base_);
  SyntheticFace face;
  FaceData data;
  data.landmarks = test::MakeLandmarks(*base_, face, random_);
  for (auto& l : data.landmarks) l.confidence_world = 99;
  t.adapt_scale_requested_ = true;
  t.Update(MakeFrame({{1, data}}), 1);
  EXPECT_EQ(t.scale_, (std::array<float, 3>{1, 1, 1}));
  EXPECT_TRUE(t.pose_.matrix().allFinite());
  EXPECT_FALSE(t.adapt_scale_requested_);
}

TEST_F(FaceTemplateTest, EachLostConditionTrips) {
  SyntheticFace face;
  face.pose = Turned(0, 0);
  face.noise = 0.0002f;
  {
    FaceTemplate t(*base_);
    SyntheticFace close = face;
    close.pose.translation() = Eigen::Vector3f(0, 0, 0.09f);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Run(t, close, 1));
    EXPECT_EQ(t.weight_, 0);
  }
  {
    FaceTemplate t(*base_);
    EXPECT_FALSE(Run(t, face, 20));
    const Eigen::Vector3f held = t.world_mesh_->vertex(100);
    SyntheticFace jumped = face;
    jumped.pose.translation().x() += 0.03f;
    EXPECT_TRUE(Run(t, jumped, 1));
    EXPECT_EQ(t.world_mesh_->vertex(100), held);  // a lost frame holds the world mesh
    EXPECT_NEAR(t.weight_, 0.95f, 1e-5);
    EXPECT_FALSE(Run(t, jumped, 9));
    EXPECT_NEAR(t.weight_, 0.5f, 1e-5);
    Run(t, jumped, 1);
    EXPECT_NEAR(t.weight_, 0.55f, 1e-5);
  }
  {
    FaceTemplate t(*base_);
    EXPECT_FALSE(Run(t, face, 5));
    SyntheticFace mirrored = face;
    mirrored.mirrored = true;
    t.raw_pose_ = t.raw_pose_ * Eigen::Scaling(-1.0f, 1.0f, 1.0f);
    EXPECT_TRUE(Run(t, mirrored, 1));
    EXPECT_LT(t.tracking_error_, 0.001f);
  }
  {
    FaceTemplate t(*base_);
    SyntheticFace turning = face;
    for (int yaw = 0; yaw <= 40; yaw += 4) {
      turning.pose = Turned(static_cast<float>(yaw), 0);
      EXPECT_FALSE(Run(t, turning, 1)) << yaw;
    }
    Run(t, turning, 5);
    EXPECT_FALSE(Run(t, turning, 1));
    for (int yaw = 44; yaw <= 60; yaw += 4) {
      turning.pose = Turned(static_cast<float>(yaw), 0);
      Run(t, turning, 1);
    }
    EXPECT_TRUE(Run(t, turning, 5));
    EXPECT_GT(t.HeadAngle(MakeFrame({})), 50);
  }
}

// What the lost test compares after one frame.
struct Step {
  bool lost;
  double jump, turn, error;
};

std::ostream& operator<<(std::ostream& out, const Step& s) {
  return out << (s.lost ? "lost" : "kept") << " jump " << s.jump << " turn " << s.turn << " error "
             << s.error;
}

constexpr double kJump = 0.0275604, kTurn = 0.2913003, kError = 0.021003609313869475;

class LostConditionTest : public FaceTemplateTest {
 protected:
  // A template settled on `face`, with only the first `count` landmarks (0: all) in every frame.
  // The landmark filter is off: its depth average would spread one step over three frames.
  void Settle(const SyntheticFace& face, size_t count) {
    count_ = count;
    template_ = std::make_unique<FaceTemplate>(*base_);
    template_->filtering_ = false;
    for (int i = 0; i < 12; ++i) ASSERT_FALSE(Feed(Landmarks(face)).lost) << i;
  }
  std::vector<LandmarkData> Landmarks(const SyntheticFace& face) {
    auto landmarks = test::MakeLandmarks(*base_, face, random_);
    if (count_ > 0) landmarks.resize(count_);
    return landmarks;
  }
  Step Feed(std::vector<LandmarkData> landmarks) {
    FaceData data;
    data.landmarks = std::move(landmarks);
    FaceTemplate& t = *template_;
    t.Update(MakeFrame({{1, data}}), 1);
    return {t.good_frames_ == 0,
            (t.raw_pose_.translation() - t.previous_pose_.translation()).norm(),
            AngularDistance(Eigen::Quaternionf(t.raw_pose_.rotation()),
                            Eigen::Quaternionf(t.previous_pose_.rotation())),
            t.tracking_error_};
  }

  // The frame is lost exactly when the measure `which` (0 jump, 1 turn, 2 error) lies above its
  // threshold, and the other two stay below theirs.
  static void ExpectAlone(const Step& step, int which, bool lost) {
    EXPECT_EQ(step.lost, lost) << step;
    const bool above[3] = {step.jump > kJump, step.turn > kTurn, step.error > kError};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(above[i], i == which && lost) << i << ": " << step;
  }

  // A face seen with twelve landmarks, then moved by `motion` in the head's own frame.
  void MoveAlone(const Eigen::Affine3f& motion, int which, bool lost) {
    SyntheticFace face;
    face.pose = Turned(0, 0);
    Settle(face, 12);
    SyntheticFace moved = face;
    moved.pose = face.pose * motion;
    ExpectAlone(Feed(Landmarks(moved)), which, lost);
    EXPECT_LT(template_->HeadAngle(MakeFrame({})), 50);
  }

  std::unique_ptr<FaceTemplate> template_;
  size_t count_ = 0;
};

// Twelve landmarks: a 3 cm shift moves each by 3 cm and a turn about the head's own origin by
// less, which keeps the error under its threshold; the turn leaves the position where it was.
TEST_F(LostConditionTest, JumpAloneTripsAboveItsThreshold) {
  for (const auto& [shift, lost] : {std::pair{0.026f, false}, std::pair{0.029f, true}}) {
    MoveAlone(Eigen::Affine3f(Eigen::Translation3f(shift, 0, 0)), 0, lost);
  }
}

TEST_F(LostConditionTest, TurnAloneTripsAboveItsThreshold) {
  for (const auto& [yaw, lost] : {std::pair{0.27f, false}, std::pair{0.31f, true}}) {
    MoveAlone(Eigen::Affine3f(Eigen::AngleAxisf(yaw, Eigen::Vector3f::UnitY())), 1, lost);
  }
}

TEST_F(LostConditionTest, TrackingErrorAloneTripsAboveItsThreshold) {
  SyntheticFace face;
  face.pose = Turned(0, 0);
  // A still head whose landmarks scatter sideways by ±d, alternately: the error is n·d² while
  // the fitted pose hardly moves.
  for (const auto& [error, lost] : {std::pair{0.018, false}, std::pair{0.024, true}}) {
    Settle(face, 0);
    auto landmarks = Landmarks(face);
    int n = 0;
    for (const auto& [a, v] : base_->world_mesh_->matching) n += a < int(landmarks.size());
    const float d = float(std::sqrt(error / n));
    int k = 0;
    for (const auto& [a, v] : base_->world_mesh_->matching) {
      landmarks[a].world[0] += (k++ % 2 == 0) ? d : -d;
    }
    const Step step = Feed(landmarks);
    EXPECT_NEAR(step.error, error, 0.002) << step;
    ExpectAlone(step, 2, lost);
  }
}

TEST_F(FaceTemplateTest, FramesWithoutTheFaceOrItsLandmarksChangeNothing) {
  FaceTemplate t(*base_);
  SyntheticFace face;
  Run(t, face, 3);
  const float weight = t.weight_;
  const Eigen::Affine3f pose = t.pose_;
  t.Update(MakeFrame({}), 1);
  t.Update(MakeFrame({{1, FaceData()}}), 1);
  EXPECT_EQ(t.weight_, weight);
  EXPECT_TRUE(t.pose_.isApprox(pose));
}

TEST_F(FaceTemplateTest, NonFiniteLandmarksNeverReachThePoseOrTheMesh) {
  FaceTemplate t(*base_);
  SyntheticFace face;
  Run(t, face, 3);
  FaceData data;
  data.landmarks = test::MakeLandmarks(*base_, face, random_);
  data.landmarks[5].world[2] = std::nanf("");
  t.Update(MakeFrame({{1, data}}), 1);
  EXPECT_EQ(t.good_frames_, 0);
  EXPECT_TRUE(t.raw_pose_.matrix().allFinite());
  EXPECT_TRUE(t.pose_.matrix().allFinite());
  EXPECT_TRUE(t.blendshapes_->weights.allFinite());
  for (const vec3& v : t.world_mesh_->vertices) ASSERT_TRUE(v.allFinite());
  for (const vec3& v : t.model_mesh_->vertices) ASSERT_TRUE(v.allFinite());
}

// Every INFO message of the default logger, in order.
class LogCapture : public el::LogDispatchCallback {
 public:
  static std::vector<std::string>& lines() {
    static std::vector<std::string> lines;
    return lines;
  }

 protected:
  void handle(const el::LogDispatchData* data) override {
    lines().push_back(data->logMessage()->message());
  }
};

TEST(FaceTrackerTest, AddsBeforeDeletingAndKeepsSurvivors) {
  FaceTracker tracker;
  std::mt19937 random(1);
  FaceData face;
  face.landmarks = test::MakeLandmarks(*tracker.base_template_, SyntheticFace(), random);
  tracker.Update(MakeFrame({{1, face}, {2, face}}));
  ASSERT_EQ(tracker.face_templates_.size(), 2u);
  const FaceTemplate* second = tracker.face_templates_.at(2).get();
  const float weight = second->weight_;
  EXPECT_GT(weight, 0);

  el::Helpers::installLogDispatchCallback<LogCapture>("capture");
  LogCapture::lines().clear();
  tracker.Update(MakeFrame({{2, face}, {3, face}}));
  el::Helpers::uninstallLogDispatchCallback<LogCapture>("capture");
  std::vector<std::string> tracker_lines;
  for (const auto& line : LogCapture::lines()) {
    if (line.rfind("FaceTracker", 0) == 0) tracker_lines.push_back(line);
  }
  EXPECT_EQ(tracker_lines, (std::vector<std::string>{"FaceTracker - face added 3",
                                                     "FaceTracker - face deleted 1"}));
  EXPECT_EQ(tracker.face_templates_.at(2).get(), second);
  EXPECT_GT(second->weight_, weight);
  EXPECT_FLOAT_EQ(tracker.face_templates_.at(3)->weight_, 0.05f);

  tracker.Update(MakeFrame({}));
  EXPECT_TRUE(tracker.face_templates_.empty());
}

TEST(FaceTrackerTest, ScaleReachesLaterFacesButAdaptScaleDoesNot) {
  FaceTracker tracker;
  std::mt19937 random(2);
  FaceData face;
  face.landmarks = test::MakeLandmarks(*tracker.base_template_, SyntheticFace(), random);
  const float x0 = tracker.base_template_->blendshapes_->mean[0];
  tracker.Update(MakeFrame({{1, face}}));
  tracker.AdaptScale();
  EXPECT_TRUE(tracker.face_templates_.at(1)->adapt_scale_requested_);
  tracker.SetScale(0.9f, 1.1f, 1);
  tracker.Update(MakeFrame({{1, face}, {4, face}}));
  const FaceTemplate& later = *tracker.face_templates_.at(4);
  EXPECT_EQ(later.scale_, (std::array<float, 3>{0.9f, 1.1f, 1}));
  EXPECT_FALSE(later.adapt_scale_requested_);
  EXPECT_FLOAT_EQ(later.blendshapes_->mean[0], 0.9f * x0);
  EXPECT_FLOAT_EQ(later.model_mesh_->vertex(0).x(), 0.9f * x0);
  EXPECT_FALSE(tracker.face_templates_.at(1)->adapt_scale_requested_);
  tracker.ResetScale();
  EXPECT_EQ(tracker.base_template_->scale_, (std::array<float, 3>{1, 1, 1}));
}

// One request fits every face present, each once, in its next frame with landmarks: a face seen
// without landmarks keeps its request until it has some.
TEST(FaceTrackerTest, AdaptScaleFitsEachFaceOnceInItsNextFrameWithLandmarks) {
  FaceTracker tracker;
  std::mt19937 random(4);
  SyntheticFace wide;
  wide.scale = {1.07f, 0.94f, 1};
  FaceData face;
  face.landmarks = test::MakeLandmarks(*tracker.base_template_, wide, random);
  for (int i = 0; i < 5; ++i) tracker.Update(MakeFrame({{1, face}, {2, face}}));
  tracker.AdaptScale();
  const FaceTemplate& first = *tracker.face_templates_.at(1);
  const FaceTemplate& second = *tracker.face_templates_.at(2);
  auto expect_fitted = [](const FaceTemplate& t, bool fitted, const char* when) {
    EXPECT_EQ(t.adapt_scale_requested_, !fitted) << when;
    EXPECT_NEAR(t.scale_[0], fitted ? 1.07f : 1, 0.0107f) << when;
    EXPECT_NEAR(t.scale_[1], fitted ? 0.94f : 1, 0.0094f) << when;
  };
  tracker.Update(MakeFrame({{1, face}, {2, FaceData()}}));
  expect_fitted(first, true, "a frame with landmarks");
  expect_fitted(second, false, "a frame without landmarks");
  tracker.Update(MakeFrame({{1, face}, {2, face}}));
  expect_fitted(second, true, "its first frame with landmarks");
}

// The lost conditions on the head's own pose, each just inside and just outside its limit: the
// head turned away from the camera by more than 50 degrees, and a head nearer than 0.1 m.
TEST_F(FaceTemplateTest, HeadAngleAndNearnessLimitsOnBothSides) {
  auto facing = [](float yaw_degrees, float distance) {
    SyntheticFace face;
    face.pose = Eigen::Translation3f(0, 0, distance) *
                Eigen::AngleAxisf(yaw_degrees * float(M_PI) / 180, Eigen::Vector3f::UnitY());
    return face;
  };
  for (const auto& [yaw, lost] : {std::pair{49.5f, false}, std::pair{50.5f, true}}) {
    FaceTemplate t(*base_);
    t.filtering_ = false;
    // Turned a few degrees a frame, as a head turns, so that no frame jumps.
    for (float y = 0; y < yaw; y += 4) Run(t, facing(y, 0.55f), 2);
    EXPECT_EQ(Run(t, facing(yaw, 0.55f), 3), lost) << yaw;
    EXPECT_NEAR(t.HeadAngle(MakeFrame({})), yaw, 0.2f);
  }
  for (const auto& [distance, lost] : {std::pair{0.095f, true}, std::pair{0.105f, false}}) {
    FaceTemplate t(*base_);
    EXPECT_EQ(Run(t, facing(0, distance), 5), lost) << distance;
    EXPECT_NEAR(t.raw_pose_.translation().z(), distance, 0.001f);
  }
}

// A model shrunk to one point whose pose cannot move (one landmark is not finite, so the rigid fit
// keeps the pose, and too little confident for the scale fit): every scale step is then the same
// ratio of the landmarks to the point. The fit converges at once or never, and the scale it has
// reached when it gives up counts its steps. Powers of two keep each step exact.
TEST_F(FaceTemplateTest, ScaleFitGivesUpAfterFiveHundredStepsUnlessBothAxesSettle) {
  struct Case {
    float ratio_x, ratio_y;
    bool converges;
  };
  const float ratio = 1 + 1.0f / 1024;
  for (const Case& c : {Case{1, 1, true}, Case{ratio, 1, false}, Case{1, ratio, false}}) {
    FaceTemplate t(*base_);
    t.filtering_ = false;
    t.blendshapes_ = std::make_unique<Blendshapes>();
    for (vec3& v : t.model_mesh_->vertices) v.setZero();
    const Eigen::Vector3f at(0.125f, -0.0625f, 0.5f);
    t.raw_pose_ = Eigen::Translation3f(at);
    FaceData face;
    for (const auto& [a, v] : t.model_mesh_->matching) {
      if (static_cast<int>(face.landmarks.size()) <= a) face.landmarks.resize(a + 1);
      face.landmarks[a].world = {c.ratio_x * at.x(), c.ratio_y * at.y(), at.z()};
      face.landmarks[a].confidence_world = 100;
    }
    LandmarkData& unusable = face.landmarks[t.model_mesh_->matching.front().first];
    unusable.world[2] = std::nanf("");
    unusable.confidence_world = 99;
    t.adapt_scale_requested_ = true;

    el::Helpers::installLogDispatchCallback<LogCapture>("capture");
    LogCapture::lines().clear();
    t.Update(MakeFrame({{1, face}}), 1);
    el::Helpers::uninstallLogDispatchCallback<LogCapture>("capture");
    std::vector<std::string> lines;
    float reached_x = 0, reached_y = 0;
    for (const auto& line : LogCapture::lines()) {
      if (line.rfind("face template", 0) == 0 || line == "Reset Scale") lines.push_back(line);
      std::sscanf(line.c_str(), "Update scale: x  %f y %f", &reached_x, &reached_y);
    }
    SCOPED_TRACE(testing::Message() << c.ratio_x << " " << c.ratio_y);
    const auto expected =
        c.converges ? std::vector<std::string>{"face template scale converged at 0 iterations"}
                    : std::vector<std::string>{"face template scale not converged", "Reset Scale"};
    EXPECT_EQ(lines, expected);
    EXPECT_NEAR(reached_x, std::pow(c.ratio_x, 500), 1e-4);
    EXPECT_NEAR(reached_y, std::pow(c.ratio_y, 500), 1e-4);
    EXPECT_EQ(t.scale_, (std::array<float, 3>{1, 1, 1}));
  }
}

}  // namespace
}  // namespace vantisol
