#pragma once

#include <glbinding/gl/types.h>

#include <memory>

#include "opengl/shader.h"
#include "opengl/texture.h"
#include "opengl/texture_draw.h"

namespace vantisol {

// Removes lens distortion from a kGray16 depth texture in place, copying raw values (never
// interpolating, which would invent surfaces across depth edges).
class Undistorter {
 public:
  Undistorter();
  virtual ~Undistorter();
  Undistorter(const Undistorter&) = delete;
  Undistorter& operator=(const Undistorter&) = delete;

  void RunDepth(Texture& depth_texture, const Calibration& calibration);

 private:
  gl::GLuint framebuffer_ = 0;
  gl::GLuint depth_program_ = 0;
  std::unique_ptr<Texture> scratch_;
  TextureCopy copy_;
  ScreenQuad quad_;
  Size size_;
  bool initialized_ = false;
};

}  // namespace vantisol
