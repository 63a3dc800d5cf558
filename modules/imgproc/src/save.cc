#include "imgproc/save.h"

#include <lodepng.h>

#include <sstream>
#include <vector>

#include "utils/logging.h"

namespace vantisol {
namespace imgproc {

namespace {

// The pixels in the byte order PNG stores: red first, 16-bit samples most significant byte first.
std::vector<unsigned char> PngBytes(const Image& image) {
  const size_t pixels = size_t(image.size.width) * image.size.height;
  const int pixel_size = Image::pixel_size(image.format);
  const uint8_t* data = image.data.get();
  std::vector<unsigned char> bytes(data, data + pixels * pixel_size);
  switch (image.format) {
    case Image::Format::kBGRA:
    case Image::Format::kBGR:
      for (size_t i = 0; i < pixels; ++i)
        std::swap(bytes[i * pixel_size], bytes[i * pixel_size + 2]);
      break;
    case Image::Format::kGray16:
      for (size_t i = 0; i < pixels; ++i) {
        const uint16_t value = reinterpret_cast<const uint16_t*>(data)[i];
        bytes[2 * i] = uint8_t(value >> 8);
        bytes[2 * i + 1] = uint8_t(value & 0xff);
      }
      break;
    default:
      break;
  }
  return bytes;
}

}  // namespace

void Save(const Image& image, std::string path) {
  if (image.empty()) {
    LOG(WARNING) << "Trying to save an empty image to " << path;
    return;
  }
  LodePNGColorType type;
  unsigned bit_depth = 8;
  switch (image.format) {
    case Image::Format::kBGRA:
    case Image::Format::kRGBA:
      type = LCT_RGBA;
      break;
    case Image::Format::kBGR:
    case Image::Format::kRGB:
      type = LCT_RGB;
      break;
    case Image::Format::kGray8:
      type = LCT_GREY;
      break;
    case Image::Format::kGray16:
      type = LCT_GREY;
      bit_depth = 16;
      break;
    default: {
      std::ostringstream name;
      name << image.format;
      LOG(ERROR) << name.str() << " not supported yet.";
      return;
    }
  }
  const unsigned error = lodepng::encode(path, PngBytes(image), unsigned(image.size.width),
                                         unsigned(image.size.height), type, bit_depth);
  if (error != 0) LOG(ERROR) << "Could not save image: " << lodepng_error_text(error);
}

}  // namespace imgproc
}  // namespace vantisol
