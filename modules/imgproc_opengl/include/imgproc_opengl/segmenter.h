#pragma once

#include <glbinding/gl/types.h>

#include <memory>
#include <vector>

#include "opengl/shader.h"
#include "opengl/texture.h"
#include "opengl/texture_draw.h"

namespace vantisol {
namespace opengl {

// Decides the unknown pixels of a trimap by colour. The input's alpha carries the trimap (1
// person, 0 background, 128/255 unknown). A pyramid of halvings keeps a coarse pixel known when
// its four finer pixels agree; from the coarsest level down, each unknown pixel takes the label of
// the nearest colour among nine pixels of the next coarser result and the previous frame's pixel.
class Segmenter {
 public:
  Segmenter();
  ~Segmenter();
  Segmenter(const Segmenter&) = delete;
  Segmenter& operator=(const Segmenter&) = delete;

  // Takes the input (4 channels) and computes all levels. Returns the input of the previous call
  // (null at first), so that the caller can fill it again instead of making a new texture.
  std::unique_ptr<Texture> Segment(std::unique_ptr<Texture> input);
  // The full-resolution result of the last Segment.
  Texture& result() { return *results_.front(); }
  // The next Segment decides without a previous frame.
  void Reset();

  int levels() const { return int(pyramid_.size()); }
  Texture& level(int i) { return *pyramid_[i]; }
  Texture& result(int i) { return *results_[i]; }

  // min(ceil(log2(height)) + 1, ceil(log2(width)) + 1).
  static int LevelCount(Size size);

 private:
  void Downscale(const Texture& finer, Texture& coarser);
  void Fill(const Texture& image, const Texture& smaller, const Texture* previous, Texture& result);

  std::vector<std::unique_ptr<Texture>> pyramid_;
  std::vector<std::unique_ptr<Texture>> results_;
  std::vector<std::unique_ptr<Texture>> previous_results_;
  ScreenQuad quad_;
  Shader fill_shader_;
  Shader downscale_shader_;
  TextureCopy copy_;
  gl::GLuint fill_framebuffer_ = 0;
  gl::GLuint downscale_framebuffer_ = 0;
};

}  // namespace opengl
}  // namespace vantisol
