#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include "camera/camera.h"
#include "utils/camera_image.h"

namespace vantisol {

// Keeps the faces at a steady brightness by steering the camera's own brightness setting (the
// colour gain on an SR300): a proportional step toward the target, at most once per the camera's
// control interval. A camera whose setting or range cannot be read is left alone.
class ColorCorrectorHardware {
 public:
  ColorCorrectorHardware(Camera* camera, int target);

  // A target of -1 keeps the stored one. Frames without a measurable face change nothing, the
  // rate-limit clock included.
  void Update(const cv::Mat& color, const cv::Mat& mask, const std::vector<Rectangle>& faces,
              int64_t time_ns, int target);
  // One step from the faces' mean brightness.
  void NewAverage(float average);

  // False when the camera answered without a usable brightness range or setting.
  bool active() const { return active_; }
  float current() const { return current_; }

 private:
  int64_t interval_;
  float gain_;
  int target_;
  Camera* camera_;
  float current_ = 0;
  float min_ = 0, max_ = 0;
  std::optional<int64_t> last_update_;
  bool active_ = false;
};

}  // namespace vantisol
