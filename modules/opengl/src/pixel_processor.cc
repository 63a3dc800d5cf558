#include "opengl/pixel_processor.h"

#include <glbinding/gl/gl.h>

using namespace gl;

namespace vantisol {
namespace opengl {

PixelProcessor::PixelProcessor(const std::string& fragment_shader)
    : shader_(fragment_shader, kPassThroughVertexShader, std::string()) {
  glGenFramebuffers(1, &framebuffer_);
}

PixelProcessor::~PixelProcessor() { glDeleteFramebuffers(1, &framebuffer_); }

void PixelProcessor::Run(const Texture& input, const Texture& input2, const Texture& input3,
                         Texture& output) {
  auto bound = input3.ScopedBind(shader_.GetTextureUnit("input_texture3"));
  Run(input, input2, output);
}

void PixelProcessor::Run(const Texture& input, const Texture& input2, Texture& output) {
  auto bound = input2.ScopedBind(shader_.GetTextureUnit("input_texture2"));
  Run(input, output);
}

void PixelProcessor::Run(const Texture& input, Texture& output) {
  auto bound = input.ScopedBind(shader_.GetTextureUnit("input_texture"));
  Render(input.size(), output);
}

void PixelProcessor::Render(Size size, Texture& output) {
  if (resize_output) {
    output.Resize(size);
  } else {
    size = output.size();
  }
  ViewportGuard viewport(size);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, output.id(), 0);
  const auto in_use = shader_.ScopedEnable();
  quad_.Draw(glGetAttribLocation(shader_.program(), "position_in"));
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace opengl
}  // namespace vantisol
