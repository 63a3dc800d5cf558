#pragma once

#include <vector>

#include "camera/camera.h"

namespace vantisol {
namespace test {

// A camera that does nothing, with a readable brightness range; test and benchmark cameras
// override only what they play.
class NullCamera : public Camera {
 public:
  void Start() override {}
  void Stop() override {}
  void Reset() override {}
  Size ColorResolution() override { return {}; }
  std::vector<Size> ColorResolutions() override { return {}; }
  void SetColorResolution(Size) override {}
  Size DepthmapResolution() override { return {}; }
  std::vector<Size> DepthmapResolutions() override { return {}; }
  void SetDepthmapResolution(Size) override {}
  void SetColorBrightness(float) override {}
  float ColorBrightness() override { return 50; }
  void GetColorBrightnessRange(float* min, float* max) override { *min = 0, *max = 100; }
  float BrightnessControlGain() override { return 0.05f; }
  int64_t BrightnessControlInterval() override { return 250000000; }
  void EnableFaceTracking() override {}
  void EnableDepthmap() override {}
  void EnableSegmentation(bool) override {}
  void EnableDepthProjection() override {}
  void SetSingleUserMode(bool) override {}
  void SetPaused(bool) override {}
  bool paused() override { return false; }
  void SetLoop(bool) override {}
  bool loop() override { return false; }
  void SetFrameByIndex(int) override {}
  int TotalFrames() override { return 0; }
  int CurrentFrame() override { return 0; }
  void SetSimulationMode(SimulationMode, bool) override {}
};

}  // namespace test
}  // namespace vantisol
