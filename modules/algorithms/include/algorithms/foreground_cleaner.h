#pragma once

#include "opengl/image_filters.h"
#include "opengl/pixel_processor.h"
#include "opengl/texture.h"

namespace vantisol {
namespace algorithms {

// Keeps only the parts of a segmentation that the depth trimap supports: at 1/factor resolution,
// the connected parts of the segmentation that touch a sure person pixel of the trimap.
class ForegroundCleaner {
 public:
  ForegroundCleaner();

  void Process(Texture& segmentation, Texture& trimap, Texture& result, int factor);

 private:
  opengl::PixelProcessor final_mask_;
  TextureScale scale_;
  Texture small_segmentation_{Image::Format::kGray8};
  Texture small_trimap_{Image::Format::kGray8};
  // The kept parts, uploaded; reused from frame to frame.
  Texture kept_{Image::Format::kGray8};
};

}  // namespace algorithms
}  // namespace vantisol
