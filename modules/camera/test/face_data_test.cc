#include "camera/face_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "test_support.h"

namespace vantisol {
namespace {

struct FaceSpec {
  int id = 1;
  PXCRectI32 rect{10, 20, 30, 40};
  float depth = 612.8f;
  bool has_pose = true;
  pxcBool pose_answer = 1;
  PXCFaceData::PoseEulerAngles angles{10, 20, 30};
  PXCPoint3DF32 head{100, 50, 600};
  bool has_landmarks = true;
  std::vector<PXCFaceData::LandmarkPoint> points{{100, 100, {10, 20, 30}, {5.5f, 6.5f}}};
};

class FakeFace : public PXCFaceData::Face,
                 public PXCFaceData::DetectionData,
                 public PXCFaceData::PoseData,
                 public PXCFaceData::LandmarksData {
 public:
  explicit FakeFace(FaceSpec spec) : spec_(std::move(spec)) {}
  int32_t QueryUserID() override { return spec_.id; }
  DetectionData* QueryDetection() override { return this; }
  PoseData* QueryPose() override { return spec_.has_pose ? this : nullptr; }
  LandmarksData* QueryLandmarks() override { return spec_.has_landmarks ? this : nullptr; }
  pxcBool QueryBoundingRect(PXCRectI32* rect) override {
    *rect = spec_.rect;
    return 1;
  }
  pxcBool QueryFaceAverageDepth(float* depth) override {
    *depth = spec_.depth;
    return 1;
  }
  pxcBool QueryPoseAngles(PXCFaceData::PoseEulerAngles* angles) override {
    *angles = spec_.angles;
    return spec_.pose_answer;
  }
  pxcBool QueryHeadPosition(PXCFaceData::HeadPosition* position) override {
    position->headCenter = spec_.head;
    return 1;
  }
  int32_t QueryNumPoints() override { return int32_t(spec_.points.size()); }
  pxcBool QueryPoints(PXCFaceData::LandmarkPoint* points) override {
    std::copy(spec_.points.begin(), spec_.points.end(), points);
    return 1;
  }

 private:
  FaceSpec spec_;
};

class FakeFaceData : public PXCFaceData {
 public:
  explicit FakeFaceData(const std::vector<FaceSpec>& specs) {
    for (const auto& s : specs) faces_.push_back(std::make_unique<FakeFace>(s));
  }
  void* QueryInstance(pxcUID) override { return nullptr; }
  void Release() override { delete this; }
  pxcStatus Update() override { return PXC_STATUS_NO_ERROR; }
  int32_t QueryNumberOfDetectedFaces() override { return int32_t(faces_.size()); }
  Face* QueryFaceByIndex(int32_t i) override { return faces_[size_t(i)].get(); }

 private:
  std::vector<std::unique_ptr<FakeFace>> faces_;
};

class FakeFaceModule : public PXCFaceModule {
 public:
  explicit FakeFaceModule(std::vector<FaceSpec> specs) : specs_(std::move(specs)) {}
  void* QueryInstance(pxcUID) override { return nullptr; }
  void Release() override {}
  PXCFaceConfiguration* CreateActiveConfiguration() override { return nullptr; }
  PXCFaceData* CreateOutput() override { return new FakeFaceData(specs_); }

 private:
  std::vector<FaceSpec> specs_;
};

TEST(ProcessFace, NoModuleOrNoFacesGiveAnEmptyMap) {
  test::LogCapture log;
  EXPECT_TRUE(ProcessFace(nullptr, false).empty());
  EXPECT_EQ(log.Count("No face module!"), 1);
  FakeFaceModule none({});
  EXPECT_TRUE(ProcessFace(&none, false).empty());
}

TEST(ProcessFace, ConvertsUnitsAndSigns) {
  FakeFaceModule module({FaceSpec{}});
  auto faces = ProcessFace(&module, false);
  ASSERT_EQ(faces.size(), 1u);
  const FaceData& f = faces.at(1);
  EXPECT_EQ(f.rect.x, 10);
  EXPECT_EQ(f.rect.height, 40);
  EXPECT_EQ(f.average_depth, 612);
  EXPECT_FLOAT_EQ(f.position[0], 0.1f);
  EXPECT_FLOAT_EQ(f.position[1], -0.05f);
  EXPECT_FLOAT_EQ(f.position[2], 0.6f);
  // (yaw 10, pitch 20, roll 30) becomes (-pitch, yaw, -roll).
  EXPECT_FLOAT_EQ(f.angles[0], -20);
  EXPECT_FLOAT_EQ(f.angles[1], 10);
  EXPECT_FLOAT_EQ(f.angles[2], -30);
  ASSERT_EQ(f.landmarks.size(), 1u);
  EXPECT_FLOAT_EQ(f.landmarks[0].world[0], 10);
  EXPECT_FLOAT_EQ(f.landmarks[0].world[1], -20);
  EXPECT_FLOAT_EQ(f.landmarks[0].world[2], 30);
  EXPECT_FLOAT_EQ(f.landmarks[0].image[0], 5.5f);
  EXPECT_FLOAT_EQ(f.landmarks[0].image[1], 6.5f);
  EXPECT_FALSE(f.landmarks_invalid);
  EXPECT_FALSE(f.not_seen);
}

TEST(ProcessFace, MarksUnreliableLandmarks) {
  FaceSpec partly;
  partly.points = {{99, 100, {}, {}}, {100, 99, {}, {}}};
  FaceSpec bad_pose;
  bad_pose.id = 2;
  bad_pose.pose_answer = 0;
  FaceSpec no_pose;
  no_pose.id = 3;
  no_pose.has_pose = false;
  FaceSpec no_landmarks;
  no_landmarks.id = 4;
  no_landmarks.has_landmarks = false;
  FaceSpec one_good;
  one_good.id = 5;
  one_good.points = {{40, 40, {}, {}}, {100, 100, {}, {}}};
  FakeFaceModule module({partly, bad_pose, no_pose, no_landmarks, one_good});
  auto faces = ProcessFace(&module, false);
  ASSERT_EQ(faces.size(), 5u);
  EXPECT_TRUE(faces[1].landmarks_invalid);
  EXPECT_TRUE(faces[2].landmarks_invalid);
  EXPECT_TRUE(faces[3].landmarks_invalid);
  EXPECT_FLOAT_EQ(faces[3].position[2], 0);
  EXPECT_TRUE(faces[4].landmarks_invalid);
  EXPECT_FALSE(faces[5].landmarks_invalid);
}

// The runtime answers with an integer: only 1 means a valid pose, not any other non-zero value.
TEST(ProcessFace, PoseIsValidOnlyWhenTheRuntimeAnswersOne) {
  for (const auto& [answer, valid] :
       {std::pair{1, true}, std::pair{0, false}, std::pair{2, false}, std::pair{-1, false}}) {
    FaceSpec spec;
    spec.pose_answer = answer;
    FakeFaceModule module({spec});
    EXPECT_EQ(ProcessFace(&module, false).at(1).landmarks_invalid, !valid) << answer;
  }
}

TEST(ProcessFace, SingleUserKeepsTheRuntimesFirstFace) {
  FaceSpec first;
  first.id = 9;
  FaceSpec second;
  second.id = 2;
  FakeFaceModule module({first, second});
  auto faces = ProcessFace(&module, true);
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_TRUE(faces.count(9));
  EXPECT_EQ(ProcessFace(&module, false).size(), 2u);
}

TEST(ProcessFace, ALaterFaceWithTheSameIdReplacesTheFirst) {
  FaceSpec a;
  FaceSpec b;
  b.rect.x = 77;
  FakeFaceModule module({a, b});
  auto faces = ProcessFace(&module, false);
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_EQ(faces[1].rect.x, 77);
}

}  // namespace
}  // namespace vantisol
