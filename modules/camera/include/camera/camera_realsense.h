#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "camera/internal_camera.h"
#include "utils/ticket_lock.h"

namespace vantisol {

// The InternalCamera behind the ticket lock; a handle holds one ticket.
class GuardedInternalCamera {
 public:
  struct ReleaseTicket {
    TicketLock* lock;
    void operator()(InternalCamera*) const { lock->Release(); }
  };
  using Handle = std::unique_ptr<InternalCamera, ReleaseTicket>;

  template <typename... Args>
  explicit GuardedInternalCamera(Args&&... args) : camera_(std::forward<Args>(args)...) {}

  Handle Acquire() {
    lock_.Take();
    return Handle(&camera_, ReleaseTicket{&lock_});
  }

 private:
  TicketLock lock_;
  InternalCamera camera_;
};

class CameraRealSense : public Camera {
 public:
  CameraRealSense(const ResolutionProfile& profile, bool is_sr300);
  explicit CameraRealSense(const std::string& playback_file);
  ~CameraRealSense() override;

  static std::vector<std::unique_ptr<CameraRealSense>> GetCameras();

  void Start() override;
  void Stop() override;
  void Reset() override;
  Size ColorResolution() override;
  std::vector<Size> ColorResolutions() override;
  void SetColorResolution(Size size) override;
  Size DepthmapResolution() override;
  std::vector<Size> DepthmapResolutions() override;
  void SetDepthmapResolution(Size size) override;
  void SetColorBrightness(float brightness) override;
  float ColorBrightness() override;
  void GetColorBrightnessRange(float* min, float* max) override;
  float BrightnessControlGain() override;
  int64_t BrightnessControlInterval() override;
  void EnableFaceTracking() override;
  void EnableDepthmap() override;
  void EnableSegmentation(bool on) override;
  void EnableDepthProjection() override;
  void SetSingleUserMode(bool on) override;
  void SetPaused(bool paused) override;
  bool paused() override;
  void SetLoop(bool loop) override;
  bool loop() override;
  void SetFrameByIndex(int index) override;
  int TotalFrames() override;
  int CurrentFrame() override;
  void SetSimulationMode(SimulationMode mode, bool loop) override;

  // Direct access for tools and tests; takes a ticket like every operation.
  GuardedInternalCamera::Handle internal_camera() { return camera_.Acquire(); }

 private:
  void Run();

  GuardedInternalCamera camera_;
  std::thread thread_;
};

}  // namespace vantisol
