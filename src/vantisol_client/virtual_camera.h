#pragma once

#include <cstdint>
#include <vector>

#include "utils/camera_image.h"

namespace vantisol {

// The frame source behind the virtual camera's output pin.
class VirtualCamera {
 public:
  virtual ~VirtualCamera() = default;
  // The offered picture sizes.
  virtual std::vector<Size> resolutions() const = 0;
  // The size to deliver from the next stream start on.
  virtual void set_resolution(Size size) = 0;
  virtual Size resolution() const = 0;
  // Stream start and stop, on the pin's streaming thread.
  virtual bool StartThread() = 0;
  virtual bool StopThread() = 0;
  // Fills one sample of `size` bytes (bottom-up BGR) and its times in nanoseconds.
  virtual bool FillBuffer(unsigned char* buffer, long size, int64_t* start, int64_t* end) = 0;
};

}  // namespace vantisol
