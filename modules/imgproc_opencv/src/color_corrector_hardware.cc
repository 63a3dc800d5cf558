#include "imgproc_opencv/color_corrector_hardware.h"

#include <algorithm>
#include <cmath>

#include "imgproc_opencv/color_corrector_software.h"
#include "utils/logging.h"

namespace vantisol {

namespace {

// What the camera answers for a setting it could not read.
constexpr float kUnreadable = 32767;

bool Readable(float value) { return std::isfinite(value) && value != kUnreadable; }

}  // namespace

ColorCorrectorHardware::ColorCorrectorHardware(Camera* camera, int target)
    : interval_(camera->BrightnessControlInterval()),
      gain_(camera->BrightnessControlGain()),
      target_(target),
      camera_(camera) {
  camera_->GetColorBrightnessRange(&min_, &max_);
  current_ = camera_->ColorBrightness();
  // Driving from an unreadable answer would write 32767 (or the range's end) into the camera.
  active_ = Readable(min_) && Readable(max_) && Readable(current_) && min_ < max_;
  if (!active_) {
    LOG(WARNING) << "Camera brightness not readable (range " << min_ << ".." << max_ << ", current "
                 << current_ << "); hardware colour correction is off";
  }
}

void ColorCorrectorHardware::Update(const cv::Mat& color, const cv::Mat& mask,
                                    const std::vector<Rectangle>& faces, int64_t time_ns,
                                    int target) {
  if (target >= 0) target_ = target;
  if (!active_ || faces.empty()) return;
  if (last_update_ && time_ns - *last_update_ < interval_) return;

  double sum = 0;
  int measured = 0;
  for (const Rectangle& face : faces) {
    cv::Mat crop, crop_mask;
    ColorCorrectorSoftware::GetCroppedImages(face, color, mask, &crop, &crop_mask, nullptr);
    if (crop.empty()) continue;
    sum += crop_mask.empty() ? cv::mean(crop)[0] : cv::mean(crop, crop_mask)[0];
    ++measured;
  }
  if (measured == 0) return;
  last_update_ = time_ns;
  NewAverage(float(sum / measured));
}

void ColorCorrectorHardware::NewAverage(float average) {
  if (!active_) return;
  float value = (float(target_) - average) * gain_ + current_;
  value = std::max(std::min(value, max_), min_);
  LOG(INFO) << "From " << current_ << " to " << value;
  LOG(INFO) << "Is " << average << " should " << target_;
  camera_->SetColorBrightness(value);
  current_ = value;
}

}  // namespace vantisol
