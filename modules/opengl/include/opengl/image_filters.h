#pragma once

#include <glbinding/gl/types.h>

#include "opengl/shader.h"
#include "opengl/texture.h"
#include "opengl/texture_draw.h"

namespace vantisol {

// Packed YUY2 (two-channel texture: Y, then U on even and V on odd columns) to RGB, with a
// brightness correction of Y on the way.
class ColorConverter {
 public:
  ColorConverter();
  virtual ~ColorConverter();
  ColorConverter(const ColorConverter&) = delete;
  ColorConverter& operator=(const ColorConverter&) = delete;

  void SetParams(float y_scale, float y_offset);
  void Convert(const Texture& input, Texture& output);

 private:
  gl::GLuint framebuffer_ = 0;
  Shader shader_;
  float y_scale_ = 1.0f;
  float y_offset_ = 0.0f;
  ScreenQuad quad_;
};

// Edge-preserving smoothing over an 11x11 window.
class BilateralFilter {
 public:
  static constexpr float kDefaultSigmaD = 1.5f;
  static constexpr float kDefaultSigmaR = 0.025f;

  BilateralFilter();
  virtual ~BilateralFilter();
  BilateralFilter(const BilateralFilter&) = delete;
  BilateralFilter& operator=(const BilateralFilter&) = delete;

  void Filter(const Texture& input, Texture& output);

 private:
  gl::GLuint framebuffer_ = 0;
  Shader shader_;

 public:
  float sigma_d = kDefaultSigmaD;
  float sigma_r = kDefaultSigmaR;

 private:
  ScreenQuad quad_;
};

// Draws one texture over the whole of another with a fit mode; the target keeps its size and
// format and is not cleared.
class TextureScale {
 public:
  TextureScale();
  virtual ~TextureScale();
  TextureScale(const TextureScale&) = delete;
  TextureScale& operator=(const TextureScale&) = delete;

  void Scale(const Texture& source, Texture& target, int fit_mode);

 private:
  gl::GLuint framebuffer_ = 0;
  TextureDraw draw_;
};

}  // namespace vantisol
