#include "sense_modules.h"

#include <cmath>
#include <memory>

namespace pxcsim {
namespace {

class FaceData : public Object<PXCFaceData> {
 public:
  explicit FaceData(const std::vector<FaceOutput>* current) : current_(current) {}
  pxcStatus Update() override {
    faces_.clear();
    for (const auto& f : *current_) faces_.push_back(std::make_unique<Face>(f));
    return PXC_STATUS_NO_ERROR;
  }
  int32_t QueryNumberOfDetectedFaces() override { return int32_t(faces_.size()); }
  PXCFaceData::Face* QueryFaceByIndex(int32_t index) override {
    return index >= 0 && index < int32_t(faces_.size()) ? faces_[index].get() : nullptr;
  }

 private:
  class Face : public PXCFaceData::Face,
               public DetectionData,
               public PoseData,
               public LandmarksData {
   public:
    explicit Face(const FaceOutput& f) : f_(f) {}
    int32_t QueryUserID() override { return f_.user_id; }
    DetectionData* QueryDetection() override { return this; }
    PoseData* QueryPose() override { return this; }
    LandmarksData* QueryLandmarks() override { return this; }
    pxcBool QueryBoundingRect(PXCRectI32* rect) override {
      *rect = {f_.x, f_.y, f_.w, f_.h};
      return 1;
    }
    pxcBool QueryFaceAverageDepth(float* depth) override {
      *depth = f_.average_depth;
      return f_.average_depth > 0;
    }
    pxcBool QueryPoseAngles(PoseEulerAngles* angles) override {
      // The runtime's pitch and roll turn the other way round than the head's own.
      *angles = {f_.yaw, -f_.pitch, -f_.roll};
      return std::fabs(f_.yaw) < 50 ? 1 : 0;
    }
    pxcBool QueryHeadPosition(HeadPosition* position) override {
      position->headCenter = {f_.head[0], -f_.head[1], f_.head[2]};
      return 1;
    }
    int32_t QueryNumPoints() override { return int32_t(f_.landmarks.size()); }
    pxcBool QueryPoints(LandmarkPoint* points) override {
      for (size_t i = 0; i < f_.landmarks.size(); ++i) {
        const Landmark& l = f_.landmarks[i];
        points[i] = {l.confidence,
                     l.confidence,
                     {l.camera[0] / 1000, -l.camera[1] / 1000, l.camera[2] / 1000},
                     {l.u, l.v}};
      }
      return 1;
    }

   private:
    FaceOutput f_;
  };
  const std::vector<FaceOutput>* current_;
  std::vector<std::unique_ptr<Face>> faces_;
};

class FaceConfiguration : public Object<PXCFaceConfiguration> {
 public:
  void RestoreDefaults() override {
    detection = {false, 1};
    landmarks = {false, 1, 0};
    pose = {false};
    strategy = 0;
  }
  pxcStatus ApplyChanges() override {
    return detection.maxTrackedFaces >= 1 && detection.maxTrackedFaces <= 4 &&
                   landmarks.maxTrackedFaces >= 1 && landmarks.maxTrackedFaces <= 4
               ? PXC_STATUS_NO_ERROR
               : PXC_STATUS_PARAM_UNSUPPORTED;
  }
};

}  // namespace

PXCFaceConfiguration* FaceModule::CreateActiveConfiguration() { return new FaceConfiguration; }
PXCFaceData* FaceModule::CreateOutput() { return new FaceData(current_); }

PXCImage* SegmentationModule::AcquireSegmentedImage() {
  if (paused_ || !frame_ || frame_->color_bgr.empty()) return nullptr;
  auto* image = new Image(width_, height_, PXCImage::PIXEL_FORMAT_RGB32, width_ * 4, time_stamp_,
                          Image::kWrittenWhole);
  uint8_t* d = image->pixels();
  pool_->For(int64_t(width_) * height_, [&](int64_t begin, int64_t end) {
    // Locals: a byte store could otherwise alias the frame's vectors.
    const uint8_t* bgr = frame_->color_bgr.data();
    const uint8_t* person = frame_->person.data();
    for (int64_t i = begin; i < end; ++i) {
      d[i * 4] = bgr[i * 3];
      d[i * 4 + 1] = bgr[i * 3 + 1];
      d[i * 4 + 2] = bgr[i * 3 + 2];
      d[i * 4 + 3] = person[i] ? 255 : 0;
    }
  });
  return image;
}

}  // namespace pxcsim
