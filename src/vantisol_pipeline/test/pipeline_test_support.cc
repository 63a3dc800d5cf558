#include "pipeline_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <opencv2/imgproc.hpp>

#include "camera/camera_realsense.h"
#include "opengl/locked_texture.h"
#include "pxc/simulation.h"
#include "test_support.h"
#include "watchdog.h"

namespace vantisol::test {

const char kTwoPeople[] =
    R"({"second_person_enter": 0, "second_person_leave": 60, "lose_face_at": 100,
        "rename_every": 100})";
const char kOnePerson[] =
    R"({"second_person_enter": 100, "second_person_leave": 101, "lose_face_at": 100,
        "rename_every": 100})";

std::vector<TrueFrame> CaptureAll(int count, int skip, const char* scenario) {
  auto frames = CaptureFrames(count, false, skip, scenario);
  EXPECT_EQ(frames.size(), size_t(count));
  if (frames.size() != size_t(count)) frames.clear();
  return frames;
}

std::vector<TrueFrame> CaptureFrames(int count, bool segmentation, int skip,
                                     const std::string& scenario) {
  ScopedScenario scoped(scenario);
  auto cameras = CameraRealSense::GetCameras();
  EXPECT_EQ(cameras.size(), 1u);
  if (cameras.empty()) return {};
  CameraRealSense& camera = *cameras[0];
  camera.EnableFaceTracking();
  camera.EnableDepthmap();
  camera.EnableSegmentation(true);
  if (!segmentation) camera.EnableSegmentation(false);
  auto internal = camera.internal_camera();
  internal->Device();
  auto* truth = static_cast<PXCSimulationTruth*>(
      internal->sense_manager()->QueryInstance(PXCSimulationTruth::CUID));
  EXPECT_NE(truth, nullptr);
  std::vector<TrueFrame> frames;
  for (int i = 0; i < skip + count; ++i) {
    auto frame = internal->Run();
    EXPECT_NE(frame, nullptr);
    if (!frame || i < skip) continue;
    TrueFrame captured{frame, {}, {}, {}};
    PXCSizeI32 size{0, 0};
    const uint8_t* mask = truth ? truth->QueryPersonMask(&size) : nullptr;
    if (mask != nullptr) {
      captured.person_mask.assign(mask, mask + size_t(size.width) * size.height);
      captured.mask_size = Size{size.width, size.height};
    }
    const int persons = truth ? truth->QueryNumberOfPersons() : 0;
    for (int p = 0; p < persons; ++p) {
      PXCSimulationTruth::Person person{};
      if (truth->QueryPerson(p, &person) >= PXC_STATUS_NO_ERROR) captured.persons.push_back(person);
    }
    frames.push_back(captured);
  }
  return frames;
}

SimulatedScenario::SimulatedScenario(const std::string& json)
    : scenario_(std::make_shared<ScopedScenario>(json)) {}

SimulatedScenario::~SimulatedScenario() = default;

std::shared_ptr<const ImageData> WithFaces(const ImageData& frame,
                                           const std::map<int, FaceData>& faces) {
  return std::make_shared<const ImageData>(frame.color, frame.segmentation, frame.depth,
                                           frame.mapped_depth, faces, frame.latency);
}

PipelineRig::PipelineRig(Size output_size, bool start) : output_size_(output_size) {
  pipeline = std::make_unique<VantisolPipeline>([this] {
    ++factory_calls;
    auto feed = std::make_unique<FeedCamera>();
    camera = feed.get();
    std::vector<std::unique_ptr<Camera>> cameras;
    cameras.push_back(std::move(feed));
    return cameras;
  });
  pipeline->output_signal_.connect(
      [this](std::shared_ptr<LockedTexture> texture, LatencyCalculator) {
        if (before_read) before_read(texture);
        Image image;
        {
          auto loan = texture->Lock();
          image = loan->Download(Image::Format::kRGB);
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          last_ = image;
          ++outputs_;
        }
        condition_.notify_all();
      });
  // The other stages are checked on the whole picture; the automatic camera's tests turn it on.
  pipeline->SetAutomaticCamera(false);
  if (start) Start();
}

PipelineRig::~PipelineRig() {
  test::Bounded("stopping the render thread", [this] { pipeline.reset(); });
}

void PipelineRig::Start() {
  pipeline->SetSharedContext();
  test::Bounded(
      "the render thread's start-up hand-shake", [this] { pipeline->InitializeOpenglContext(); },
      test::kStartLimit);
  pipeline->RunWithSize(output_size_, false);
}

Image PipelineRig::Process(std::shared_ptr<const ImageData> frame) {
  const int before = outputs();
  camera->frame_signal_(std::move(frame));
  std::unique_lock<std::mutex> lock(mutex_);
  const auto limit = std::chrono::seconds(30 * test::kTimeScale);
  const bool done = condition_.wait_for(lock, limit, [&] { return outputs_ > before; });
  EXPECT_TRUE(done) << "no output within " << limit.count() << " s";
  return done ? last_ : Image();
}

bool PipelineRig::WaitForOutputs(int count, double seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return condition_.wait_for(lock, std::chrono::duration<double>(seconds * test::kTimeScale),
                             [&] { return outputs_ >= count; });
}

int PipelineRig::outputs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return outputs_;
}

Image CpuRgb(const Image& yuy2) {
  Image rgb(yuy2.size, Image::Format::kRGB);
  const uint8_t* in = yuy2.data.get();
  uint8_t* out = rgb.data.get();
  const auto byte = [](float value) {
    return uint8_t(std::lround(std::clamp(value, 0.0f, 1.0f) * 255));
  };
  for (int y = 0; y < yuy2.size.height; ++y)
    for (int x = 0; x < yuy2.size.width; ++x) {
      const size_t pixel = size_t(y) * yuy2.size.width + x;
      const size_t pair = pixel - x % 2;
      const float Y = 1.1643f * (in[pixel * 2] / 255.0f - 0.0625f);
      const float u = in[pair * 2 + 1] / 255.0f - 0.5f, v = in[pair * 2 + 3] / 255.0f - 0.5f;
      out[pixel * 3] = byte(Y + 1.5958f * v);
      out[pixel * 3 + 1] = byte(Y - 0.39173f * u - 0.81290f * v);
      out[pixel * 3 + 2] = byte(Y + 2.017f * u);
    }
  return rgb;
}

Difference Compare(const Image& a, const Image& b, int tolerance,
                   const std::vector<uint8_t>* where) {
  Difference result;
  EXPECT_EQ(a.size, b.size);
  if (a.size != b.size) return result;
  const long pixels = long(a.size.width) * a.size.height;
  for (long i = 0; i < pixels; ++i) {
    if (where != nullptr && (*where)[i] == 0) continue;
    int worst = 0;
    for (int c = 0; c < 3; ++c)
      worst = std::max(worst, std::abs(a.data.get()[i * 3 + c] - b.data.get()[i * 3 + c]));
    result.max = std::max(result.max, worst);
    result.over += worst > tolerance ? 1 : 0;
  }
  return result;
}

std::vector<uint8_t> Eroded(const std::vector<uint8_t>& mask, Size size, int radius, bool invert) {
  cv::Mat in(size.height, size.width, CV_8UC1, const_cast<uint8_t*>(mask.data()));
  cv::Mat source = invert ? (in == 0) : (in != 0);
  cv::Mat out;
  cv::erode(source, out,
            cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * radius + 1, 2 * radius + 1)),
            cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::Scalar(0));
  return std::vector<uint8_t>(out.data, out.data + out.total());
}

}  // namespace vantisol::test
