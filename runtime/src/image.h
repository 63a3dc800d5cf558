#pragma once

// The runtime's own objects: released by whoever holds them; images own their pixels.

#include <cstdint>
#include <memory>
#include <vector>

#include "pxc/pxc.h"

namespace pxcsim {

template <typename Interface>
class Object : public Interface {
 public:
  void* QueryInstance(pxcUID) override { return nullptr; }
  void Release() override { delete this; }
};

// An image that owns its pixels.
class Image : public Object<PXCImage> {
 public:
  // Zeroed, unless whoever makes it writes every byte.
  enum Fill { kZeroed, kWrittenWhole };
  Image(int width, int height, PixelFormat format, int pitch, int64_t time_stamp,
        Fill fill = kZeroed)
      : info_{width, height, format},
        pitch_(pitch),
        time_stamp_(time_stamp),
        pixels_(fill == kZeroed ? new uint8_t[size_t(pitch) * height]()
                                : new uint8_t[size_t(pitch) * height]) {}
  ImageInfo QueryInfo() override { return info_; }
  pxcI64 QueryTimeStamp() override { return time_stamp_; }
  pxcStatus AcquireAccess(Access access, PixelFormat format, ImageData* data) override;
  pxcStatus ReleaseAccess(ImageData*) override { return PXC_STATUS_NO_ERROR; }

  uint8_t* pixels() { return pixels_.get(); }
  int pitch() const { return pitch_; }
  void set_time_stamp(int64_t time_stamp) { time_stamp_ = time_stamp; }

 private:
  ImageInfo info_;
  int pitch_;
  int64_t time_stamp_;
  std::unique_ptr<uint8_t[]> pixels_;
  std::vector<uint8_t> converted_;
};

}  // namespace pxcsim
