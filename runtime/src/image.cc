#include "image.h"

#include <cstring>

namespace pxcsim {

pxcStatus Image::AcquireAccess(Access access, PixelFormat format, ImageData* data) {
  if (access != ACCESS_READ) return PXC_STATUS_PARAM_UNSUPPORTED;
  std::memset(data, 0, sizeof(*data));
  if (format == PIXEL_FORMAT_ANY || format == info_.format) {
    data->format = info_.format;
    data->pitches[0] = pitch_;
    data->planes[0] = pixels_.get();
    return PXC_STATUS_NO_ERROR;
  }
  if (format == PIXEL_FORMAT_RGB24 && info_.format == PIXEL_FORMAT_YUY2) {
    converted_.resize(size_t(info_.width) * info_.height * 3);
    for (int y = 0; y < info_.height; ++y) {
      const uint8_t* s = pixels_.get() + size_t(y) * pitch_;
      uint8_t* d = converted_.data() + size_t(y) * info_.width * 3;
      for (int x = 0; x < info_.width; ++x) {
        const float luma = s[x * 2], u = s[(x & ~1) * 2 + 1] - 128.0f,
                    v = s[(x & ~1) * 2 + 3] - 128.0f;
        auto clamp = [](float c) { return uint8_t(c < 0 ? 0 : c > 255 ? 255 : c); };
        d[x * 3] = clamp(luma + 1.772f * u);
        d[x * 3 + 1] = clamp(luma - 0.344f * u - 0.714f * v);
        d[x * 3 + 2] = clamp(luma + 1.402f * v);
      }
    }
    data->format = format;
    data->pitches[0] = info_.width * 3;
    data->planes[0] = converted_.data();
    return PXC_STATUS_NO_ERROR;
  }
  return PXC_STATUS_PARAM_UNSUPPORTED;
}

}  // namespace pxcsim
