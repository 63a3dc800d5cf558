#pragma once

#include <string>

#include "utils/camera_image.h"

namespace vantisol {
namespace imgproc {

// Writes an image as a PNG file: 8-bit RGBA or RGB (red first whatever the image's order),
// 8- or 16-bit grey. Other formats, an empty image and encoder failures are logged, not written.
void Save(const Image& image, std::string path);

}  // namespace imgproc
}  // namespace vantisol
