#pragma once

// Frames of the simulated camera with their ground truth, a camera that the test feeds by hand,
// and a running pipeline around it.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "null_camera.h"
#include "pxc/simulation.h"
#include "utils/camera_image.h"
#include "vantisol_pipeline/vantisol_pipeline.h"

namespace vantisol::test {

// One captured frame and what the simulation knows about it.
struct TrueFrame {
  std::shared_ptr<const ImageData> frame;
  std::vector<uint8_t> person_mask;  // colour size, 255 where a person is seen
  Size mask_size;
  std::vector<PXCSimulationTruth::Person> persons;  // every person in the picture
};

// Captures `count` consecutive frames of the simulated camera (unpaced), every `step`-th kept,
// with the camera's segmentation on when `segmentation`.
std::vector<TrueFrame> CaptureFrames(int count, bool segmentation, int skip = 0,
                                     const std::string& scenario = "{}");

// One person, then a second one walking in from the right at 1.15 m and leaving after 60 s; and
// one person alone. No lost or renamed faces in either.
extern const char kTwoPeople[];
extern const char kOnePerson[];

// `count` frames after `skip` of a scenario, all of them or none (a failed expectation then).
std::vector<TrueFrame> CaptureAll(int count, int skip, const char* scenario);

// Points the simulated runtime at a scenario (unpaced unless it says so) while it lives.
class SimulatedScenario {
 public:
  explicit SimulatedScenario(const std::string& json);
  ~SimulatedScenario();

 private:
  std::shared_ptr<void> scenario_;
};

// A frame sharing `frame`'s pictures with other faces.
std::shared_ptr<const ImageData> WithFaces(const ImageData& frame,
                                           const std::map<int, FaceData>& faces);

// A camera that delivers only what the test emits on frame_signal_, and counts what it is asked.
class FeedCamera : public test::NullCamera {
 public:
  void Start() override { ++starts; }
  void Stop() override { ++stops; }
  void Reset() override { ++resets; }
  Size ColorResolution() override { return {1280, 720}; }
  std::vector<Size> ColorResolutions() override { return {{1280, 720}}; }
  Size DepthmapResolution() override { return {640, 480}; }
  std::vector<Size> DepthmapResolutions() override { return {{640, 480}}; }
  void SetColorBrightness(float value) override {
    std::lock_guard<std::mutex> lock(mutex);
    brightness_writes.push_back(value);
    brightness = value;
  }
  float ColorBrightness() override { return brightness; }
  void GetColorBrightnessRange(float* min, float* max) override {
    if (min) *min = 0;
    if (max) *max = 100;
  }
  void EnableSegmentation(bool on) override { segmentation_calls.push_back(on); }

  std::atomic<int> starts{0}, stops{0}, resets{0};
  std::vector<bool> segmentation_calls;
  std::mutex mutex;
  std::vector<float> brightness_writes;
  float brightness = 50;
};

// A pipeline with its render thread running over a FeedCamera, and a subscriber that reads every
// output back on the render thread. The automatic camera starts off.
class PipelineRig {
 public:
  explicit PipelineRig(Size output_size = {1280, 720}, bool start = true);
  ~PipelineRig();

  // Starts the render thread and the (fed) camera.
  void Start();
  // Feeds one frame and returns the output it became; fails the test after a bounded wait.
  Image Process(std::shared_ptr<const ImageData> frame);
  // Waits until at least `count` outputs exist; false after the time-out (times the build's scale).
  bool WaitForOutputs(int count, double seconds = 30);
  int outputs();

  std::unique_ptr<VantisolPipeline> pipeline;
  FeedCamera* camera = nullptr;
  // Runs on the render thread before each output is read back (the window's own drawing, such as
  // the watermark); set it before Start.
  std::function<void(const std::shared_ptr<LockedTexture>&)> before_read;
  std::atomic<int> factory_calls{0};

 private:
  Size output_size_;
  std::mutex mutex_;
  std::condition_variable condition_;
  int outputs_ = 0;
  Image last_;
};

// YUY2 to RGB on the CPU (BT.601 video range), the reference for the GPU conversion.
Image CpuRgb(const Image& yuy2);
// Largest per-channel difference of two RGB images over the pixels where `where` is true (all
// when null), and how many pixels differ by more than `tolerance`.
struct Difference {
  int max = 0;
  long over = 0;
};
Difference Compare(const Image& a, const Image& b, int tolerance,
                   const std::vector<uint8_t>* where = nullptr);
// The mask eroded by `radius` pixels (square), and the inverse mask eroded alike.
std::vector<uint8_t> Eroded(const std::vector<uint8_t>& mask, Size size, int radius, bool invert);

}  // namespace vantisol::test
