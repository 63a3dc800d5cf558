#include "imgproc_opencv/image_conversions.h"

#include <opencv2/imgproc.hpp>
#include <set>

#include "utils/logging.h"

namespace vantisol {

namespace {

// The matrix element type of a format, or -1 for one without.
int CvType(Image::Format format) {
  switch (format) {
    case Image::Format::kBGRA:
      return CV_8UC4;
    case Image::Format::kBGR:
      return CV_8UC3;
    case Image::Format::kYUY2:
      return CV_8UC2;
    case Image::Format::kGray8:
      return CV_8UC1;
    case Image::Format::kGray16:
      return CV_16UC1;
    default:
      return -1;
  }
}

}  // namespace

const cv::Mat AsCv(const Image& image) {
  const int type = CvType(image.format);
  if (type < 0) {
    LOG(FATAL) << "Format not supported: " << static_cast<int>(image.format);
    return cv::Mat();
  }
  const int rows = image.size.height, cols = image.size.width;
  if (!image.data) return cv::Mat(rows, cols, type);
  const size_t step = size_t(cols) * size_t(Image::pixel_size(image.format));
  return cv::Mat(rows, cols, type, image.data.get(), step);
}

const Image AsVantisol(const cv::Mat& mat) {
  VANTISOL_CHECK(mat.isContinuous());
  if (!mat.isContinuous()) return Image();
  Image::Format format = Image::Format::kInvalid;
  switch (mat.channels()) {
    case 1:
      format = Image::Format::kGray8;
      break;
    case 2:
      format = Image::Format::kYUY2;
      break;
    case 3:
      format = Image::Format::kBGR;
      break;
    case 4:
      format = Image::Format::kBGRA;
      break;
    default:
      LOG(FATAL) << "Not supported: " << mat.channels();
      return Image();
  }
  VANTISOL_CHECK(mat.depth() == 0);
  if (mat.depth() != CV_8U) return Image();
  // Image's own allocation (buffer null) is the fresh array released with array delete.
  return Image(Size{mat.cols, mat.rows}, format, mat.data);
}

const Image AsVantisol(const QImage& image) {
  VANTISOL_CHECK(image.format() == QImage::Format_ARGB32)
      << "Wrong format: " << static_cast<int>(image.format());
  if (image.format() != QImage::Format_ARGB32) return Image();
  // constBits() never detaches the shared QImage data, so the view sees the caller's pixels.
  return Image(Size{image.width(), image.height()}, Image::Format::kBGRA,
               const_cast<uint8_t*>(image.constBits()));
}

cv::Mat KeepWith3D(cv::Mat_<unsigned char> mask, cv::Mat_<unsigned char> reference) {
  VANTISOL_CHECK(mask.size() == reference.size()) << "Mask and reference differ in size";
  if (mask.size() != reference.size()) return mask;
  cv::Mat labels;
  cv::connectedComponents(reference, labels, 8, CV_32S);
  std::set<int> touching;
  for (int y = 0; y < labels.rows; ++y) {
    const int* label = labels.ptr<int>(y);
    const unsigned char* m = mask.ptr<unsigned char>(y);
    for (int x = 0; x < labels.cols; ++x) {
      if (label[x] != 0 && m[x] == 255) touching.insert(label[x]);
    }
  }
  if (touching.empty()) {
    LOG(WARNING) << "Very strange, there seems to be nothing in the image!";
    return mask;
  }
  cv::Mat result = cv::Mat::zeros(labels.size(), CV_8UC1);
  for (int l : touching) cv::bitwise_or(result, labels == l, result);
  return result;
}

}  // namespace vantisol
