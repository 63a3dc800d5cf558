#include "utils/camera_image.h"

#include "utils/logging.h"

namespace vantisol {

std::ostream& operator<<(std::ostream& out, const Size& size) {
  return out << size.width << "x" << size.height;
}

std::ostream& operator<<(std::ostream& out, Image::Format format) {
  switch (format) {
    case Image::Format::kInvalid:
      return out << "Image::Format::kInvalid";
    case Image::Format::kBGRA:
      return out << "Image::Format::kBGRA";
    case Image::Format::kRGBA:
      return out << "Image::Format::kRGBA";
    case Image::Format::kBGR:
      return out << "Image::Format::kBGR";
    case Image::Format::kRGB:
      return out << "Image::Format::kRGB";
    case Image::Format::kYUY2:
      return out << "Image::Format::kYUY2";
    case Image::Format::kGray8:
      return out << "Image::Format::kGray8";
    case Image::Format::kGray16:
      return out << "Image::Format::kGray16";
    case Image::Format::kGray32:
      return out << "Image::Format::kGray32";
    default:
      return out << "ERROR_UNKNOWN_FORMAT";
  }
}

Image::Image(Size size_in, Format format_in, uint8_t* buffer) : size(size_in), format(format_in) {
  if (buffer != nullptr) {
    data = std::shared_ptr<uint8_t>(buffer, [](uint8_t*) {});
  } else {
    const size_t bytes = static_cast<size_t>(size.width) * static_cast<size_t>(size.height) *
                         static_cast<size_t>(pixel_size(format));
    data = std::shared_ptr<uint8_t>(new uint8_t[bytes], std::default_delete<uint8_t[]>());
  }
}

int Image::channels(Format format) {
  switch (format) {
    case Format::kBGRA:
    case Format::kRGBA:
      return 4;
    case Format::kBGR:
    case Format::kRGB:
    case Format::kRGB32F:
      return 3;
    case Format::kYUY2:
      return 2;
    case Format::kGray8:
    case Format::kGray16:
    case Format::kGray32:
      return 1;
    default:
      LOG(FATAL) << format << " not supported yet.";
      return 0;
  }
}

int Image::pixel_size(Format format) {
  switch (format) {
    case Format::kBGRA:
    case Format::kRGBA:
    case Format::kGray32:
    case Format::kDepth32:
      return 4;
    case Format::kBGR:
    case Format::kRGB:
      return 3;
    case Format::kYUY2:
    case Format::kGray16:
      return 2;
    case Format::kGray8:
      return 1;
    case Format::kRGB32F:
      return 12;
    default:
      LOG(FATAL) << format << " not supported yet.";
      return 0;
  }
}

CameraImage::CameraImage(const Image& image, const Calibration& calibration_in,
                         int64_t time_stamp_in)
    : Image(image), calibration(calibration_in), time_stamp(time_stamp_in) {}

ImageData::ImageData(const CameraImage& color_in, const CameraImage& segmentation_in,
                     const CameraImage& depth_in, const CameraImage& mapped_depth_in,
                     const std::map<int, FaceData>& faces_in, const LatencyCalculator& latency_in)
    : color(color_in),
      depth(depth_in),
      segmentation(segmentation_in),
      mapped_depth(mapped_depth_in),
      faces(faces_in),
      latency(latency_in) {}

ImageData::~ImageData() = default;

}  // namespace vantisol
