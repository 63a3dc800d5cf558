#pragma once

#include <glbinding/gl/types.h>

#include <string>

#include "opengl/shader.h"
#include "opengl/texture.h"

namespace vantisol {
namespace opengl {

// One fragment shader run over every output pixel, reading up to three inputs through the
// samplers "input_texture", "input_texture2" and "input_texture3".
class PixelProcessor {
 public:
  explicit PixelProcessor(const std::string& fragment_shader);
  virtual ~PixelProcessor();
  PixelProcessor(const PixelProcessor&) = delete;
  PixelProcessor& operator=(const PixelProcessor&) = delete;

  void Run(const Texture& input, Texture& output);
  void Run(const Texture& input, const Texture& input2, Texture& output);
  void Run(const Texture& input, const Texture& input2, const Texture& input3, Texture& output);
  // The draw alone, with the inputs already bound.
  void Render(Size size, Texture& output);

  Shader& shader() { return shader_; }

 private:
  gl::GLuint framebuffer_ = 0;
  Shader shader_;
  ScreenQuad quad_;

 public:
  bool resize_output = true;
};

}  // namespace opengl
}  // namespace vantisol
