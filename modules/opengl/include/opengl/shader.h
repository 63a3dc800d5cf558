#pragma once

#include <glbinding/gl/types.h>

#include <string>

#include "opengl/shader_interface.h"
#include "utils/camera_image.h"

namespace vantisol {

// The vertex stage of every full-screen pass: "position_in" passed on unchanged.
extern const std::string kPassThroughVertexShader;

class Shader : public ShaderInterface {
 public:
  Shader(const std::string& fragment, const std::string& vertex, const std::string& geometry);

  // Compile and link problems are logged; the program name is returned all the same.
  static gl::GLuint CreateShaderProgramFromStrings(const std::string& fragment_shader_string,
                                                   const std::string& vertex_shader_string,
                                                   const std::string& geometry_shader_string);
};

// Two triangles covering the whole viewport.
class ScreenQuad {
 public:
  ScreenQuad();
  virtual ~ScreenQuad();
  ScreenQuad(const ScreenQuad&) = delete;
  ScreenQuad& operator=(const ScreenQuad&) = delete;

  void Draw(gl::GLint position_location) const;

 private:
  gl::GLuint vbo_ = 0;
  gl::GLuint vao_ = 0;
};

// Sets a pass's viewport and restores the previous one.
class ViewportGuard {
 public:
  explicit ViewportGuard(Size size);
  ViewportGuard(int width, int height);
  ~ViewportGuard();
  ViewportGuard(const ViewportGuard&) = delete;
  ViewportGuard& operator=(const ViewportGuard&) = delete;

 private:
  gl::GLint saved_[4] = {0, 0, 0, 0};
};

}  // namespace vantisol
