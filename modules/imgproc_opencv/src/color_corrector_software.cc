#include "imgproc_opencv/color_corrector_software.h"

#include <algorithm>
#include <cmath>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "utils/logging.h"

namespace vantisol {

namespace {

// Moves value toward target by at most step, never past it; values within 1 stay.
float Approach(float value, float target, float step) {
  if (std::abs(value - target) < 1) return value;
  if (value > target) return std::max(target, value - step);
  return std::min(target, value + step);
}

}  // namespace

ColorCorrectorSoftware::ColorCorrectorSoftware(int low_target, int high_target, bool debug)
    : debug_(debug), high_target_(high_target), low_target_(low_target) {
  if (debug_) {
    for (int i = 0; i < 2; ++i) {
      const std::string face = "Face " + std::to_string(i);
      const std::string histogram = "Histogram " + std::to_string(i);
      cv::namedWindow(face);
      cv::moveWindow(face, 0, 400 * i);
      cv::namedWindow(histogram);
      cv::moveWindow(histogram, 400, 400 * i);
    }
  }
}

void ColorCorrectorSoftware::GetCroppedImages(Rectangle face, const cv::Mat& image,
                                              const cv::Mat& mask, cv::Mat* image_out,
                                              cv::Mat* mask_out, int* count) {
  const int x0 = std::max(face.x, 0);
  const int y0 = std::max(face.y, 0);
  // 64-bit sums: a box near INT_MAX must not wrap into the picture.
  const int x1 = int(std::min<int64_t>(int64_t(face.x) + face.width, image.cols));
  const int y1 = int(std::min<int64_t>(int64_t(face.y) + face.height, image.rows));
  cv::Rect face_cv;
  if (x1 - x0 >= 1 && y1 - y0 >= 1) face_cv = cv::Rect(x0, y0, x1 - x0, y1 - y0);
  VANTISOL_CHECK(face_cv != cv::Rect()) << "No intersection of face with image...?";

  *image_out = face_cv.empty() ? cv::Mat() : image(face_cv);
  cv::Mat mask_region;
  if (!mask.empty() && !face_cv.empty()) mask_region = mask(face_cv);
  *mask_out = (mask_region.empty() || cv::countNonZero(mask_region) == 0) ? cv::Mat() : mask_region;
  if (count) *count = mask_out->empty() ? face_cv.area() : cv::countNonZero(*mask_out);
}

bool ColorCorrectorSoftware::GetScaleOffset(const cv::Mat& color, const cv::Mat& mask,
                                            const std::vector<Rectangle>& faces, int64_t time_ns,
                                            float* scale, float* offset, int low_target,
                                            int high_target) {
  VANTISOL_CHECK(scale) << "scale";
  VANTISOL_CHECK(offset) << "offset";
  if (!scale || !offset) return false;
  if (low_target != -1) low_target_ = low_target;
  if (high_target != -1) high_target_ = high_target;

  std::vector<int> lows, highs;
  for (size_t i = 0; i < faces.size(); ++i) {
    cv::Mat crop, crop_mask;
    int n = 0;
    GetCroppedImages(faces[i], color, mask, &crop, &crop_mask, &n);
    if (crop.empty()) continue;
    cv::Mat histogram;
    const int channels[] = {0};
    const int bins[] = {256};
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    cv::calcHist(&crop, 1, channels, crop_mask, histogram, 1, bins, ranges);
    VANTISOL_CHECK(histogram.size() == cv::Size(1, 256)) << "Size is wrong: " << histogram.size();
    // CV_32FC1 written out as the macro expands, so that a failure logs the same expression.
    VANTISOL_CHECK(histogram.type() == (((5) & ((1 << 3) - 1)) + (((1) - 1) << 3)));
    if (histogram.size() != cv::Size(1, 256) || histogram.type() != CV_32FC1) continue;

    int threshold = n / 255;
    if (threshold < 2) threshold = 1;
    int low = 0, high = 255;
    int64_t sum = 0;
    for (int bin = 0; bin < 256; ++bin) {
      sum += int64_t(histogram.at<float>(bin));
      if (sum >= threshold) {
        low = bin;
        break;
      }
    }
    sum = 0;
    for (int bin = 255; bin >= 0; --bin) {
      sum += int64_t(histogram.at<float>(bin));
      if (sum >= threshold) {
        high = bin;
        break;
      }
    }
    lows.push_back(low);
    highs.push_back(high);
    if (debug_ && i < 2) ShowDebug(int(i), crop, histogram);
  }

  if (!lows.empty()) {
    float L = 0, H = 0;
    for (size_t i = 0; i < lows.size(); ++i) {
      L += float(lows[i]);
      H += float(highs[i]);
    }
    L /= float(lows.size());
    H /= float(highs.size());
    // A face of one level (or an inverted measurement) defines no stretch: keep the mapping, and
    // its clock, as for a frame without faces.
    if (H - L > 0) {
      float l = float(low_target_), h = float(high_target_);
      if (last_time_ != -1) {
        const int64_t elapsed = std::clamp<int64_t>(time_ns - last_time_, 0, kMaxStepTime);
        const float step = float(double(elapsed) * 5e-9);
        l = Approach(L * scale_ + offset_, float(low_target_), step);
        h = Approach(H * scale_ + offset_, float(high_target_), step);
      }
      const float new_scale = (h - l) / (H - L);
      if (std::isfinite(new_scale) && new_scale > 0) {
        last_time_ = time_ns;
        scale_ = new_scale;
        offset_ = l - scale_ * L;
      }
    }
  }
  *scale = scale_;
  *offset = offset_;
  return true;
}

void ColorCorrectorSoftware::ShowDebug(int index, const cv::Mat& crop,
                                       const cv::Mat& histogram) const {
  double peak = 0;
  cv::minMaxLoc(histogram, nullptr, &peak);
  cv::Mat plot(200, 256, CV_8UC1, cv::Scalar(0));
  for (int bin = 0; bin < 256; ++bin) {
    const int height = peak > 0 ? int(histogram.at<float>(bin) / peak * 199) : 0;
    cv::line(plot, cv::Point(bin, 199), cv::Point(bin, 199 - height), cv::Scalar(255));
  }
  std::vector<cv::Mat> planes;
  cv::split(crop, planes);
  cv::imshow("Face " + std::to_string(index), planes[0]);
  cv::imshow("Histogram " + std::to_string(index), plot);
}

}  // namespace vantisol
