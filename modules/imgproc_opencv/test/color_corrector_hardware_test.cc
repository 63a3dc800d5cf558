// The brightness controller: its step, its clamp, its rate limit, its closed loop, and a camera
// whose brightness cannot be read.
#include "imgproc_opencv/color_corrector_hardware.h"

#include <gtest/gtest.h>

#include <cmath>

#include "camera/camera_realsense.h"
#include "imgproc_opencv/image_conversions.h"
#include "null_camera.h"
#include "pxc/simulation.h"
#include "test_support.h"

namespace vantisol {
namespace {

constexpr int64_t kSecond = 1000000000;

// A camera that only has a brightness setting; every write is recorded.
class FakeCamera : public test::NullCamera {
 public:
  FakeCamera(float gain, int64_t interval, float min, float max, float current)
      : gain_(gain), interval_(interval), min_(min), max_(max), current_(current) {}

  void SetColorBrightness(float value) override {
    writes.push_back(value);
    current_ = value;
  }
  float ColorBrightness() override { return current_; }
  void GetColorBrightnessRange(float* min, float* max) override {
    *min = min_;
    *max = max_;
  }
  float BrightnessControlGain() override { return gain_; }
  int64_t BrightnessControlInterval() override { return interval_; }

  std::vector<float> writes;

 private:
  float gain_;
  int64_t interval_;
  float min_, max_, current_;
};

FakeCamera Sr300(float current) { return FakeCamera(0.05f, 250000000, 0, 128, current); }

// A 2-channel (YUY2-like) picture: Y = luma everywhere, chroma at 255 to catch a wrong channel.
cv::Mat Picture(int luma, cv::Size size = {200, 100}) {
  cv::Mat y(size, CV_8UC1, cv::Scalar(luma)), uv(size, CV_8UC1, cv::Scalar(255)), picture;
  cv::merge(std::vector<cv::Mat>{y, uv}, picture);
  return picture;
}

const std::vector<Rectangle> kFace = {{50, 20, 40, 40}};

// A dark face raises the setting, a bright one lowers it, each by (90 - mean) × gain.
TEST(ColorCorrectorHardware, ReadsTheCameraAndStepsProportionally) {
  for (const auto& [face, written] : {std::pair{70, 51.0f}, std::pair{130, 48.0f}}) {
    FakeCamera camera = Sr300(50);
    ColorCorrectorHardware corrector(&camera, 90);
    ASSERT_TRUE(corrector.active());
    corrector.Update(Picture(face), cv::Mat(), kFace, 0, -1);
    ASSERT_EQ(camera.writes.size(), 1u) << face;
    EXPECT_FLOAT_EQ(camera.writes[0], written) << face;
  }
}

TEST(ColorCorrectorHardware, ClampsIntoTheRange) {
  FakeCamera bright(0.25f, 2500000000, -64, 64, 60);
  ColorCorrectorHardware up(&bright, 90);
  up.NewAverage(0);  // 60 + 22.5
  up.NewAverage(89);
  ASSERT_EQ(bright.writes.size(), 2u);
  EXPECT_FLOAT_EQ(bright.writes[0], 64);
  EXPECT_FLOAT_EQ(bright.writes[1], 64);  // 64 + 0.25, clamped again
  FakeCamera dark(0.25f, 2500000000, -64, 64, -60);
  ColorCorrectorHardware down(&dark, 90);
  down.NewAverage(255);
  EXPECT_FLOAT_EQ(dark.writes.at(0), -64);
}

TEST(ColorCorrectorHardware, AdjustsAtMostOncePerInterval) {
  FakeCamera camera = Sr300(50);
  ColorCorrectorHardware corrector(&camera, 90);
  const int64_t start = 3 * kSecond;
  corrector.Update(Picture(70), cv::Mat(), kFace, start, -1);
  corrector.Update(Picture(70), cv::Mat(), kFace, start + kSecond / 10, -1);
  corrector.Update(Picture(70), cv::Mat(), kFace, start + 250000000 - 1, -1);
  EXPECT_EQ(camera.writes.size(), 1u);
  corrector.Update(Picture(70), cv::Mat(), kFace, start + 250000000, -1);
  EXPECT_EQ(camera.writes.size(), 2u);
}

TEST(ColorCorrectorHardware, FramesWithoutFacesNeitherCallTheCameraNorRestartTheClock) {
  FakeCamera camera = Sr300(50);
  ColorCorrectorHardware corrector(&camera, 90);
  corrector.Update(Picture(70), cv::Mat(), {}, 0, -1);
  EXPECT_TRUE(camera.writes.empty());
  corrector.Update(Picture(70), cv::Mat(), kFace, 0, -1);
  corrector.Update(Picture(70), cv::Mat(), {}, 200000000, -1);
  // Outside the picture: measured nothing, so it counts as no face.
  corrector.Update(Picture(70), cv::Mat(), {{500, 500, 10, 10}}, 200000000, -1);
  // 0.3 s after the last adjustment: due, although the face-less frames came 0.1 s before.
  corrector.Update(Picture(70), cv::Mat(), kFace, 300000000, -1);
  EXPECT_EQ(camera.writes.size(), 2u);
}

TEST(ColorCorrectorHardware, AveragesThePerFaceMeansOverTheMask) {
  // Face A 10 × 10 at 50, face B 20 × 20 at 90: the mean of the means is 70 (pixels would give 82).
  cv::Mat y(100, 200, CV_8UC1, cv::Scalar(0)), uv(100, 200, CV_8UC1, cv::Scalar(255)), picture;
  y(cv::Rect(0, 0, 10, 10)).setTo(50);
  y(cv::Rect(100, 0, 20, 20)).setTo(90);
  cv::merge(std::vector<cv::Mat>{y, uv}, picture);
  {
    FakeCamera camera = Sr300(50);
    ColorCorrectorHardware corrector(&camera, 90);
    corrector.Update(picture, cv::Mat(), {{0, 0, 10, 10}, {100, 0, 20, 20}}, 0, -1);
    EXPECT_FLOAT_EQ(camera.writes.at(0), 51);
  }
  {
    // A mask over face B's left half, where Y is 30: only those pixels count for B.
    y(cv::Rect(100, 0, 10, 20)).setTo(30);
    cv::merge(std::vector<cv::Mat>{y, uv}, picture);
    cv::Mat mask(100, 200, CV_8UC1, cv::Scalar(0));
    mask(cv::Rect(100, 0, 10, 20)).setTo(255);
    FakeCamera camera = Sr300(50);
    ColorCorrectorHardware corrector(&camera, 90);
    // Face A has no mask pixel: all its pixels count (50); B's masked mean is 30: average 40.
    corrector.Update(picture, mask, {{0, 0, 10, 10}, {100, 0, 20, 20}}, 0, 100);
    EXPECT_FLOAT_EQ(camera.writes.at(0), 50 + (100 - 40) * 0.05f);
  }
}

TEST(ColorCorrectorHardware, ConvergesTowardTheTargetDuringALightDipWithoutOvershoot) {
  // The faces' brightness follows light × setting; the light dips to 45 % for 4 s.
  FakeCamera camera(0.25f, 250000000, 0, 255, 64);
  ColorCorrectorHardware corrector(&camera, 90);
  auto light = [](double t) { return (t > 2 && t < 6) ? 0.45 : 1.0; };
  const double k = 90.0 / 64;  // the face is on target before the dip
  std::vector<double> during;
  for (int frame = 0; frame < 30 * 8; ++frame) {
    const double t = frame / 30.0;
    const int luma = int(std::lround(std::min(255.0, light(t) * k * camera.ColorBrightness())));
    corrector.Update(Picture(luma), cv::Mat(), kFace, int64_t(t * kSecond), -1);
    if (t > 2 && t < 6) during.push_back(luma);
  }
  // At most one write per interval over 8 s.
  EXPECT_LE(camera.writes.size(), 33u);
  // In the dip the face brightens monotonically toward 90 and never crosses it.
  for (size_t i = 1; i < during.size(); ++i) {
    EXPECT_GE(during[i], during[i - 1] - 1) << i;
    EXPECT_LE(during[i], 91) << i;
  }
  EXPECT_LT(during.front(), 45);
  EXPECT_GT(during.back(), 85);
}

TEST(ColorCorrectorHardware, AnUnreadableCameraIsNeverDriven) {
  for (const auto& [min, max, current] : std::vector<std::tuple<float, float, float>>{
           {32767, 32767, 50}, {0, 128, 32767}, {10, 10, 10}}) {
    FakeCamera camera(0.05f, 250000000, min, max, current);
    ColorCorrectorHardware corrector(&camera, 90);
    EXPECT_FALSE(corrector.active());
    corrector.Update(Picture(20), cv::Mat(), kFace, 0, -1);
    corrector.NewAverage(20);
    EXPECT_TRUE(camera.writes.empty());
  }
}

// The simulated runtime end to end: the corrector drives a real camera object.
class SimulatedCameraTest : public testing::Test {
 protected:
  void Open(const std::string& json) {
    scenario_ = std::make_unique<test::ScopedScenario>(json);
    auto cameras = CameraRealSense::GetCameras();
    ASSERT_EQ(cameras.size(), 1u);
    camera_ = std::move(cameras[0]);
    camera_->EnableFaceTracking();
    camera_->SetColorResolution({640, 480});  // the smallest picture keeps the runs short
    camera_->internal_camera()->Device();
  }
  std::shared_ptr<const ImageData> Next() { return camera_->internal_camera()->Run(); }
  static std::vector<Rectangle> Boxes(const ImageData& frame) {
    std::vector<Rectangle> boxes;
    for (const auto& [id, face] : frame.faces) boxes.push_back(face.rect);
    return boxes;
  }

  std::unique_ptr<test::ScopedScenario> scenario_;
  std::unique_ptr<CameraRealSense> camera_;
};

TEST_F(SimulatedCameraTest, FailingPropertyQueriesNeverWrite32767) {
  ASSERT_NO_FATAL_FAILURE(Open(R"({"fail_property_queries": true})"));
  test::LogCapture log;
  ColorCorrectorHardware corrector(camera_.get(), 90);
  EXPECT_FALSE(corrector.active());
  int with_faces = 0;
  for (int i = 0; i < 30; ++i) {
    auto frame = Next();
    ASSERT_NE(frame, nullptr);
    with_faces += !frame->faces.empty();
    corrector.Update(AsCv(frame->color), cv::Mat(), Boxes(*frame), frame->color.time_stamp, -1);
  }
  EXPECT_GT(with_faces, 0);
  for (const std::string& line : log.lines())
    EXPECT_EQ(line.find("SetColorBrightness"), std::string::npos) << line;
}

TEST_F(SimulatedCameraTest, FollowsTheLightDipTowardTheTargetWithoutOscillating) {
  // The light falls to 45 % from 0.5 s to 5.5 s (ramps of 1.5 s at both ends); SR300: colour
  // gain, adjusted at most every 0.25 s. One person, no scripted losses or renames meanwhile.
  ASSERT_NO_FATAL_FAILURE(Open(R"({"dim_start": 0.5, "dim_end": 5.5, "period": 100,
                                   "lose_face_at": 90, "second_person_enter": 90,
                                   "rename_every": 90, "close_at": 95})"));
  ColorCorrectorHardware corrector(camera_.get(), 90);
  ASSERT_TRUE(corrector.active());
  struct Sample {
    int64_t time;
    float gain;
    double face;  // the faces' mean Y where the corrector measures
  };
  std::vector<Sample> samples;
  std::vector<int64_t> changes;
  for (int i = 0; i < 30 * 4; ++i) {
    auto frame = Next();
    ASSERT_NE(frame, nullptr);
    const cv::Mat color = AsCv(frame->color);
    std::vector<Rectangle> boxes;
    for (const Rectangle& r : Boxes(*frame))
      boxes.push_back({r.x + r.width / 3, r.y, r.width / 3, r.height});
    ASSERT_EQ(boxes.size(), 1u) << "frame " << i;
    const float before = corrector.current();
    corrector.Update(color, cv::Mat(), boxes, frame->color.time_stamp, -1);
    if (corrector.current() != before) changes.push_back(frame->color.time_stamp);
    const Rectangle& r = boxes[0];
    samples.push_back({frame->color.time_stamp, corrector.current(),
                       cv::mean(color(cv::Rect(r.x, r.y, r.width, r.height)))[0]});
  }
  for (size_t i = 1; i < changes.size(); ++i) EXPECT_GE(changes[i] - changes[i - 1], 250000000);
  // Before the dip the face is brighter than 90: the gain only goes down.
  ASSERT_GT(samples[0].face, 90);
  for (int i = 1; i < 15; ++i) EXPECT_LE(samples[i].gain, samples[i - 1].gain) << i;
  // In the dip's dark part (2 s to 4 s) the face is darker than 90: the gain only goes up, and
  // the face brightens toward 90 without passing it.
  for (int i = 61; i < 120; ++i) {
    EXPECT_GE(samples[i].gain, samples[i - 1].gain) << i;
    EXPECT_LT(samples[i].face, 90) << i;
  }
  EXPECT_GT(samples[119].face, samples[60].face + 2);
  EXPECT_GT(samples[119].gain, samples[60].gain + 5);
}

}  // namespace
}  // namespace vantisol
