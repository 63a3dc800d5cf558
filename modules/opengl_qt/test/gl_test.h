#pragma once

#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "utils/camera_image.h"
#include "utils/logging.h"

class QOpenGLContext;

namespace vantisol {

class OpenGLContext;

namespace test {

// The test binary's one offscreen context, current on the main thread during the tests.
OpenGLContext& TestContext();

// Leaves the calling thread's context current nowhere. A thread that made a context current calls
// this before it ends: otherwise Qt releases the context while it tears down the thread's storage
// and allocates a block for that thread which nothing frees.
void ReleaseCurrentContext();

// An image of random bytes (random values in [0, 1] for the float formats).
inline Image RandomImage(Size size, Image::Format format, unsigned seed) {
  Image image(size, format);
  std::mt19937 random(seed);
  const size_t bytes = size_t(size.width) * size.height * Image::pixel_size(format);
  if (format == Image::Format::kRGB32F || format == Image::Format::kDepth32) {
    auto* values = reinterpret_cast<float*>(image.data.get());
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (size_t i = 0; i < bytes / 4; ++i) values[i] = value(random);
  } else {
    for (size_t i = 0; i < bytes; ++i) image.data.get()[i] = uint8_t(random());
  }
  return image;
}

// Records the log lines written while it lives, as "LEVEL text".
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;
  // How many lines are exactly `line`.
  int Count(const std::string& line) const;
  // How many lines start with `prefix`.
  int CountPrefix(const std::string& prefix) const;
};

}  // namespace test
}  // namespace vantisol
