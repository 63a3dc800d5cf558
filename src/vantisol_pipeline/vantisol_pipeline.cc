#include "vantisol_pipeline/vantisol_pipeline.h"

#include <opencv2/imgcodecs.hpp>
#include <stdexcept>

#include "algorithms/face_cropper.h"
#include "algorithms/renderer.h"
#include "imgproc_opencv/color_corrector_hardware.h"
#include "imgproc_opencv/color_corrector_software.h"
#include "utils/logging.h"
#include "vantisol_pipeline/gpu_resources.h"
#include "vantisol_pipeline/render_context.h"

namespace vantisol {

namespace {

const char kNoCameraMessage[] =
    "Could not find any cameras. Make sure you have a compatible "
    "<a href='https://vantisol.example/cameras'>Intel Realsense Camera</a> as well as the "
    "<a href='https://vantisol.example/runtime'>newest runtime</a> installed.<br><br>"
    "More help on <a href='https://vantisol.example/help'>vantisol.example</a>.";

const char kNoContextMessage[] = "The render thread could not create its OpenGL 4.3 context.";

}  // namespace

VantisolPipeline::VantisolPipeline(CameraFactory create_cameras)
    : create_cameras_(create_cameras ? std::move(create_cameras) : CameraFactory(CreateCameras)) {
  LOG(INFO) << "VantisolPipeline";
}

VantisolPipeline::~VantisolPipeline() {
  LOG(INFO) << "~VantisolPipeline";
  {
    std::lock_guard<TicketLock> lock(mutex_);
    LOG(INFO) << "Stopping thread";
    queue_.SetFinish();
  }
  // The mutex is free again here: the render thread needs it to leave its loop.
  LOG(INFO) << "Waiting for thread to finish";
  if (thread_ && thread_->joinable()) thread_->join();
  // Without a render thread nobody stopped the camera, and its thread must end before the queue.
  if (!thread_ && camera_) camera_->Stop();
}

void VantisolPipeline::SetSharedContext() {
  LOG(INFO) << "SetSharedContext";
  std::lock_guard<TicketLock> lock(mutex_);
  context_.SetSharedContext();
}

void VantisolPipeline::InitializeOpenglContext() {
  LOG(INFO) << "InitializeOpenglContext";
  std::unique_lock<TicketLock> lock(mutex_);
  if (!thread_) thread_ = std::make_unique<std::thread>(&VantisolPipeline::ThreadLoop, this);
  condition_.wait(lock, [this] { return gpu_resources_ || start_failed_; });
  if (start_failed_) throw std::runtime_error(start_error_);
}

void VantisolPipeline::RunWithSize(Size size, bool playback) {
  LOG(INFO) << "RunWithSize: " << size;
  std::lock_guard<TicketLock> lock(mutex_);
  if (size == output_size_) return;
  if (size.width < 1 || size.height < 1) {
    LOG(WARNING) << "RunWithSize: refusing the size " << size;
    return;
  }
  output_size_ = size;
  face_cropper_ = std::make_unique<FaceCropper>();
  if (camera_) return;

  auto cameras = create_cameras_();
  if (cameras.empty() && !playback) {
    LOG(ERROR) << kNoCameraMessage;
    throw std::runtime_error(kNoCameraMessage);
  }
  camera_ = cameras.empty() ? CreatePlaybackCamera() : std::move(cameras.front());
  cameras.clear();

  camera_->EnableFaceTracking();
  camera_->EnableDepthmap();
  camera_->EnableSegmentation(true);
  camera_->EnableSegmentation(false);
  // A personify switch made before the camera existed would otherwise stay without effect.
  if (personify_) camera_->EnableSegmentation(true);
  camera_connections_.push_back(camera_->frame_signal_.connect(
      [this](std::shared_ptr<const ImageData> frame) { queue_.Push(std::move(frame)); }));
  camera_connections_.push_back(
      camera_->stopped_signal_.connect([this] { error_signal_(std::string("Camera Error")); }));
  camera_->Start();
}

void VantisolPipeline::ThreadLoop() {
  LOG(INFO) << "ThreadLoop";
  std::string failure;
  try {
    {
      std::lock_guard<TicketLock> lock(mutex_);
      context_.CreateContext();
    }
    BuildResources();
  } catch (const std::exception& error) {
    failure = error.what();
  }
  {
    std::lock_guard<TicketLock> lock(mutex_);
    start_failed_ = !failure.empty();
    start_error_ = failure;
  }
  condition_.notify_all();
  if (!failure.empty()) {
    LOG(ERROR) << failure;
    error_signal_(failure);
  }

  std::shared_ptr<const ImageData> frame;
  while (queue_.Pop(frame)) {
    // Without resources the frames are only taken out of the way, so the camera never blocks.
    if (failure.empty()) {
      std::lock_guard<TicketLock> lock(mutex_);
      ProcessFrame(frame);
    }
    frame.reset();
  }

  std::lock_guard<TicketLock> lock(mutex_);
  gpu_resources_.reset();
  if (camera_) camera_->Stop();
  ReleaseRenderContext(context_);
}

void VantisolPipeline::BuildResources() {
  std::lock_guard<TicketLock> lock(mutex_);
  if (!UsableRenderContext(context_)) throw std::runtime_error(kNoContextMessage);
  context_.SetContext();
  gpu_resources_.reset();
  gpu_resources_ = std::make_unique<GpuResources>();
  Renderer& renderer = *gpu_resources_->renderer;
  renderer.enable_face_undistortion_ = face_undistortion_;
  renderer.face_undistortion_amount_ = face_undistortion_amount_;
  renderer.enable_gaze_correction_ = gaze_correction_;
  renderer.face_rotation_amount_ = gaze_correction_amount_;
  renderer.eye_rotation_amount_ = gaze_correction_amount_;
  if (blur_amount_ > 0) gpu_resources_->background_blur->SetKernelSize(blur_amount_);
}

void VantisolPipeline::SetDrawFaces(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  draw_faces_ = on;
}

void VantisolPipeline::SetColorCorrection(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  color_correction_ = on;
}

void VantisolPipeline::SetFaceUndistortion(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  face_undistortion_ = on;
  if (gpu_resources_ && gpu_resources_->renderer) {
    gpu_resources_->renderer->enable_face_undistortion_ = on;
  }
}

void VantisolPipeline::SetGazeCorrection(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  gaze_correction_ = on;
  if (gpu_resources_ && gpu_resources_->renderer) {
    gpu_resources_->renderer->enable_gaze_correction_ = on;
  }
}

void VantisolPipeline::SetSwColorCorrection(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  sw_color_correction_ = on;
}

void VantisolPipeline::SetBilateralFilter(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  bilateral_filter_ = on;
}

void VantisolPipeline::SetBackgroundMode(int mode) {
  std::lock_guard<TicketLock> lock(mutex_);
  if (background_mode_ == 0) reset_history_ = true;
  background_mode_ = mode;
}

void VantisolPipeline::SetAutomaticCamera(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  automatic_camera_ = on;
}

void VantisolPipeline::SetPersonify(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  if (on == personify_) return;
  personify_ = on;
  if (camera_) camera_->EnableSegmentation(on);
}

void VantisolPipeline::SetBwSegmentation(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  bw_segmentation_ = on;
}

void VantisolPipeline::SetGazeCorrectionAmount(int amount) {
  std::lock_guard<TicketLock> lock(mutex_);
  gaze_correction_amount_ = amount;
  if (gpu_resources_ && gpu_resources_->renderer) {
    gpu_resources_->renderer->face_rotation_amount_ = amount;
    gpu_resources_->renderer->eye_rotation_amount_ = amount;
  }
}

void VantisolPipeline::SetBlurAmount(int amount) {
  std::lock_guard<TicketLock> lock(mutex_);
  blur_amount_ = amount;
  if (gpu_resources_ && amount >= 1) gpu_resources_->background_blur->SetKernelSize(amount);
}

void VantisolPipeline::SetFaceUndistortionAmount(int amount) {
  std::lock_guard<TicketLock> lock(mutex_);
  face_undistortion_amount_ = amount;
  if (gpu_resources_ && gpu_resources_->renderer) {
    gpu_resources_->renderer->face_undistortion_amount_ = amount;
  }
}

void VantisolPipeline::SetBgThresh(int threshold) {
  LOG(INFO) << "bg thresh " << threshold;
  std::lock_guard<TicketLock> lock(mutex_);
  bg_thresh_ = threshold;
}

bool VantisolPipeline::SetBackground(const std::string& path) {
  // Decoding takes long; only the swap holds the render thread back.
  cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR);
  std::lock_guard<TicketLock> lock(mutex_);
  background_ = picture;
  return !picture.empty();
}

void VantisolPipeline::SetUseHistory(bool on) {
  std::lock_guard<TicketLock> lock(mutex_);
  use_history_ = on;
}

void VantisolPipeline::ResetHistory() {
  std::lock_guard<TicketLock> lock(mutex_);
  reset_history_ = true;
}

void VantisolPipeline::SetFaceTemplateScale(int width, int height) {
  std::lock_guard<TicketLock> lock(mutex_);
  face_template_scale_width_ = width;
  face_template_scale_height_ = height;
  if (gpu_resources_ && gpu_resources_->face_tracker) {
    gpu_resources_->face_tracker->SetScale(width / 100.0f, height / 100.0f, 1.0f);
  }
}

bool VantisolPipeline::automatic_camera() {
  std::lock_guard<TicketLock> lock(mutex_);
  return automatic_camera_;
}

bool VantisolPipeline::color_correction() {
  std::lock_guard<TicketLock> lock(mutex_);
  return color_correction_;
}

bool VantisolPipeline::face_undistortion() {
  std::lock_guard<TicketLock> lock(mutex_);
  return face_undistortion_;
}

bool VantisolPipeline::gaze_correction() {
  std::lock_guard<TicketLock> lock(mutex_);
  return gaze_correction_;
}

int VantisolPipeline::background_mode() {
  std::lock_guard<TicketLock> lock(mutex_);
  return background_mode_;
}

VantisolPipeline::Settings VantisolPipeline::settings() {
  std::lock_guard<TicketLock> lock(mutex_);
  return Settings{draw_faces_,
                  color_correction_,
                  face_undistortion_,
                  gaze_correction_,
                  sw_color_correction_,
                  bilateral_filter_,
                  background_mode_,
                  automatic_camera_,
                  personify_,
                  bw_segmentation_,
                  gaze_correction_amount_,
                  blur_amount_,
                  face_undistortion_amount_,
                  bg_thresh_,
                  use_history_,
                  reset_history_,
                  face_template_scale_width_,
                  face_template_scale_height_};
}

template <typename T>
VantisolPipeline::Locked<T> VantisolPipeline::Lend(const std::function<T*()>& object,
                                                   const char* missing) {
  mutex_.lock();
  T* pointer = object();
  if (pointer == nullptr) {
    LOG(ERROR) << missing;
    mutex_.unlock();
    return Locked<T>(nullptr, [](T*) {});
  }
  return Locked<T>(pointer, [this](T*) { mutex_.unlock(); });
}

VantisolPipeline::Locked<Camera> VantisolPipeline::camera() {
  return Lend<Camera>([this] { return camera_.get(); },
                      "VantisolPipeline::camera() - Camera not available yet.");
}

VantisolPipeline::Locked<FaceTracker> VantisolPipeline::face_tracker() {
  return Lend<FaceTracker>(
      [this] { return gpu_resources_ ? gpu_resources_->face_tracker.get() : nullptr; },
      "VantisolPipeline::face_tracker() - Face template has not been created yet.");
}

VantisolPipeline::Locked<Renderer> VantisolPipeline::renderer() {
  return Lend<Renderer>(
      [this] { return gpu_resources_ ? gpu_resources_->renderer.get() : nullptr; },
      "VantisolPipeline::renderer() - Renderer has not been created yet.");
}

VantisolPipeline::Locked<BilateralFilter> VantisolPipeline::bilateral_filter() {
  return Lend<BilateralFilter>(
      [this] { return gpu_resources_ ? gpu_resources_->bilateral_filter.get() : nullptr; },
      "VantisolPipeline::bilateral_filter() - Bilateral Filter has not been created yet.");
}

void VantisolPipeline::SetStageProbe(StageProbe probe) {
  std::lock_guard<TicketLock> lock(mutex_);
  stage_probe_ = std::move(probe);
}

void VantisolPipeline::Probe(const char* stage, const ImageData& frame) {
  if (stage_probe_) stage_probe_(stage, frame);
}

}  // namespace vantisol
