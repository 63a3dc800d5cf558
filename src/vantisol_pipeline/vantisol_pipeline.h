#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "camera/face_tracking_stabilizer.h"
#include "opengl_qt/opengl_context.h"
#include "utils/fps_calculator.h"
#include "utils/latency_calculator.h"
#include "utils/shared_queue.h"
#include "utils/signal.h"
#include "utils/ticket_lock.h"

namespace vantisol {

class BilateralFilter;
class ColorCorrectorHardware;
class ColorCorrectorSoftware;
class FaceCropper;
class FaceTracker;
class LockedTexture;
class Renderer;
class Texture;
struct GpuResources;

// Every setting of the effects pipeline at once.
struct PipelineSettings {
  bool draw_faces = false;
  bool color_correction = true;
  bool face_undistortion = false;
  bool gaze_correction = false;
  bool sw_color_correction = true;
  bool bilateral_filter = false;
  int background_mode = 0;
  bool automatic_camera = true;
  bool personify = false;
  bool bw_segmentation = false;
  int gaze_correction_amount = 30;
  int blur_amount = 10;
  int face_undistortion_amount = 25;
  int bg_thresh = -1;
  bool use_history = true;
  bool reset_history = false;
  int face_template_scale_width = 100;
  int face_template_scale_height = 100;
};

// The effects pipeline: owns the camera and the render thread, which turns every captured frame
// into the one output texture under the pipeline mutex and publishes it on output_signal_.
class VantisolPipeline {
 public:
  // A handle that keeps the pipeline mutex locked while it lives; empty when the object is missing.
  template <typename T>
  using Locked = std::unique_ptr<T, std::function<void(T*)>>;
  using CameraFactory = std::function<std::vector<std::unique_ptr<Camera>>()>;
  // Called on the render thread after each stage of a frame, with the frame; for benchmarks and
  // tools.
  using StageProbe = std::function<void(const char* stage, const ImageData& frame)>;

  using Settings = PipelineSettings;

  // Frames in a row without a background effect (about three seconds) after which the objects
  // only those effects use are let go.
  static constexpr int kFramesBeforeReleasingBackground = 90;

  // Without a factory the cameras come from the camera runtime.
  explicit VantisolPipeline(CameraFactory create_cameras = nullptr);
  ~VantisolPipeline();
  VantisolPipeline(const VantisolPipeline&) = delete;
  VantisolPipeline& operator=(const VantisolPipeline&) = delete;

  void SetSharedContext();
  // Starts the render thread once and returns when its GPU resources exist; throws
  // std::runtime_error when the thread could not build its context or resources.
  void InitializeOpenglContext();
  void RunWithSize(Size size, bool playback);

  void SetDrawFaces(bool on);
  void SetColorCorrection(bool on);
  void SetFaceUndistortion(bool on);
  void SetGazeCorrection(bool on);
  void SetSwColorCorrection(bool on);
  void SetBilateralFilter(bool on);
  void SetBackgroundMode(int mode);
  void SetAutomaticCamera(bool on);
  void SetPersonify(bool on);
  void SetBwSegmentation(bool on);
  void SetGazeCorrectionAmount(int amount);
  void SetBlurAmount(int amount);
  void SetFaceUndistortionAmount(int amount);
  void SetBgThresh(int threshold);
  bool SetBackground(const std::string& path);
  void SetUseHistory(bool on);
  void ResetHistory();
  void SetFaceTemplateScale(int width, int height);

  bool automatic_camera();
  bool color_correction();
  bool face_undistortion();
  bool gaze_correction();
  int background_mode();
  Settings settings();
  double fps() const { return fps_.load(); }

  Locked<Camera> camera();
  Locked<FaceTracker> face_tracker();
  Locked<Renderer> renderer();
  Locked<BilateralFilter> bilateral_filter();

  void SetStageProbe(StageProbe probe);

  // Render thread, once per frame before output_signal_, while the pipeline still holds the output
  // texture's loan: what the subscribers draw into the texture is in every view of the frame.
  // They must not lock the output texture.
  utils::Signal<void(Texture&, LatencyCalculator&)> overlay_signal_;
  utils::Signal<void(std::shared_ptr<LockedTexture>, LatencyCalculator)> output_signal_;
  utils::Signal<void(std::string)> error_signal_;

 private:
  template <typename T>
  Locked<T> Lend(const std::function<T*()>& object, const char* missing);
  // Records a setting and takes it over at once when no frame is in flight; otherwise the render
  // thread takes it over before its next frame, so the window never waits for a frame.
  void Request(const std::function<void(Settings&)>& change);
  // With the pipeline mutex held: the requested settings become the ones frames are made with.
  void ApplySettings();
  // With the pipeline mutex held: the face-mask scale into the face tracker, when it exists.
  void ApplyFaceTemplateScale();
  void ThreadLoop();
  void BuildResources();
  void ProcessFrame(std::shared_ptr<const ImageData> frame);
  void Process2D(const std::map<int, FaceData>& faces,
                 const std::shared_ptr<const ImageData>& frame);
  // Whether the frame gets a person mask and a background.
  bool SegmentationRuns(const std::map<int, FaceData>& faces, bool depth_usable) const;
  bool UsesCameraMask(const ImageData& frame) const;
  // Makes the person mask, from the camera's segmentation or the own one.
  void Segment(const std::shared_ptr<const ImageData>& frame);
  void UpdateReplacement(const ImageData& frame);
  void Probe(const char* stage, const ImageData& frame);

  // The settings frames are made with (render thread, under the pipeline mutex).
  static inline const Settings kDefaults{};
  bool draw_faces_ = kDefaults.draw_faces;
  bool color_correction_ = kDefaults.color_correction;
  bool face_undistortion_ = kDefaults.face_undistortion;
  bool gaze_correction_ = kDefaults.gaze_correction;
  bool sw_color_correction_ = kDefaults.sw_color_correction;
  bool bilateral_filter_ = kDefaults.bilateral_filter;
  int background_mode_ = kDefaults.background_mode;
  bool automatic_camera_ = kDefaults.automatic_camera;
  bool personify_ = kDefaults.personify;
  bool bw_segmentation_ = kDefaults.bw_segmentation;
  int gaze_correction_amount_ = kDefaults.gaze_correction_amount;
  int blur_amount_ = kDefaults.blur_amount;
  int face_undistortion_amount_ = kDefaults.face_undistortion_amount;
  int bg_thresh_ = kDefaults.bg_thresh;
  cv::Mat background_;
  bool use_history_ = kDefaults.use_history;
  std::atomic<bool> reset_history_{kDefaults.reset_history};
  int face_template_scale_width_ = kDefaults.face_template_scale_width;
  int face_template_scale_height_ = kDefaults.face_template_scale_height;

  // What the window asked for last, under its own small lock; see Request.
  std::mutex requested_mutex_;
  Settings requested_;
  bool requested_changed_ = false;
  bool blur_amount_requested_ = false;
  bool face_template_scale_requested_ = false;

  std::unique_ptr<Camera> camera_;
  std::vector<utils::Connection> camera_connections_;
  Size output_size_;
  std::shared_ptr<ColorCorrectorSoftware> color_corrector_software_;
  std::shared_ptr<ColorCorrectorHardware> color_corrector_hardware_;
  // Made anew on each size change, so that framing starts afresh.
  std::unique_ptr<FaceCropper> face_cropper_;
  FaceTrackingStabilizer face_tracking_stabilizer_{7.5f};
  FpsCalculator fps_calculator_;
  std::atomic<double> fps_{0.0};
  std::unique_ptr<std::thread> thread_;
  // Fair, so that a setting from the window waits at most for the frame in flight: the render
  // thread takes it again at once for the next frame and would win a plain mutex every time.
  TicketLock mutex_;
  std::condition_variable_any condition_;
  SharedQueue queue_;
  OpenGLContext context_{false};
  std::unique_ptr<GpuResources> gpu_resources_;

  CameraFactory create_cameras_;
  StageProbe stage_probe_;
  // Set by the render thread when it could not start; the waiting GUI thread rethrows it.
  bool start_failed_ = false;
  std::string start_error_;
  // Conditions that would repeat every frame are logged once per change.
  bool unusable_color_logged_ = false;
  bool unusable_depth_logged_ = false;
  // Frames in a row made with background mode 0; the render thread's alone.
  int frames_without_background_ = 0;
};

}  // namespace vantisol
