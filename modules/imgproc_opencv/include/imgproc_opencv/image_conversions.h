#pragma once

#include <QImage>
#include <opencv2/core.hpp>

#include "utils/camera_image.h"

namespace vantisol {

// Views between the system's Image, OpenCV matrices and Qt images. None of them copies pixels: the
// result shares the source's memory (or is a fresh uninitialised buffer when the source has none),
// so the caller keeps the source alive while the result is used. Unsupported input logs a FATAL
// line and gives an empty result.

// kBGRA, kBGR, kYUY2, kGray8 and kGray16 only.
const cv::Mat AsCv(const Image& image);
// Continuous 8-bit matrices with 1 to 4 channels (kGray8, kYUY2, kBGR, kBGRA).
const Image AsVantisol(const cv::Mat& mat);
// QImage::Format_ARGB32 only, viewed as kBGRA.
const Image AsVantisol(const QImage& image);

// The connected components (8-connected) of reference that touch a 255 pixel of mask, as 255 on 0.
// Returns mask itself when no component touches it.
cv::Mat KeepWith3D(cv::Mat_<unsigned char> mask, cv::Mat_<unsigned char> reference);

}  // namespace vantisol
