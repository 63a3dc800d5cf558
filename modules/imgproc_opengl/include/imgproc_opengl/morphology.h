#pragma once

#include <cstdint>
#include <string>

#include "opengl/image_filters.h"
#include "opengl/pixel_processor.h"
#include "opengl/texture.h"

namespace vantisol {
namespace opengl {

// Separable one-value morphology on 8-bit textures. Dilation turns a pixel into the target value
// when one within `size` pixels (horizontally, then vertically) has it; erosion turns it into the
// target when one within `size` pixels differs from it.
class Morphology {
 public:
  Morphology(bool erode, int size, uint8_t target);

  // In and out may be the same texture; out takes the input's size.
  void Apply(Texture& in, Texture& out);

  // The program text with the mode, target and size filled in.
  static std::string ProgramText(bool erode, int size, uint8_t target);

 private:
  Texture intermediate_{Image::Format::kGray8};
  PixelProcessor processor_;
};

// A Morphology run at 1/factor resolution: cheap large reaches at coarse precision.
class ScaledMorphology {
 public:
  ScaledMorphology(bool erode, int size, uint8_t target);

  // With scale-back on, out ends at in's size; off, out stays at the small size.
  void Apply(Texture& in, Texture& out, int factor);
  void set_scale_back(bool scale_back) { scale_back_ = scale_back; }

 private:
  Morphology morphology_;
  TextureScale scale_;
  Texture small_in_;
  Texture small_out_;
  bool scale_back_ = true;
};

}  // namespace opengl
}  // namespace vantisol
