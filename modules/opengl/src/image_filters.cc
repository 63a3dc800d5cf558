#include "opengl/image_filters.h"

#include <glbinding/gl/gl.h>

using namespace gl;

namespace vantisol {

namespace {

const char kConversionShader[] = R"(#version 430
uniform sampler2D input_texture;
uniform float y_scale;
uniform float y_offset;
out vec4 color;
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  int even = p.x - p.x % 2;
  float y = texelFetch(input_texture, p, 0).r;
  float u = texelFetch(input_texture, ivec2(even, p.y), 0).g - 0.5;
  float v = texelFetch(input_texture, ivec2(even + 1, p.y), 0).g - 0.5;
  y = 1.1643 * (y * y_scale + y_offset - 0.0625);
  color = vec4(y + 1.5958 * v, y - 0.39173 * u - 0.81290 * v, y + 2.017 * u, 1.0);
}
)";

const char kBilateralShader[] = R"(#version 430
uniform sampler2D input_texture;
uniform float sigma_d;
uniform float sigma_r;
out vec4 color;
const int kRadius = 5;
float Intensity(vec4 c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  ivec2 last = textureSize(input_texture, 0) - 1;
  vec4 centre = texelFetch(input_texture, p, 0);
  float centre_intensity = Intensity(centre);
  vec4 sum = vec4(0.0);
  float weights = 0.0;
  for (int j = -kRadius; j <= kRadius; ++j) {
    for (int i = -kRadius; i <= kRadius; ++i) {
      // Neighbours outside the image repeat the edge.
      vec4 n = texelFetch(input_texture, clamp(p + ivec2(i, j), ivec2(0), last), 0);
      float d = centre_intensity - Intensity(n);
      float w = exp(-float(i * i + j * j) / (2.0 * sigma_d * sigma_d)
                    - d * d / (2.0 * sigma_r * sigma_r));
      sum += w * n;
      weights += w;
    }
  }
  color = sum / weights;
}
)";

void DrawFullScreen(GLuint framebuffer, Shader& shader, const ScreenQuad& quad,
                    const Texture& input, Texture& output) {
  output.Resize(input.size());
  ViewportGuard viewport(input.size());
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, output.id(), 0);
  {
    const auto in_use = shader.ScopedEnable();
    auto bound = input.ScopedBind(shader.GetTextureUnit("input_texture"));
    quad.Draw(glGetAttribLocation(shader.program(), "position_in"));
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace

ColorConverter::ColorConverter()
    : shader_(kConversionShader, kPassThroughVertexShader, std::string()) {
  glGenFramebuffers(1, &framebuffer_);
}

ColorConverter::~ColorConverter() { glDeleteFramebuffers(1, &framebuffer_); }

void ColorConverter::SetParams(float y_scale, float y_offset) {
  y_scale_ = y_scale;
  y_offset_ = y_offset;
}

void ColorConverter::Convert(const Texture& input, Texture& output) {
  shader_.SetUniform("y_scale", y_scale_);
  shader_.SetUniform("y_offset", y_offset_);
  DrawFullScreen(framebuffer_, shader_, quad_, input, output);
}

BilateralFilter::BilateralFilter()
    : shader_(kBilateralShader, kPassThroughVertexShader, std::string()) {
  glGenFramebuffers(1, &framebuffer_);
}

BilateralFilter::~BilateralFilter() { glDeleteFramebuffers(1, &framebuffer_); }

void BilateralFilter::Filter(const Texture& input, Texture& output) {
  shader_.SetUniform("sigma_d", sigma_d);
  shader_.SetUniform("sigma_r", sigma_r);
  DrawFullScreen(framebuffer_, shader_, quad_, input, output);
}

TextureScale::TextureScale() { glGenFramebuffers(1, &framebuffer_); }

TextureScale::~TextureScale() { glDeleteFramebuffers(1, &framebuffer_); }

void TextureScale::Scale(const Texture& source, Texture& target, int fit_mode) {
  ViewportGuard viewport(target.size());
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.id(), 0);
  draw_.Draw(source, target.size(), fit_mode, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace vantisol
