#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "utils/camera_image.h"
#include "utils/signal.h"

namespace vantisol {

// Carried by the alert signal, which nothing emits.
struct AlertData {};

// The system's capture device. Frames leave through the signals, on the camera thread.
class Camera {
 public:
  enum class SimulationMode { None = 0, Recording = 1, Realtime = 2, FrameByFrame = 3 };

  Camera() = default;
  Camera(const Camera&) = delete;
  Camera& operator=(const Camera&) = delete;
  virtual ~Camera() = default;

  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void Reset() = 0;
  virtual Size ColorResolution() = 0;
  virtual std::vector<Size> ColorResolutions() = 0;
  virtual void SetColorResolution(Size size) = 0;
  virtual Size DepthmapResolution() = 0;
  virtual std::vector<Size> DepthmapResolutions() = 0;
  virtual void SetDepthmapResolution(Size size) = 0;
  virtual void SetColorBrightness(float value) = 0;
  virtual float ColorBrightness() = 0;
  virtual void GetColorBrightnessRange(float* min, float* max) = 0;
  virtual float BrightnessControlGain() = 0;
  virtual int64_t BrightnessControlInterval() = 0;
  virtual void EnableFaceTracking() = 0;
  virtual void EnableDepthmap() = 0;
  virtual void EnableSegmentation(bool on) = 0;
  virtual void EnableDepthProjection() = 0;
  virtual void SetSingleUserMode(bool on) = 0;
  virtual void SetPaused(bool paused) = 0;
  virtual bool paused() = 0;
  virtual void SetLoop(bool loop) = 0;
  virtual bool loop() = 0;
  virtual void SetFrameByIndex(int index) = 0;
  virtual int TotalFrames() = 0;
  virtual int CurrentFrame() = 0;
  virtual void SetSimulationMode(SimulationMode mode, bool loop) = 0;

  utils::Signal<void(std::shared_ptr<const ImageData>)> frame_signal_;
  utils::Signal<void()> stopped_signal_;
  utils::Signal<void(AlertData)> alert_signal_;
};

// The cameras found through the camera runtime; empty without a runtime or a supported device.
// Throws std::runtime_error (rich text with links) for a runtime that is too old, and
// PlainTextError for a runtime that refuses to start (its reason quoted).
std::vector<std::unique_ptr<Camera>> CreateCameras();
std::unique_ptr<Camera> CreatePlaybackCamera();

// Link targets of the user-facing runtime messages; the installer link is set at start-up.
void SetRuntimeInstallerLink(const std::string& link);
const std::string& RuntimeInstallerLink();
extern const char kCameraHelpLink[];

}  // namespace vantisol
