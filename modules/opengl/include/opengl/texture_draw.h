#pragma once

#include <glbinding/gl/types.h>

#include "opengl/shader.h"
#include "opengl/texture.h"

namespace vantisol {

// Draws a texture into the current framebuffer and viewport, stretched, letterboxed or cropped,
// optionally mirrored, at a pixel offset.
class TextureDraw {
 public:
  enum FitMode { kStretch = 0, kFit = 1, kFill = 2 };

  TextureDraw();
  virtual ~TextureDraw() = default;

  void Draw(const Texture& texture, Size target, int fit_mode, int flip_flags);
  void Draw(gl::GLuint texture, Rectangle placement, int flip_flags);
  void Draw(const Texture& texture, Rectangle placement, int flip_flags);
  void Draw(gl::GLuint texture, Size size, int flip_flags);

  // The drawn rectangle (offset and size) of a texture of `texture_size` in `target`.
  static Rectangle Placement(Size texture_size, Size target, int fit_mode);

 private:
  void DrawQuad(int w, int h, int flip_flags, int x, int y, bool single_channel);

  Shader shader_;
  ScreenQuad quad_;
};

// Copies a texture, or a window of it, pixel for pixel into another texture.
class TextureCopy {
 public:
  TextureCopy();
  virtual ~TextureCopy();
  TextureCopy(const TextureCopy&) = delete;
  TextureCopy& operator=(const TextureCopy&) = delete;

  void Copy(const Texture& source, Texture& target);
  void Copy(gl::GLuint source, gl::GLuint target, int width, int height);
  void Copy(gl::GLuint source, gl::GLuint target, int x_offset, int y_offset, int width,
            int height);
  void CopyUnsigned(gl::GLuint source, gl::GLuint target, int width, int height);

 private:
  void CopyWith(gl::GLuint program, gl::GLuint source, gl::GLuint target, int x_offset,
                int y_offset, int width, int height, bool offsets);

  gl::GLuint framebuffer_ = 0;
  gl::GLuint copy_program_ = 0;
  gl::GLuint copy_unsigned_program_ = 0;
  ScreenQuad quad_;
};

}  // namespace vantisol
