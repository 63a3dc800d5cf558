#include "opengl/texture_draw.h"

#include <glbinding/gl/gl.h>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

namespace {

const char kDrawShader[] = R"(#version 430
//draw texture to current viewport
uniform sampler2D input_texture;
uniform int w;
uniform int h;
uniform bool flip_horizontal;
uniform bool flip_vertical;
uniform bool single_channel_texture;
uniform ivec2 offset;
out vec4 color;
void main() {
  float u = (gl_FragCoord.x - float(offset.x)) / float(w);
  float v = (gl_FragCoord.y - float(offset.y)) / float(h);
  if (flip_horizontal) u = 1.0 - u;
  if (flip_vertical) v = 1.0 - v;
  if (u < 0.0 || u > 1.0 || v < 0.0 || v > 1.0) discard;
  color = texture(input_texture, vec2(u, v));
  if (single_channel_texture) color.gb = color.rr;
}
)";

const char kCopyShader[] = R"(#version 430
uniform sampler2D input_texture;
uniform int x_offset;
uniform int y_offset;
out vec4 frag_color;
void main() {
  frag_color = texelFetch(input_texture, ivec2(gl_FragCoord.xy) + ivec2(x_offset, y_offset), 0);
}
)";

const char kCopyUnsignedShader[] = R"(#version 430
uniform usampler2D input_texture;
out uvec4 frag_out;
void main() {
  frag_out = texelFetch(input_texture, ivec2(gl_FragCoord.xy), 0);
}
)";

}  // namespace

TextureDraw::TextureDraw() : shader_(kDrawShader, kPassThroughVertexShader, std::string()) {}

Rectangle TextureDraw::Placement(Size texture_size, Size target, int fit_mode) {
  Rectangle placement{0, 0, target.width, target.height};
  if (fit_mode != kFit && fit_mode != kFill) return placement;
  const float ratio = (static_cast<float>(texture_size.width) / texture_size.height) /
                      (static_cast<float>(target.width) / target.height);
  if ((ratio > 1) != (fit_mode == kFill)) {
    const int h = static_cast<int>(target.height / ratio);
    placement.y = (target.height - h) / 2;
    placement.height = h;
  } else {
    const int w = static_cast<int>(target.width * ratio);
    placement.x = (target.width - w) / 2;
    placement.width = w;
  }
  return placement;
}

void TextureDraw::Draw(const Texture& texture, Size target, int fit_mode, int flip_flags) {
  const auto in_use = shader_.ScopedEnable();
  auto bound = texture.ScopedBind(shader_.GetTextureUnit("input_texture"));
  const Rectangle placement = Placement(texture.size(), target, fit_mode);
  DrawQuad(placement.width, placement.height, flip_flags, placement.x, placement.y,
           texture.channels() == 1);
}

void TextureDraw::Draw(GLuint texture, Rectangle placement, int flip_flags) {
  const auto in_use = shader_.ScopedEnable();
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, texture);
  glProgramUniform1i(shader_.program(), shader_.GetLocation("input_texture"), 0);
  DrawQuad(placement.width, placement.height, flip_flags, placement.x, placement.y, false);
  glBindTexture(GL_TEXTURE_2D, 0);
}

void TextureDraw::Draw(const Texture& texture, Rectangle placement, int flip_flags) {
  Draw(texture.id(), placement, flip_flags);
}

void TextureDraw::Draw(GLuint texture, Size size, int flip_flags) {
  Draw(texture, Rectangle{0, 0, size.width, size.height}, flip_flags);
}

void TextureDraw::DrawQuad(int w, int h, int flip_flags, int x, int y, bool single_channel) {
  shader_.SetUniform("w", w);
  shader_.SetUniform("h", h);
  shader_.SetUniform("flip_horizontal", (flip_flags & 1) != 0);
  shader_.SetUniform("flip_vertical", (flip_flags & 2) != 0);
  shader_.SetUniform("offset", Eigen::Vector2i(x, y));
  shader_.SetUniform("single_channel_texture", single_channel);
  quad_.Draw(glGetAttribLocation(shader_.program(), "position_in"));
}

TextureCopy::TextureCopy() {
  glGenFramebuffers(1, &framebuffer_);
  copy_program_ =
      Shader::CreateShaderProgramFromStrings(kCopyShader, kPassThroughVertexShader, std::string());
  copy_unsigned_program_ = Shader::CreateShaderProgramFromStrings(
      kCopyUnsignedShader, kPassThroughVertexShader, std::string());
}

TextureCopy::~TextureCopy() {
  glDeleteFramebuffers(1, &framebuffer_);
  glDeleteProgram(copy_program_);
  glDeleteProgram(copy_unsigned_program_);
}

void TextureCopy::Copy(const Texture& source, Texture& target) {
  target.Resize(source.size());
  Copy(source.id(), target.id(), source.size().width, source.size().height);
}

void TextureCopy::Copy(GLuint source, GLuint target, int width, int height) {
  Copy(source, target, 0, 0, width, height);
}

void TextureCopy::Copy(GLuint source, GLuint target, int x_offset, int y_offset, int width,
                       int height) {
  CopyWith(copy_program_, source, target, x_offset, y_offset, width, height, true);
}

void TextureCopy::CopyUnsigned(GLuint source, GLuint target, int width, int height) {
  CopyWith(copy_unsigned_program_, source, target, 0, 0, width, height, false);
}

void TextureCopy::CopyWith(GLuint program, GLuint source, GLuint target, int x_offset, int y_offset,
                           int width, int height, bool offsets) {
  ViewportGuard viewport(width, height);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
  glUseProgram(program);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, source);
  glProgramUniform1i(program, glGetUniformLocation(program, "input_texture"), 0);
  if (offsets) {
    glProgramUniform1i(program, glGetUniformLocation(program, "x_offset"), x_offset);
    glProgramUniform1i(program, glGetUniformLocation(program, "y_offset"), y_offset);
  }
  quad_.Draw(glGetAttribLocation(program, "position_in"));
  glBindTexture(GL_TEXTURE_2D, 0);
  glUseProgram(0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace vantisol
