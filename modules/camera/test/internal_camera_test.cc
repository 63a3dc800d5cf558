#include "camera/internal_camera.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>

#include "camera/camera_realsense.h"
#include "test_support.h"

namespace vantisol {
namespace {

class FakeVideoModule : public PXCVideoModule {
 public:
  explicit FakeVideoModule(std::vector<DataDesc> descriptions)
      : descriptions_(std::move(descriptions)) {}
  void* QueryInstance(pxcUID cuid) override { return cuid == CUID ? this : nullptr; }
  void Release() override {}
  pxcStatus QueryCaptureProfile(int32_t index, DataDesc* desc) override {
    if (index >= int32_t(descriptions_.size())) return PXC_STATUS_ITEM_UNAVAILABLE;
    *desc = descriptions_[size_t(index)];
    return PXC_STATUS_NO_ERROR;
  }

 private:
  std::vector<DataDesc> descriptions_;
};

class FakeCalibration : public PXCCalibration {
 public:
  void* QueryInstance(pxcUID) override { return nullptr; }
  void Release() override {}
  pxcStatus QueryStreamProjectionParameters(PXCCapture::StreamType, StreamCalibration* c,
                                            StreamTransformation* t) override {
    *c = {{600, 601}, {320, 240}, {0.1f, 0.2f, 0.3f}, {0.01f, 0.02f}};
    *t = {{25, -5, 1}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    return PXC_STATUS_NO_ERROR;
  }
};

ResolutionProfile Profile() {
  ResolutionProfile p;
  p.color = {{1920, 1080}, {640, 480}, {1280, 720}};
  p.depth = {{640, 480}};
  return p;
}

TEST(RestrictResolutions, KeepsTheSizesSomeDescriptionAllows) {
  ResolutionProfile profile = Profile();
  FakeVideoModule module(
      std::vector<PXCVideoModule::DataDesc>{{{{0, 0}, {1280, 720}}, {{0, 0}, {0, 0}}}});
  InternalCamera::RestrictResolutions(&profile, &module);
  ASSERT_EQ(profile.color.size(), 2u);
  EXPECT_EQ(*profile.color.rbegin(), (Size{1280, 720}));
  EXPECT_EQ(profile.depth.size(), 1u);

  profile = Profile();
  FakeVideoModule two({{{{700, 500}, {1280, 720}}, {{0, 0}, {320, 240}}},
                       {{{1900, 1000}, {0, 0}}, {{0, 0}, {320, 240}}}});
  InternalCamera::RestrictResolutions(&profile, &two);
  EXPECT_EQ(std::vector<Size>(profile.color.begin(), profile.color.end()),
            (std::vector<Size>{{1280, 720}, {1920, 1080}}));
  EXPECT_TRUE(profile.depth.empty());

  profile = Profile();
  InternalCamera::RestrictResolutions(&profile, nullptr);
  EXPECT_EQ(profile.color.size(), 3u);
}

TEST(GetImage, CopiesRowByRowWhenThePitchIsWider) {
  test::FakeImage image(4, 2, PXCImage::PIXEL_FORMAT_YUY2, 12, 5000);
  for (size_t i = 0; i < image.pixels().size(); ++i) image.pixels()[i] = uint8_t(i);
  FakeCalibration calibration;
  const CameraImage out =
      GetImage(&image, 1000, PXCCapture::STREAM_TYPE_COLOR, &calibration, false);
  ASSERT_EQ(out.format, Image::Format::kYUY2);
  EXPECT_EQ(out.size, (Size{4, 2}));
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(out.data.get()[i], i);
    EXPECT_EQ(out.data.get()[8 + i], 12 + i);
  }
  EXPECT_EQ(out.time_stamp, 400000);
  EXPECT_FLOAT_EQ(out.calibration.T[0], 0.025f);
  EXPECT_FLOAT_EQ(out.calibration.T[1], -0.005f);
  EXPECT_EQ(out.calibration.K, (std::array<float, 9>{600, 0, 320, 0, 601, 240, 0, 0, 1}));
  EXPECT_FLOAT_EQ(out.calibration.k3, 0.3f);
  EXPECT_FLOAT_EQ(out.calibration.p2, 0.02f);
}

TEST(GetImage, MapsFormatsAndRefusesOthers) {
  FakeCalibration calibration;
  test::FakeImage depth(2, 2, PXCImage::PIXEL_FORMAT_DEPTH_RAW, 4, 0);
  EXPECT_EQ(GetImage(&depth, 0, PXCCapture::STREAM_TYPE_DEPTH, &calibration, false).format,
            Image::Format::kGray16);
  test::FakeImage rgb32(2, 2, PXCImage::PIXEL_FORMAT_RGB32, 8, 0);
  EXPECT_EQ(GetImage(&rgb32, 0, PXCCapture::STREAM_TYPE_COLOR, &calibration, false).format,
            Image::Format::kBGRA);
  test::LogCapture log;
  test::FakeImage nv12(2, 2, PXCImage::PIXEL_FORMAT_NV12, 2, 0);
  EXPECT_FALSE(GetImage(&nv12, 0, PXCCapture::STREAM_TYPE_COLOR, &calibration, false).valid());
  EXPECT_EQ(log.Count("Cannot handle pixel format NV12"), 1);
}

// One capture step on an opened device, as the capture thread does it after Start.
std::shared_ptr<const ImageData> Step(InternalCamera& camera) {
  camera.Device();
  return camera.Run();
}

class InternalCameraTest : public testing::Test {
 protected:
  std::unique_ptr<CameraRealSense> First() {
    auto cameras = CameraRealSense::GetCameras();
    return cameras.empty() ? nullptr : std::move(cameras[0]);
  }
};

TEST_F(InternalCameraTest, OpensAtTheLargestSizeTheFaceModuleAllows) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  auto internal = camera->internal_camera();
  EXPECT_EQ(internal->ColorResolution(false), (Size{1920, 1080}));
  internal->EnableFaceTracking();
  EXPECT_EQ(internal->ColorResolutions(false),
            (std::vector<Size>{{640, 480}, {960, 540}, {1280, 720}}));
  EXPECT_EQ(internal->ColorResolution(false), (Size{1280, 720}));
  EXPECT_EQ(internal->DepthmapResolution(false), (Size{640, 480}));
  auto frame = Step(*internal);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->color.size, (Size{1280, 720}));
  EXPECT_EQ(frame->color.format, Image::Format::kYUY2);
  EXPECT_FALSE(frame->depth.valid());
}

TEST_F(InternalCameraTest, DepthOpensAtTheLargestModeTheCameraOffers) {
  // Modes listed out of order; the lens is the same at every size.
  test::ScopedScenario scenario(R"({"depth_sizes": [[320, 240], [640, 480], [480, 360]]})");
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  auto internal = camera->internal_camera();
  internal->EnableFaceTracking();
  internal->EnableDepthmap();
  EXPECT_EQ(internal->DepthmapResolutions(false),
            (std::vector<Size>{{320, 240}, {480, 360}, {640, 480}}));
  EXPECT_EQ(internal->DepthmapResolution(false), (Size{640, 480}));
  auto frame = Step(*internal);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->depth.size, (Size{640, 480}));
  EXPECT_NEAR(frame->depth.calibration.K[0], 476.2f, 0.01f);
  // A chosen mode is what the frames then carry, at that mode's focal length.
  internal->SetDepthmapResolution({320, 240});
  EXPECT_EQ(internal->DepthmapResolution(false), (Size{320, 240}));
  frame = Step(*internal);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->depth.size, (Size{320, 240}));
  EXPECT_NEAR(frame->depth.calibration.K[0], 238.1f, 0.01f);
}

TEST_F(InternalCameraTest, AnEmptyProfileOpensAtZeroSize) {
  test::ScopedScenario scenario;
  InternalCamera camera(true, ResolutionProfile{});
  EXPECT_EQ(camera.ColorResolution(false), (Size{0, 0}));
  EXPECT_TRUE(camera.ColorResolutions(false).empty());
}

TEST_F(InternalCameraTest, EnablingAnOutputOrANewSizeClosesTheDevice) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  auto internal = camera->internal_camera();
  ASSERT_NE(internal->Device(), nullptr);
  internal->EnableDepthmap();
  EXPECT_FALSE(internal->device_open());
  internal->Device();
  internal->EnableDepthmap();  // already on
  EXPECT_TRUE(internal->device_open());
  internal->EnableFaceTracking();
  EXPECT_FALSE(internal->device_open());
  internal->Device();
  internal->EnableDepthProjection(true);  // depth already on: only the flag
  EXPECT_TRUE(internal->device_open());
  internal->SetColorResolution({640, 480});
  EXPECT_FALSE(internal->device_open());
  internal->Device();
  internal->SetColorResolution({640, 480});
  EXPECT_TRUE(internal->device_open());
  internal->EnableSegmentation(true);
  EXPECT_FALSE(internal->device_open());
  auto frame = Step(*internal);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->color.size, (Size{640, 480}));
  EXPECT_EQ(frame->segmentation.format, Image::Format::kBGRA);
  EXPECT_EQ(frame->mapped_depth.size, (Size{640, 480}));
  EXPECT_EQ(frame->depth.size, (Size{640, 480}));
}

TEST_F(InternalCameraTest, PausingSegmentationBeforeEnablingItOnlyRecordsThePause) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  auto internal = camera->internal_camera();
  internal->Device();
  internal->EnableSegmentation(false);
  EXPECT_TRUE(internal->segmentation_paused());
  EXPECT_FALSE(internal->segmentation_on());
  EXPECT_TRUE(internal->device_open());
  // Enabled and paused at once, as the pipeline does: no segmentation picture.
  internal->EnableSegmentation(true);
  internal->EnableSegmentation(false);
  auto frame = Step(*internal);
  ASSERT_NE(frame, nullptr);
  EXPECT_FALSE(frame->segmentation.valid());
  internal->EnableSegmentation(true);
  frame = Step(*internal);
  EXPECT_EQ(frame->segmentation.format, Image::Format::kBGRA);
}

TEST_F(InternalCameraTest, TheFirstFrameDefinesTimeZero) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  auto internal = camera->internal_camera();
  auto first = Step(*internal);
  auto second = Step(*internal);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->color.time_stamp, 0);
  EXPECT_EQ(second->color.time_stamp, 33333300);

  internal->EnableDepthmap();  // closes: time starts again, now from the earlier depth
  first = Step(*internal);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->depth.time_stamp, 0);
  EXPECT_GT(first->color.time_stamp, 0);
}

TEST_F(InternalCameraTest, PausedLiveCameraRepeatsTheLastFrame) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  auto internal = camera->internal_camera();
  internal->set_paused(true);
  auto first = Step(*internal);  // no last frame yet: built
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Step(*internal), first);
  internal->CloseDevice();
  auto fresh = Step(*internal);
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, first);
  internal->set_paused(false);
  EXPECT_NE(Step(*internal), fresh);
}

TEST_F(InternalCameraTest, EndOfLiveFramesStopsTheLoop) {
  test::ScopedScenario scenario(R"({"frames": 2})");
  test::LogCapture log;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  auto internal = camera->internal_camera();
  EXPECT_NE(Step(*internal), nullptr);
  EXPECT_NE(Step(*internal), nullptr);
  EXPECT_EQ(Step(*internal), nullptr);
  EXPECT_EQ(log.Count("Stopping loop because of error: -3"), 1);
}

TEST_F(InternalCameraTest, ColourPitchWiderThanTheRowIsCopiedWithoutThePadding) {
  test::ScopedScenario padded(R"({"color_pitch_padding": 64})");
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  auto a = Step(*camera->internal_camera());
  test::ScopedScenario plain;
  auto reference = First();
  ASSERT_NE(reference, nullptr);
  auto b = Step(*reference->internal_camera());
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const size_t bytes = size_t(a->color.size.width) * a->color.size.height * 2;
  EXPECT_EQ(std::memcmp(a->color.data.get(), b->color.data.get(), bytes), 0);
}

std::vector<uint8_t> Colour(const ImageData& frame) {
  const uint8_t* p = frame.color.data.get();
  return std::vector<uint8_t>(p, p + size_t(frame.color.size.width) * frame.color.size.height * 2);
}

TEST_F(InternalCameraTest, RecordsAndPlaysBack) {
  test::ScopedScenario scenario;
  test::TemporaryFolder folder;
  std::vector<std::vector<uint8_t>> recorded;
  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(folder.str().c_str()), 0);
  {
    auto camera = First();
    ASSERT_NE(camera, nullptr);
    auto internal = camera->internal_camera();
    internal->EnableDepthmap();
    internal->SetSimulationMode(Camera::SimulationMode::Recording);
    for (int i = 0; i < 3; ++i) {
      auto frame = Step(*internal);
      ASSERT_NE(frame, nullptr);
      recorded.push_back(Colour(*frame));
    }
    internal->CloseDevice();
  }
  ASSERT_EQ(chdir(previous), 0);
  const std::string file = folder.str() + "/recording.rssdk";

  CameraRealSense player(file);
  {
    auto internal = player.internal_camera();
    internal->EnableDepthmap();
    internal->SetSimulationMode(Camera::SimulationMode::FrameByFrame);
    EXPECT_EQ(internal->TotalFrames(), 3);
    auto first = Step(*internal);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Colour(*first), recorded[0]);
    EXPECT_EQ(first->depth.size, (Size{640, 480}));
    EXPECT_EQ(internal->current_frame(), 1);
    auto second = Step(*internal);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Colour(*second), recorded[1]);
    test::LogCapture log;
    EXPECT_EQ(Step(*internal), nullptr);
    EXPECT_EQ(log.Count("This was the last frame, closing..."), 1);
    internal->SetCurrentFrame(7);  // clamped without looping
    EXPECT_EQ(internal->current_frame(), 2);
    internal->set_loop(true);
    internal->SetCurrentFrame(7);
    EXPECT_EQ(internal->current_frame(), 1);
  }

  // Looping real-time playback goes round and its clock runs on.
  CameraRealSense looping(file);
  auto internal = looping.internal_camera();
  internal->set_loop(true);
  std::vector<int64_t> stamps;
  for (int i = 0; i < 5; ++i) {
    auto frame = Step(*internal);
    ASSERT_NE(frame, nullptr);
    stamps.push_back(frame->color.time_stamp);
  }
  for (size_t i = 1; i < stamps.size(); ++i) EXPECT_GT(stamps[i], stamps[i - 1]);
  EXPECT_GE(stamps[3] - stamps[2], 1000000000);

  CameraRealSense ended(file);
  auto once = ended.internal_camera();
  for (int i = 0; i < 3; ++i) EXPECT_NE(Step(*once), nullptr);
  test::LogCapture log;
  EXPECT_EQ(Step(*once), nullptr);
  EXPECT_EQ(log.Count("No more frames... closing"), 1);
}

TEST_F(InternalCameraTest, PlaybackOfAMissingFileIsAFailedCheck) {
  test::ScopedScenario scenario;
  test::LogCapture log;
  CameraRealSense player("/nonexistent/recording.rssdk");
  auto internal = player.internal_camera();
  EXPECT_THROW(internal->SetCurrentFrame(3), std::runtime_error);
  EXPECT_EQ(internal->current_frame(), 0);
  bool failed = false;
  for (const auto& line : log.lines()) failed |= line.find("SetFileName(") != std::string::npos;
  EXPECT_TRUE(failed);
}

// Each limit of a description on its own, at the size and one pixel past it; a maximum of 0 on
// one axis bounds only the other.
TEST(RestrictResolutions, LimitsAreInclusiveOnEachAxis) {
  struct Case {
    PXCSizeI32 min, max;
    bool kept;
  };
  for (const Case& c : {Case{{1280, 720}, {1280, 720}, true}, Case{{1281, 0}, {0, 0}, false},
                        Case{{0, 721}, {0, 0}, false}, Case{{0, 0}, {1279, 0}, false},
                        Case{{0, 0}, {0, 719}, false}, Case{{0, 0}, {0, 720}, true},
                        Case{{0, 0}, {1280, 0}, true}}) {
    ResolutionProfile profile;
    profile.color = {{1280, 720}};
    FakeVideoModule module(
        std::vector<PXCVideoModule::DataDesc>{{{c.min, c.max}, {{0, 0}, {0, 0}}}});
    InternalCamera::RestrictResolutions(&profile, &module);
    EXPECT_EQ(profile.color.size(), c.kept ? 1u : 0u)
        << "min " << c.min.width << "x" << c.min.height << " max " << c.max.width << "x"
        << c.max.height;
  }
}

}  // namespace
}  // namespace vantisol
