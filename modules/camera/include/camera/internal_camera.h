#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/session.h"
#include "pxc/pxc.h"
#include "utils/camera_image.h"

namespace vantisol {

// By width, then height: the last size is the widest (and then the tallest).
struct SizeOrder {
  bool operator()(const Size& a, const Size& b) const {
    return a.width != b.width ? a.width < b.width : a.height < b.height;
  }
};

struct ResolutionProfile {
  std::set<Size, SizeOrder> color;
  std::set<Size, SizeOrder> depth;
};

// A runtime image as a CameraImage: the stream's calibration in metres and the time stamp in
// nanoseconds after time_base (runtime units).
CameraImage GetImage(PXCImage* image, int64_t time_base, PXCCapture::StreamType stream,
                     PXCCalibration* calibration, bool convert);

// The part of the camera that talks to the runtime. Its one user serialises all calls.
class InternalCamera {
 public:
  InternalCamera(bool is_sr300, const ResolutionProfile& profile);
  explicit InternalCamera(const std::string& playback_file);
  ~InternalCamera();
  InternalCamera(const InternalCamera&) = delete;
  InternalCamera& operator=(const InternalCamera&) = delete;

  PXCCapture::Device* Device();
  void CloseDevice();
  bool device_open() const { return device_ != nullptr; }

  const ResolutionProfile* Resolutions(bool build);
  std::vector<Size> ColorResolutions(bool build);
  std::vector<Size> DepthmapResolutions(bool build);
  Size ColorResolution(bool build);
  Size DepthmapResolution(bool build);
  void SetColorResolution(Size size);
  void SetDepthmapResolution(Size size);

  void EnableFaceTracking();
  void EnableDepthmap();
  void EnableDepthProjection(bool on);
  void EnableSegmentation(bool on);
  PXCFaceModule* FaceModule();
  PXC3DSeg* SegmentationModule();
  bool IsSR300();

  // The next frame; null ends the capture loop.
  std::shared_ptr<const ImageData> Run();
  std::shared_ptr<const ImageData> BuildFrame();

  static ResolutionProfile GetResolutions(PXCCapture::Device* device);
  static void RestrictResolutions(ResolutionProfile* profile, PXCBase* module);

  void SetSimulationMode(Camera::SimulationMode simulation_mode);
  std::string SimulationFilename();
  int TotalFrames();
  void SetCurrentFrame(int frame);

  bool thread_running() const { return thread_running_; }
  void set_thread_running(bool running) { thread_running_ = running; }
  bool paused() const { return paused_; }
  void set_paused(bool paused) { paused_ = paused; }
  bool single_user() const { return single_user_; }
  void set_single_user(bool on) { single_user_ = on; }
  bool loop() const { return loop_; }
  void set_loop(bool loop) { loop_ = loop; }
  Camera::SimulationMode simulation_mode() const { return simulation_mode_; }
  int current_frame() const { return current_frame_; }
  bool segmentation_paused() const { return segmentation_paused_; }
  bool segmentation_on() const { return segmentation_on_; }
  bool depth_on() const { return depth_on_; }
  PXCSenseManager* sense_manager() const { return sense_manager_.get(); }

 private:
  void CreateSenseManager();

  std::unique_ptr<ResolutionProfile> resolutions_;
  std::string playback_file_;
  bool thread_running_ = false;
  bool paused_ = false;
  bool convert_to_rgb_ = false;
  bool single_user_ = false;
  bool loop_ = false;
  PXCPtr<PXCSenseManager> sense_manager_;
  std::optional<bool> is_sr300_;
  std::optional<int64_t> time_base_;
  int64_t time_offset_ = 0;
  int64_t last_time_stamp_ = 0;
  int32_t current_frame_ = 0;
  int32_t total_frames_ = 0;
  PXCFaceModule* face_module_ = nullptr;
  PXC3DSeg* segmentation_module_ = nullptr;
  PXCCapture::Device* device_ = nullptr;
  std::shared_ptr<const ImageData> last_frame_;
  bool segmentation_paused_ = false;
  bool depth_projection_on_ = false;
  bool face_tracking_on_ = false;
  bool segmentation_on_ = false;
  bool depth_on_ = false;
  Camera::SimulationMode simulation_mode_ = Camera::SimulationMode::None;
  std::optional<Size> color_resolution_;
  std::optional<Size> depthmap_resolution_;
};

}  // namespace vantisol
