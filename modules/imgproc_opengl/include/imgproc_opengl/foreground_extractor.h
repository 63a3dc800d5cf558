#pragma once

#include <vector>

#include "imgproc_opengl/morphology.h"
#include "imgproc_opengl/step_dumper.h"
#include "opengl/pixel_processor.h"
#include "opengl/texture.h"
#include "utils/camera_image.h"

namespace vantisol {
namespace opengl {

// The depth threshold (millimetres) that best splits the depth histogram within `window`
// millimetres behind the farthest face (balanced histogram thresholding over every 16th pixel
// in both directions).
int GetThreshold(const Image& image, const std::vector<FaceData>& faces, int window);

// The first segmentation of a frame: a kGray8 trimap (255 person, 0 background, 128 unknown) of
// the depth projected into the colour picture, with unknown bands along depth edges and
// background far from the person and the face boxes.
class ForegroundExtractor {
 public:
  static constexpr int kMaxFaces = 4;

  ForegroundExtractor();

  // With a depth image `threshold` is the search window of GetThreshold, else the threshold.
  void Extract(Texture& projected_depth, Texture& trimap, std::vector<FaceData> faces,
               const Image* depth_image, int threshold);

  // The threshold of the last Extract, in millimetres.
  int last_threshold() const { return last_threshold_; }

 private:
  StepDumper dumper_{"ForegroundExtractor"};
  PixelProcessor trimap_processor_;
  PixelProcessor mask_processor_;
  Texture dilated_person_{Image::Format::kGray8};
  Texture person_{Image::Format::kGray8};
  Morphology erosion_{true, 4, 128};
  ScaledMorphology dilation_{false, 17, 255};
  int last_threshold_ = 0;
};

}  // namespace opengl
}  // namespace vantisol
