#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <vector>

#include "utils/latency_calculator.h"

namespace vantisol {

struct Size {
  int32_t width = 0;
  int32_t height = 0;

  bool empty() const { return width == 0 || height == 0; }
  bool operator==(const Size& other) const {
    return width == other.width && height == other.height;
  }
  bool operator!=(const Size& other) const { return !(*this == other); }
};

std::ostream& operator<<(std::ostream& out, const Size& size);

// A face box in colour-image pixels.
struct Rectangle {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// A CPU picture. Copies share the pixel buffer; an image made over a caller's buffer does not own
// it. Rows follow each other without gaps.
class Image {
 public:
  enum class Format : int32_t {
    kInvalid = 0,
    kBGRA = 1,
    kRGBA = 2,
    kBGR = 3,
    kRGB = 4,
    kYUY2 = 5,
    kGray8 = 6,
    kGray16 = 7,
    kGray32 = 8,
    kRGB32F = 9,   // GPU textures only: three 32-bit floats
    kDepth32 = 10  // GPU textures only: one 32-bit depth value
  };

  Image() = default;
  // Without a buffer the image allocates (uninitialised) and owns its pixels.
  Image(Size size, Format format, uint8_t* buffer = nullptr);

  // Channel count and bytes per pixel; 0 (and a FATAL line) for a format without one.
  static int channels(Format format);
  static int pixel_size(Format format);

  bool valid() const { return format != Format::kInvalid; }
  bool empty() const { return size.empty(); }

  Size size;
  Format format = Format::kInvalid;
  std::shared_ptr<uint8_t> data;
};

std::ostream& operator<<(std::ostream& out, Image::Format format);

// One stream's camera model. Translation in metres; K row by row (fx, 0, cx, 0, fy, cy, 0, 0, 1).
struct Calibration {
  std::array<float, 3> T{};
  std::array<float, 9> R{};
  std::array<float, 9> K{};
  float k1 = 0, k2 = 0, k3 = 0;
  float p1 = 0, p2 = 0;
};

// An Image as one camera stream produced it.
class CameraImage : public Image {
 public:
  CameraImage() = default;
  CameraImage(const Image& image, const Calibration& calibration, int64_t time_stamp);
  CameraImage(const CameraImage& other) = default;
  CameraImage& operator=(const CameraImage& other) = default;

  Calibration calibration;
  // Nanoseconds since the first frame after the camera was opened.
  int64_t time_stamp = 0;
};

struct LandmarkData {
  std::array<float, 3> world{};
  std::array<float, 2> image{};
  int32_t confidence_image = 0;
  int32_t confidence_world = 0;
};

// One face as the camera runtime reports it; its id is the key of the frame's face map.
struct FaceData {
  Rectangle rect;
  int32_t average_depth = 0;  // millimetres, 0 when unknown
  std::vector<LandmarkData> landmarks;
  bool landmarks_invalid = false;
  bool not_seen = false;
  std::array<float, 3> angles{};    // degrees
  std::array<float, 3> position{};  // metres
};

// One captured frame, built once on the camera thread and then only read.
struct ImageData {
  ImageData(const CameraImage& color, const CameraImage& segmentation, const CameraImage& depth,
            const CameraImage& mapped_depth, const std::map<int, FaceData>& faces,
            const LatencyCalculator& latency);
  ~ImageData();

  CameraImage color;
  CameraImage depth;
  // Format kInvalid when the camera's segmentation is off.
  CameraImage segmentation;
  CameraImage mapped_depth;
  std::map<int, FaceData> faces;
  LatencyCalculator latency;
};

}  // namespace vantisol
