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
  ApplySettings();
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
      ApplySettings();
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
  if (!UsableRenderContext(context_) || !context_.SetContext()) {
    throw std::runtime_error(kNoContextMessage);
  }
  ApplySettings();
  gpu_resources_.reset();
  gpu_resources_ = std::make_unique<GpuResources>();
  Renderer& renderer = *gpu_resources_->renderer;
  renderer.enable_face_undistortion_ = face_undistortion_;
  renderer.face_undistortion_amount_ = face_undistortion_amount_;
  renderer.enable_gaze_correction_ = gaze_correction_;
  renderer.face_rotation_amount_ = gaze_correction_amount_;
  renderer.eye_rotation_amount_ = gaze_correction_amount_;
  // A scale set before the tracker existed (the stored calibration at start) holds from the first
  // frame, not only after the next change.
  ApplyFaceTemplateScale();
}

void VantisolPipeline::Request(const std::function<void(Settings&)>& change) {
  {
    std::lock_guard<std::mutex> lock(requested_mutex_);
    change(requested_);
    requested_changed_ = true;
  }
  if (mutex_.try_lock()) {
    ApplySettings();
    mutex_.unlock();
  }
}

void VantisolPipeline::ApplySettings() {
  Settings wanted;
  bool blur_amount_requested = false;
  bool scale_requested = false;
  {
    std::lock_guard<std::mutex> lock(requested_mutex_);
    if (!requested_changed_) return;
    wanted = requested_;
    blur_amount_requested = blur_amount_requested_;
    scale_requested = face_template_scale_requested_;
    requested_changed_ = blur_amount_requested_ = face_template_scale_requested_ = false;
    requested_.reset_history = false;
  }
  draw_faces_ = wanted.draw_faces;
  color_correction_ = wanted.color_correction;
  face_undistortion_ = wanted.face_undistortion;
  gaze_correction_ = wanted.gaze_correction;
  sw_color_correction_ = wanted.sw_color_correction;
  bilateral_filter_ = wanted.bilateral_filter;
  background_mode_ = wanted.background_mode;
  automatic_camera_ = wanted.automatic_camera;
  bw_segmentation_ = wanted.bw_segmentation;
  gaze_correction_amount_ = wanted.gaze_correction_amount;
  blur_amount_ = wanted.blur_amount;
  face_undistortion_amount_ = wanted.face_undistortion_amount;
  bg_thresh_ = wanted.bg_thresh;
  use_history_ = wanted.use_history;
  if (wanted.reset_history) reset_history_ = true;
  face_template_scale_width_ = wanted.face_template_scale_width;
  face_template_scale_height_ = wanted.face_template_scale_height;
  if (wanted.personify != personify_) {
    personify_ = wanted.personify;
    if (camera_) camera_->EnableSegmentation(personify_);
  }
  if (!gpu_resources_) return;
  if (Renderer* renderer = gpu_resources_->renderer.get()) {
    renderer->enable_face_undistortion_ = face_undistortion_;
    renderer->enable_gaze_correction_ = gaze_correction_;
    renderer->face_rotation_amount_ = gaze_correction_amount_;
    renderer->eye_rotation_amount_ = gaze_correction_amount_;
    renderer->face_undistortion_amount_ = face_undistortion_amount_;
  }
  BackgroundResources* background = gpu_resources_->background_effects.get();
  if (background && blur_amount_requested && blur_amount_ >= 1) {
    background->background_blur.SetKernelSize(blur_amount_);
  }
  if (scale_requested) ApplyFaceTemplateScale();
}

void VantisolPipeline::ApplyFaceTemplateScale() {
  if (!gpu_resources_ || !gpu_resources_->face_tracker) return;
  gpu_resources_->face_tracker->SetScale(face_template_scale_width_ / 100.0f,
                                         face_template_scale_height_ / 100.0f, 1.0f);
}

void VantisolPipeline::SetDrawFaces(bool on) {
  Request([on](Settings& s) { s.draw_faces = on; });
}

void VantisolPipeline::SetColorCorrection(bool on) {
  Request([on](Settings& s) { s.color_correction = on; });
}

void VantisolPipeline::SetFaceUndistortion(bool on) {
  Request([on](Settings& s) { s.face_undistortion = on; });
}

void VantisolPipeline::SetGazeCorrection(bool on) {
  Request([on](Settings& s) { s.gaze_correction = on; });
}

void VantisolPipeline::SetSwColorCorrection(bool on) {
  Request([on](Settings& s) { s.sw_color_correction = on; });
}

void VantisolPipeline::SetBilateralFilter(bool on) {
  Request([on](Settings& s) { s.bilateral_filter = on; });
}

void VantisolPipeline::SetBackgroundMode(int mode) {
  Request([mode](Settings& s) {
    if (s.background_mode == 0) s.reset_history = true;
    s.background_mode = mode;
  });
}

void VantisolPipeline::SetAutomaticCamera(bool on) {
  Request([on](Settings& s) { s.automatic_camera = on; });
}

void VantisolPipeline::SetPersonify(bool on) {
  Request([on](Settings& s) { s.personify = on; });
}

void VantisolPipeline::SetBwSegmentation(bool on) {
  Request([on](Settings& s) { s.bw_segmentation = on; });
}

void VantisolPipeline::SetGazeCorrectionAmount(int amount) {
  Request([amount](Settings& s) { s.gaze_correction_amount = amount; });
}

void VantisolPipeline::SetBlurAmount(int amount) {
  Request([this, amount](Settings& s) {
    s.blur_amount = amount;
    blur_amount_requested_ = true;
  });
}

void VantisolPipeline::SetFaceUndistortionAmount(int amount) {
  Request([amount](Settings& s) { s.face_undistortion_amount = amount; });
}

void VantisolPipeline::SetBgThresh(int threshold) {
  LOG(INFO) << "bg thresh " << threshold;
  Request([threshold](Settings& s) { s.bg_thresh = threshold; });
}

bool VantisolPipeline::SetBackground(const std::string& path) {
  // Decoding takes long; only the swap holds the render thread back.
  cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR);
  std::lock_guard<TicketLock> lock(mutex_);
  background_ = picture;
  return !picture.empty();
}

void VantisolPipeline::SetUseHistory(bool on) {
  Request([on](Settings& s) { s.use_history = on; });
}

void VantisolPipeline::ResetHistory() {
  Request([](Settings& s) { s.reset_history = true; });
}

void VantisolPipeline::SetFaceTemplateScale(int width, int height) {
  Request([this, width, height](Settings& s) {
    s.face_template_scale_width = width;
    s.face_template_scale_height = height;
    face_template_scale_requested_ = true;
  });
}

bool VantisolPipeline::automatic_camera() { return settings().automatic_camera; }

bool VantisolPipeline::color_correction() { return settings().color_correction; }

bool VantisolPipeline::face_undistortion() { return settings().face_undistortion; }

bool VantisolPipeline::gaze_correction() { return settings().gaze_correction; }

int VantisolPipeline::background_mode() { return settings().background_mode; }

VantisolPipeline::Settings VantisolPipeline::settings() {
  std::lock_guard<std::mutex> lock(requested_mutex_);
  Settings current = requested_;
  current.reset_history = current.reset_history || reset_history_;
  return current;
}

template <typename T>
VantisolPipeline::Locked<T> VantisolPipeline::Lend(const std::function<T*()>& object,
                                                   const char* missing) {
  mutex_.lock();
  // The object lent must show every setting made before.
  ApplySettings();
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
