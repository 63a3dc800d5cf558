// The render thread's work on one frame, under the pipeline mutex with the context current.
#include <algorithm>
#include <cstring>
#include <opencv2/imgproc.hpp>

#include "algorithms/crop_renderer.h"
#include "algorithms/face_cropper.h"
#include "algorithms/renderer.h"
#include "imgproc_opencv/color_corrector_hardware.h"
#include "imgproc_opencv/color_corrector_software.h"
#include "imgproc_opencv/image_conversions.h"
#include "utils/logging.h"
#include "vantisol_pipeline/gpu_resources.h"
#include "vantisol_pipeline/vantisol_pipeline.h"

namespace vantisol {

namespace {

bool UsableColor(const CameraImage& color) {
  return color.format == Image::Format::kYUY2 && !color.empty() && color.data;
}

bool UsableDepth(const CameraImage& depth) {
  return depth.format == Image::Format::kGray16 && !depth.empty() && depth.data;
}

// Logs a condition once when it starts; it may be logged again after it has cleared.
void LogOnChange(bool condition, bool* logged, const char* text) {
  if (condition && !*logged) LOG(WARNING) << text;
  *logged = condition;
}

Image CopyOf(const Image& image) {
  Image copy(image.size, image.format);
  std::memcpy(copy.data.get(), image.data.get(),
              size_t(image.size.width) * image.size.height * Image::pixel_size(image.format));
  return copy;
}

}  // namespace

void VantisolPipeline::ProcessFrame(std::shared_ptr<const ImageData> frame) {
  Probe("start", *frame);
  LatencyCalculator latency = frame->latency;
  std::map<int, FaceData> faces =
      face_tracking_stabilizer_.Stabilize(frame->faces, frame->color.time_stamp);
  // Everything downstream reads the stabilised faces: one view of the frame that shares its
  // pictures and carries them, so that a renamed runtime id never drops a face's effects.
  auto stable = std::make_shared<const ImageData>(frame->color, frame->segmentation, frame->depth,
                                                  frame->mapped_depth, faces, frame->latency);
  latency.Checkpoint("2D");

  const bool color_usable = UsableColor(frame->color);
  const bool depth_usable = UsableDepth(frame->depth);
  LogOnChange(!color_usable, &unusable_color_logged_,
              "Frame without a YUY2 colour picture: it is not processed");
  LogOnChange(!depth_usable, &unusable_depth_logged_,
              "Frame without a 16-bit depth picture: depth stages are skipped");
  if (!color_usable || output_size_.empty()) return;

  GpuResources& gpu = *gpu_resources_;
  // Only the own segmentation and the depth-map view read the depth texture.
  const bool depth_read =
      depth_usable &&
      ((SegmentationRuns(faces, true) && !UsesCameraMask(*frame)) || gpu.renderer->reads_depth());
  if (depth_read) {
    gpu.depth->Assign(frame->depth);
    Probe("depth upload", *frame);
    gpu.undistorter->RunDepth(*gpu.depth, frame->depth.calibration);
    Probe("undistortion", *frame);
  }
  Process2D(faces, stable);
  latency.Checkpoint("3D");

  gpu.face_tracker->Update(stable);
  Probe("face tracking", *frame);
  std::vector<CropTile> tiles;
  if (automatic_camera_ && face_cropper_) {
    tiles = face_cropper_->Update(frame->color, faces, output_size_);
    Probe("cropper", *frame);
  }
  const Texture& depth = depth_read ? *gpu.depth : gpu.no_depth;
  {
    // The last drawing step writes the output itself, and the overlay follows under the same
    // loan: no other borrower sees the frame without it.
    auto output = gpu.output->Lock();
    if (!tiles.empty()) {
      // With tiles the faces are rendered at the camera's size and the tiles pick from that;
      // without any face drawn the tiles pick from the composed picture directly.
      const Texture& rendered = gpu.renderer->Render(gpu.composed, depth, stable, *gpu.face_tracker,
                                                     gpu.composed.size(), nullptr, true);
      Probe("renderer", *frame);
      latency.Checkpoint("Cropper");
      gpu.crop_renderer->Draw(rendered, tiles, output_size_, output.get());
      Probe("crop renderer", *frame);
    } else {
      gpu.renderer->Render(gpu.composed, depth, stable, *gpu.face_tracker, output_size_,
                           output.get());
      Probe("renderer", *frame);
      latency.Checkpoint("Cropper");
    }
    latency.Checkpoint("Pipeline");
    overlay_signal_(*output, latency);
  }
  Probe("output", *frame);
  latency.Checkpoint("Output");
  output_signal_(gpu.output, latency);
  fps_.store(fps_calculator_.AddFrame());
}

void VantisolPipeline::Process2D(const std::map<int, FaceData>& faces,
                                 const std::shared_ptr<const ImageData>& frame) {
  LatencyCalculator latency = frame->latency;
  GpuResources& gpu = *gpu_resources_;
  Image color_image = frame->color;
  // Boxes go into a private copy: the frame is shared, and a paused camera hands it out again.
  if (draw_faces_) color_image = CopyOf(frame->color);
  cv::Mat color = AsCv(color_image);
  const int64_t time_stamp = frame->color.time_stamp;
  float scale = 1, offset = 0;

  if (!color_correction_) {
    if (color_corrector_hardware_) {
      color_corrector_hardware_.reset();
      if (camera_) camera_->Reset();
    }
    color_corrector_software_.reset();
  } else {
    std::vector<Rectangle> boxes;
    for (const auto& [id, face] : faces) {
      if (face.not_seen) continue;
      const Rectangle& r = face.rect;
      boxes.push_back(Rectangle{r.x + r.width / 3, r.y, r.width / 3, r.height});
    }
    if (!color_corrector_hardware_ && camera_) {
      color_corrector_hardware_ = std::make_shared<ColorCorrectorHardware>(camera_.get(), 90);
    }
    latency.Checkpoint("Color Correction HW");
    if (color_corrector_hardware_) {
      color_corrector_hardware_->Update(color, cv::Mat(), boxes, time_stamp, -1);
    }
    Probe("hardware corrector", *frame);
    if (sw_color_correction_) {
      latency.Checkpoint("Color Correction SW");
      if (!color_corrector_software_) {
        color_corrector_software_ = std::make_shared<ColorCorrectorSoftware>(20, 180, false);
      }
      color_corrector_software_->GetScaleOffset(color, cv::Mat(), boxes, time_stamp, &scale,
                                                &offset, -1, -1);
      Probe("software corrector", *frame);
    }
  }

  if (draw_faces_) {
    for (const auto& [id, face] : faces) {
      const Rectangle& r = face.rect;
      cv::rectangle(color, cv::Rect(r.x, r.y, r.width, r.height), cv::Scalar(255, 0, 0, 0), 1, 8);
    }
  }

  latency.Checkpoint("2D Color Conversion");
  gpu.color_input.Assign(color_image);
  gpu.color_converter.SetParams(scale, offset / 255.0f);
  Probe("colour upload", *frame);

  // Only once the mode has stayed 0 for a while: switching back on soon after then builds no
  // shaders. Never when a frame merely lacks faces or depth: that would drop the history.
  if (background_mode_ != 0) {
    frames_without_background_ = 0;
  } else if (++frames_without_background_ >= kFramesBeforeReleasingBackground) {
    gpu.ReleaseBackgroundEffects();
  }
  if (!SegmentationRuns(faces, UsableDepth(frame->depth))) {
    gpu.color_converter.Convert(gpu.color_input, gpu.composed);
    Probe("conversion", *frame);
  } else {
    Segment(frame);
    BackgroundResources& bg = *gpu.background_effects;
    if (bw_segmentation_) {
      bg.grey_processor.Run(bg.mask, gpu.composed);
      Probe("grey view", *frame);
    } else {
      Texture& background = background_mode_ == 2 ? *gpu.replacement : bg.background;
      if (background_mode_ == 2) UpdateReplacement(*frame);
      if (background_mode_ == 1) {
        bg.background_blur.Blur(bg.color, bg.background, &bg.mask);
        Probe("background blur", *frame);
      }
      bg.mask_blur.Blur(bg.mask, bg.soft_mask, nullptr);
      bg.blender.Blend(bg.color, background, gpu.composed, bg.soft_mask);
      Probe("blend", *frame);
    }
  }

  if (bilateral_filter_) {
    gpu.bilateral_filter->Filter(gpu.composed, *gpu.bilateral_output);
    gpu.texture_copy->Copy(*gpu.bilateral_output, gpu.composed);
    Probe("bilateral", *frame);
  }
}

bool VantisolPipeline::SegmentationRuns(const std::map<int, FaceData>& faces,
                                        bool depth_usable) const {
  const bool any_depth = std::any_of(
      faces.begin(), faces.end(), [](const auto& face) { return face.second.average_depth > 0; });
  return background_mode_ != 0 && any_depth && !(background_mode_ == 1 && blur_amount_ == 0) &&
         depth_usable;
}

bool VantisolPipeline::UsesCameraMask(const ImageData& frame) const {
  return personify_ && frame.segmentation.valid() && !frame.segmentation.empty();
}

void VantisolPipeline::Segment(const std::shared_ptr<const ImageData>& frame) {
  GpuResources& gpu = *gpu_resources_;
  BackgroundResources& bg = gpu.BackgroundEffects(blur_amount_);
  if (UsesCameraMask(*frame)) {
    // The grey view shows only the mask: the colour picture is not needed then.
    if (!bw_segmentation_) {
      gpu.color_converter.Convert(gpu.color_input, bg.color);
      Probe("conversion", *frame);
    }
    bg.camera_mask.Assign(frame->segmentation);
    bg.mask_processor.Run(bg.camera_mask, bg.mask);
    Probe("segmentation", *frame);
    return;
  }
  bg.projected_depth.Resize(frame->color.size);
  Calibration depth_calibration = frame->depth.calibration;
  Calibration color_calibration = frame->color.calibration;
  bg.depth_projection.Project(depth_calibration, *gpu.depth, color_calibration, bg.projected_depth);
  Probe("depth projection", *frame);
  gpu.color_converter.Convert(gpu.color_input, bg.color);
  Probe("conversion", *frame);
  // The extractor takes at most four faces: the ones seen in this frame come first.
  std::vector<FaceData> faces;
  for (const bool seen : {true, false}) {
    for (const auto& [id, face] : frame->faces) {
      if (face.not_seen != seen) faces.push_back(face);
    }
  }
  if (faces.size() > size_t(opengl::ForegroundExtractor::kMaxFaces)) {
    faces.resize(opengl::ForegroundExtractor::kMaxFaces);
  }
  if (bg_thresh_ == -1) {
    bg.foreground_extractor.Extract(bg.projected_depth, bg.trimap, faces, &frame->depth, 600);
  } else {
    bg.foreground_extractor.Extract(bg.projected_depth, bg.trimap, faces, nullptr, bg_thresh_);
  }
  Probe("foreground extraction", *frame);
  bg.temporal_segmenter.SetUseHistory(use_history_);
  if (reset_history_) {
    bg.temporal_segmenter.Reset();
    reset_history_ = false;
  }
  bg.temporal_segmenter.Process(bg.color, bg.trimap, bg.mask);
  Probe("segmentation", *frame);
}

void VantisolPipeline::UpdateReplacement(const ImageData& frame) {
  GpuResources& gpu = *gpu_resources_;
  BackgroundResources& bg = *gpu.background_effects;
  if (!gpu.replacement->size().empty() && background_.empty()) return;
  if (background_.empty()) background_ = cv::Mat(1, 1, CV_8UC3, cv::Scalar(0, 255, 0));
  const cv::Mat picture = background_.isContinuous() ? background_ : background_.clone();
  const Image image = AsVantisol(picture);
  if (image.size == bg.color.size()) {
    gpu.replacement->Assign(image);
  } else {
    Texture uploaded(image);
    gpu.replacement->Resize(bg.color.size());
    bg.texture_scale.Scale(uploaded, *gpu.replacement, TextureDraw::kFill);
  }
  background_ = cv::Mat();
  Probe("replacement upload", frame);
}

}  // namespace vantisol
