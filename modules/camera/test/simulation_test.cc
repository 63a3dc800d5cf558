// The simulated runtime's frames agree with themselves and with their ground truth.
#include "pxc/simulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <vector>

#include "camera/camera_realsense.h"
#include "child_process.h"
#include "test_support.h"

namespace vantisol {
namespace {

class SimulationTest : public testing::Test {
 protected:
  void Open(const std::string& json = "{}") {
    camera_.reset();
    scenario_.reset();
    scenario_ = std::make_unique<test::ScopedScenario>(json);
    auto cameras = CameraRealSense::GetCameras();
    ASSERT_EQ(cameras.size(), 1u);
    camera_ = std::move(cameras[0]);
    camera_->EnableFaceTracking();
    camera_->EnableDepthmap();
    camera_->EnableDepthProjection();
    camera_->EnableSegmentation(true);
  }
  std::shared_ptr<const ImageData> Frame(int number) {
    auto internal = camera_->internal_camera();
    internal->Device();
    std::shared_ptr<const ImageData> frame;
    while (number-- >= 0) frame = internal->Run();
    return frame;
  }
  PXCSimulationTruth* Truth() {
    return static_cast<PXCSimulationTruth*>(
        camera_->internal_camera()->sense_manager()->QueryInstance(PXCSimulationTruth::CUID));
  }

  std::unique_ptr<test::ScopedScenario> scenario_;
  std::unique_ptr<CameraRealSense> camera_;
};

TEST_F(SimulationTest, LandmarksProjectOntoTheirImagePositions) {
  Open();
  auto frame = Frame(10);
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->faces.size(), 1u);
  const FaceData& face = frame->faces.begin()->second;
  EXPECT_FALSE(face.landmarks_invalid);
  ASSERT_GT(face.landmarks.size(), 20u);
  const auto& K = frame->color.calibration.K;
  for (const LandmarkData& l : face.landmarks) {
    // World positions are metres in the camera space of the frame (y down after the sign flip).
    const float u = K[0] * l.world[0] / l.world[2] + K[2];
    const float v = K[4] * l.world[1] / l.world[2] + K[5];
    EXPECT_NEAR(u, l.image[0], 0.5f);
    EXPECT_NEAR(v, l.image[1], 0.5f);
    EXPECT_GE(l.image[0], face.rect.x);
    EXPECT_LE(l.image[0], face.rect.x + face.rect.width);
  }
  EXPECT_NEAR(face.position[2] * 1000, face.average_depth, 120);
}

TEST_F(SimulationTest, MappedDepthAgreesWithTheFacesAverageDepth) {
  Open();
  auto frame = Frame(5);
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->faces.size(), 1u);
  const FaceData& face = frame->faces.begin()->second;
  ASSERT_GT(face.average_depth, 300);
  const auto* mapped = reinterpret_cast<const uint16_t*>(frame->mapped_depth.data.get());
  const int w = frame->mapped_depth.size.width;
  std::vector<uint16_t> values;
  // The box's central part is all face.
  const Rectangle& r = face.rect;
  for (int y = r.y + r.height / 3; y < r.y + 2 * r.height / 3; ++y)
    for (int x = r.x + r.width / 3; x < r.x + 2 * r.width / 3; ++x)
      if (mapped[y * w + x]) values.push_back(mapped[y * w + x]);
  ASSERT_GT(values.size(), 100u);
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  EXPECT_NEAR(values[values.size() / 2], face.average_depth, 40);
}

TEST_F(SimulationTest, SegmentationAlphaCoversThePerson) {
  Open();
  auto frame = Frame(3);
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->segmentation.format, Image::Format::kBGRA);
  PXCSizeI32 size{};
  const uint8_t* mask = Truth()->QueryPersonMask(&size);
  ASSERT_EQ(size.width, frame->segmentation.size.width);
  const size_t n = size_t(size.width) * size.height;
  size_t person = 0, agree = 0;
  for (size_t i = 0; i < n; ++i) {
    const bool alpha = frame->segmentation.data.get()[i * 4 + 3] == 255;
    person += mask[i] == 255;
    agree += alpha == (mask[i] == 255);
  }
  EXPECT_GT(person, n / 20);
  EXPECT_EQ(agree, n);
}

TEST_F(SimulationTest, DepthLooksLikeADepthCamera) {
  Open();
  auto frame = Frame(2);
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->depth.size, (Size{640, 480}));
  const auto* depth = reinterpret_cast<const uint16_t*>(frame->depth.data.get());
  int holes = 0, wall = 0;
  for (int i = 0; i < 640 * 480; ++i) {
    EXPECT_LE(depth[i], 3000);
    holes += depth[i] == 0;
    wall += depth[i] > 1950 && depth[i] < 2050;
  }
  EXPECT_GT(holes, 100);
  EXPECT_GT(wall, 10000);
  const Calibration& c = frame->depth.calibration;
  EXPECT_NE(c.k1, 0);
  EXPECT_NEAR(std::fabs(c.T[0]), 0.025f, 1e-6f);
}

TEST_F(SimulationTest, SameSeedSameFrames) {
  Open(R"({"seed": 4})");
  auto a = Frame(2);
  Open(R"({"seed": 4})");
  auto b = Frame(2);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const size_t bytes = size_t(a->color.size.width) * a->color.size.height * 2;
  EXPECT_EQ(std::memcmp(a->color.data.get(), b->color.data.get(), bytes), 0);
  EXPECT_EQ(std::memcmp(a->depth.data.get(), b->depth.data.get(), 640 * 480 * 2), 0);
}

TEST_F(SimulationTest, ColourGainChangesTheExposure) {
  Open();
  auto mean = [](const std::shared_ptr<const ImageData>& f) {
    double sum = 0;
    const size_t n = size_t(f->color.size.width) * f->color.size.height;
    for (size_t i = 0; i < n; ++i) sum += f->color.data.get()[i * 2];  // luma of YUY2
    return sum / n;
  };
  const double normal = mean(Frame(0));
  camera_->SetColorBrightness(120);  // SR300: gain
  const double bright = mean(Frame(0));
  EXPECT_GT(bright, normal * 1.2);
}

TEST_F(SimulationTest, TheScriptRenamesLosesAndAddsFaces) {
  Open(R"({"rename_every": 0.2, "lose_face_at": 0.3, "lose_face_frames": 2,
           "second_person_enter": -1, "second_person_leave": 2.5, "period": 3})");
  std::vector<int> counts;
  std::vector<int> first_ids;
  auto internal = camera_->internal_camera();
  internal->Device();
  for (int i = 0; i < 40; ++i) {
    auto frame = internal->Run();
    ASSERT_NE(frame, nullptr);
    counts.push_back(int(frame->faces.size()));
    if (!frame->faces.empty()) first_ids.push_back(frame->faces.begin()->first);
  }
  EXPECT_NE(std::find(counts.begin(), counts.end(), 2), counts.end());
  std::sort(first_ids.begin(), first_ids.end());
  first_ids.erase(std::unique(first_ids.begin(), first_ids.end()), first_ids.end());
  EXPECT_GE(first_ids.size(), 3u);  // renamed at least twice in 40 frames
}

// A consumer that falls behind (blur on a busy machine) is given the frame of now once it asks
// again, as a camera does: no frame after its stall is more than a frame older than the wall
// clock, or newer.
TEST_F(SimulationTest, AConsumerThatStallsGetsTheFrameOfNow) {
  test::ScopedScenario paced(R"({"paced": true})");
  test::ChildProcess consumer({VANTISOL_CAMERA_PROBE});
  ASSERT_TRUE(consumer.WaitFor("ready")) << consumer.output();
  consumer.Send("stall 2000");
  constexpr int64_t kFrame = 33334;  // microseconds, rounded up
  for (int i = 0; i < 5; ++i) {
    const std::string line = consumer.ReadLine();
    std::istringstream fields(line);
    std::string word;
    int64_t scene = 0, asked = 0, received = 0;
    ASSERT_TRUE(fields >> word >> scene >> asked >> received && word == "frame")
        << consumer.output();
    EXPECT_GE(scene + kFrame, asked) << line;
    EXPECT_LE(scene, received) << line;
  }
  EXPECT_EQ(consumer.Finish(), 0) << consumer.output();
}

}  // namespace
}  // namespace vantisol
