#include "opengl/undistorter.h"

#include <glbinding/gl/gl.h>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

namespace {

const char kDepthShader[] = R"(#version 430
uniform usampler2D src_tex_u;
uniform float fx;
uniform float fy;
uniform vec2 center;
uniform vec3 k;
uniform vec2 p;
out uvec4 depth_out;
void main() {
  vec2 x = gl_FragCoord.xy - 0.5;
  vec2 n = (x - center) / vec2(fx, fy);
  float r2 = n.x * n.x + n.y * n.y;
  float r4 = r2 * r2;
  float r6 = r4 * r2;
  float radial = 1.0 + k.x * r2 + k.y * r4 + k.z * r6;
  float tx = 2.0 * p.x * n.x * n.y + p.y * (r2 + 2.0 * n.x * n.x);
  float ty = 2.0 * p.y * n.x * n.y + p.x * (r2 + 2.0 * n.y * n.y);
  vec2 d = radial * n + vec2(tx, ty);
  ivec2 source = ivec2(vec2(fx, fy) * d + center + 0.5);
  // Outside the image there is no measurement.
  ivec2 size = textureSize(src_tex_u, 0);
  bool inside = all(greaterThanEqual(source, ivec2(0))) && all(lessThan(source, size));
  depth_out = inside ? texelFetch(src_tex_u, source, 0) : uvec4(0u);
}
)";

}  // namespace

Undistorter::Undistorter() {
  glGenFramebuffers(1, &framebuffer_);
  depth_program_ =
      Shader::CreateShaderProgramFromStrings(kDepthShader, kPassThroughVertexShader, std::string());
}

Undistorter::~Undistorter() {
  glDeleteFramebuffers(1, &framebuffer_);
  glDeleteProgram(depth_program_);
}

void Undistorter::RunDepth(Texture& depth_texture, const Calibration& calibration) {
  VANTISOL_CHECK(depth_texture.internal_format() == Image::Format::kGray16);
  if (depth_texture.internal_format() != Image::Format::kGray16) return;
  GLfloat clear_color[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_color);
  glClearColor(0, 0, 0, 1);
  const Size size = depth_texture.size();
  if (!initialized_) {
    scratch_ = std::make_unique<Texture>(Image::Format::kGray16);
    initialized_ = true;
  }
  if (size != size_ || scratch_->size() != size) {
    size_ = size;
    scratch_->Resize(size);
  }
  {
    ViewportGuard viewport(size);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, scratch_->id(), 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glUseProgram(depth_program_);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, depth_texture.id());
    const auto location = [this](const char* name) {
      return glGetUniformLocation(depth_program_, name);
    };
    const auto& K = calibration.K;
    glProgramUniform1i(depth_program_, location("src_tex_u"), 0);
    glProgramUniform1f(depth_program_, location("fx"), K[0]);
    glProgramUniform1f(depth_program_, location("fy"), K[4]);
    glProgramUniform2f(depth_program_, location("center"), K[2], K[5]);
    glProgramUniform3f(depth_program_, location("k"), calibration.k1, calibration.k2,
                       calibration.k3);
    glProgramUniform2f(depth_program_, location("p"), calibration.p1, calibration.p2);
    quad_.Draw(glGetAttribLocation(depth_program_, "position_in"));
    glBindTexture(GL_TEXTURE_2D, 0);
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
  copy_.CopyUnsigned(scratch_->id(), depth_texture.id(), size.width, size.height);
  glClearColor(clear_color[0], clear_color[1], clear_color[2], clear_color[3]);
}

}  // namespace vantisol
