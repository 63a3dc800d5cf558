#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "utils/camera_image.h"

namespace vantisol {

// Stretches the faces' tonal range: a linear mapping value × scale + offset (offset in 0..255
// units) that brings the faces' darkest and brightest levels toward the low and high targets.
// The first frame with faces sets the mapping at once; later frames move the mapped levels at
// 5 levels per second.
class ColorCorrectorSoftware {
 public:
  ColorCorrectorSoftware(int low_target, int high_target, bool debug);

  // Measures the faces' first channel and gives the updated mapping. A target of -1 keeps the
  // stored one. Frames without a usable face leave the mapping and its clock unchanged.
  bool GetScaleOffset(const cv::Mat& color, const cv::Mat& mask,
                      const std::vector<Rectangle>& faces, int64_t time_ns, float* scale,
                      float* offset, int low_target, int high_target);

  // image_out: the face's region of image, clipped to it (a view). mask_out: the mask's region, or
  // empty when the mask is empty or has no set pixel there. count: the pixels that count. A face
  // outside the image fails a check and gives empty regions and a count of 0.
  static void GetCroppedImages(Rectangle face, const cv::Mat& image, const cv::Mat& mask,
                               cv::Mat* image_out, cv::Mat* mask_out, int* count);

  float scale() const { return scale_; }
  float offset() const { return offset_; }

  // A step covers at most this much time, so a long gap without faces cannot make one jump.
  static constexpr int64_t kMaxStepTime = 1000000000;

 private:
  void ShowDebug(int index, const cv::Mat& crop, const cv::Mat& histogram) const;

  bool debug_;
  int high_target_ = 180;
  int low_target_ = 20;
  float scale_ = 1;
  float offset_ = 0;
  int64_t last_time_ = -1;
};

}  // namespace vantisol
