#include "algorithms/crop_renderer.h"

#include <glbinding/gl/gl.h>

#include "opengl/texture_draw.h"

using namespace gl;

namespace vantisol {

namespace {

const char kTileShader[] = R"(#version 430
// draw output of face cropper
uniform sampler2D input_texture;
uniform ivec2 input_res;
uniform mat3 inv_transformation;
uniform vec4 rectangle;
out vec4 color;
void main() {
  vec3 p = vec3(gl_FragCoord.x - rectangle.x, gl_FragCoord.y - rectangle.y, 1.0);
  vec3 q = inv_transformation * p;
  q /= q.z;
  color = texture(input_texture, vec2(q.x / float(input_res.x), q.y / float(input_res.y)));
}
)";

}  // namespace

CropRenderer::CropRenderer()
    : output_(std::make_unique<Texture>(Image::Format::kRGB)),
      tile_shader_(kTileShader, kPassThroughVertexShader, std::string()) {}

CropRenderer::~CropRenderer() {
  if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
}

void CropRenderer::MakeGlObjects() {
  glGenFramebuffers(1, &framebuffer_);
  quad_ = std::make_unique<ScreenQuad>();
  texture_draw_ = std::make_unique<TextureDraw>();
  initialized_ = true;
}

void CropRenderer::Draw(const Texture& input, const std::vector<CropTile>& tiles, Size output_size,
                        Texture* target) {
  if (!initialized_) MakeGlObjects();
  Texture& out = target != nullptr ? *target : *output_;
  out.Resize(output_size);
  ViewportGuard viewport(output_size);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, out.id(), 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (tiles.empty()) {
    texture_draw_->Draw(input, output_size, TextureDraw::kStretch, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return;
  }
  const auto in_use = tile_shader_.ScopedEnable();
  const GLint position = glGetAttribLocation(tile_shader_.program(), "position_in");
  for (const CropTile& tile : tiles) {
    const Rectangle& r = tile.rectangle;
    glViewport(r.x, r.y, r.width, r.height);
    const Eigen::Matrix3f inverse = tile.matrix.inverse();
    auto bound = input.ScopedBind(0);
    tile_shader_.SetUniform("input_texture", 0);
    tile_shader_.SetUniform("input_res", Eigen::Vector2i(input.size().width, input.size().height));
    // Eigen stores column by column, as GLSL reads a mat3: no transpose.
    tile_shader_.SetUniform("inv_transformation", inverse, false);
    tile_shader_.SetUniform(
        "rectangle", Eigen::Vector4f(static_cast<float>(r.x), static_cast<float>(r.y),
                                     static_cast<float>(r.width), static_cast<float>(r.height)));
    quad_->Draw(position);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace vantisol
