#include "opengl/depth_projection.h"

#include <glbinding/gl/gl.h>

#include <Eigen/LU>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

namespace {

const char kVertexShader[] = R"(#version 430
uniform usampler2D source_depth_texture;
// The source camera's inverses come computed once per call: llvmpipe shades the vertices of the
// whole grid on one core, where two 3x3 inversions per vertex cost more than the rest.
uniform mat3 source_cam_K_inverse;
uniform mat3 source_cam_R_inverse;
uniform vec3 source_cam_T;
uniform mat3 target_cam_K;
uniform mat3 target_cam_R;
uniform vec3 target_cam_T;
uniform int target_cam_w;
uniform int target_cam_h;
in uvec3 position_in;
out vec4 eye_position;
void main() {
  ivec2 pixel = ivec2(position_in.xy);
  float z = float(texelFetch(source_depth_texture, pixel, 0).r) / 1000.0;
  vec3 source_eye = source_cam_K_inverse * vec3(vec2(pixel) * z, z);
  vec3 world = source_cam_R_inverse * (source_eye - source_cam_T);
  vec3 target_eye = target_cam_R * world + target_cam_T;
  vec3 projected = target_cam_K * target_eye;
  projected /= projected.z;
  vec2 ndc = projected.xy / vec2(target_cam_w, target_cam_h) * 2.0 - 1.0;
  // Clip depth from the eye distance (0..65.535 m), so that the nearer surface wins.
  gl_Position = vec4(ndc, target_eye.z / 65.535 * 2.0 - 1.0, 1.0);
  eye_position = vec4(target_eye, 1.0);
}
)";

const char kGeometryShader[] = R"(#version 430
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;
uniform float prune_thresh;
in vec4 eye_position[];
out vec4 eye_position_out;
const float kTooClose = 0.3;
bool LongAndSkinny() {
  return distance(eye_position[0].xyz, eye_position[1].xyz) > prune_thresh ||
         distance(eye_position[1].xyz, eye_position[2].xyz) > prune_thresh ||
         distance(eye_position[2].xyz, eye_position[0].xyz) > prune_thresh;
}
bool TooClose() {
  return eye_position[0].z < kTooClose || eye_position[1].z < kTooClose ||
         eye_position[2].z < kTooClose;
}
void main() {
  if (LongAndSkinny() || TooClose()) return;
  for (int i = 0; i < 3; ++i) {
    gl_Position = gl_in[i].gl_Position;
    eye_position_out = eye_position[i];
    EmitVertex();
  }
  EndPrimitive();
}
)";

const char kFragmentShader[] = R"(#version 430
in vec4 eye_position_out;
out uint depth_out;
void main() {
  depth_out = uint(eye_position_out.z * 1000.0);
}
)";

}  // namespace

Eigen::Matrix3f ToMatrix(const std::array<float, 9>& values) {
  return Eigen::Map<const Eigen::Matrix<float, 3, 3, Eigen::RowMajor>>(values.data());
}

DepthProjection::DepthProjection() : shader_(kFragmentShader, kVertexShader, kGeometryShader) {
  glGenFramebuffers(1, &framebuffer_);
  glGenRenderbuffers(1, &depth_renderbuffer_);
}

DepthProjection::~DepthProjection() {
  glDeleteFramebuffers(1, &framebuffer_);
  glDeleteRenderbuffers(1, &depth_renderbuffer_);
  grid_mesh_.reset();
}

void DepthProjection::Project(Calibration& source_calibration, Texture& depth_texture_source,
                              Calibration& target_calibration, Texture& depth_texture_target) {
  GLfloat clear_color[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_color);
  glClearColor(0, 0, 0, 1);
  VANTISOL_CHECK(depth_texture_source.internal_format() == Image::Format::kGray16);
  VANTISOL_CHECK(depth_texture_target.internal_format() == Image::Format::kGray16);
  const Size source = depth_texture_source.size();
  const Size target = depth_texture_target.size();
  if (depth_texture_source.internal_format() != Image::Format::kGray16 ||
      depth_texture_target.internal_format() != Image::Format::kGray16 || source.empty() ||
      target.empty()) {
    glClearColor(clear_color[0], clear_color[1], clear_color[2], clear_color[3]);
    return;
  }
  if (!initialized_ || source != source_size_ || target != target_size_) {
    source_size_ = source;
    target_size_ = target;
    if (grid_mesh_) {
      grid_mesh_->Resize(source.width, source.height);
    } else {
      grid_mesh_ = std::make_unique<GridMesh>(source.width, source.height);
    }
    glBindRenderbuffer(GL_RENDERBUFFER, depth_renderbuffer_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, target.width, target.height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    initialized_ = true;
  }
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  {
    ViewportGuard viewport(target);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                           depth_texture_target.id(), 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                              depth_renderbuffer_);
    // An unsigned-integer attachment is cleared through the integer call.
    const GLuint zero[4] = {0, 0, 0, 0};
    glClearBufferuiv(GL_COLOR, 0, zero);
    glClear(GL_DEPTH_BUFFER_BIT);
    shader_.Enable();
    // Eigen keeps matrices column by column, which is what GL reads untransposed.
    shader_.SetUniform("source_cam_K_inverse", ToMatrix(source_calibration.K).inverse().eval(),
                       false);
    shader_.SetUniform("source_cam_R_inverse", ToMatrix(source_calibration.R).inverse().eval(),
                       false);
    shader_.SetUniform("source_cam_T", Eigen::Vector3f(source_calibration.T.data()));
    shader_.SetUniform("target_cam_K", ToMatrix(target_calibration.K), false);
    shader_.SetUniform("target_cam_R", ToMatrix(target_calibration.R), false);
    shader_.SetUniform("target_cam_T", Eigen::Vector3f(target_calibration.T.data()));
    shader_.SetUniform("target_cam_w", target.width);
    shader_.SetUniform("target_cam_h", target.height);
    shader_.SetUniform("prune_thresh", 0.1f);
    {
      auto bound = depth_texture_source.ScopedBind(shader_.GetTextureUnit("source_depth_texture"));
      grid_mesh_->Draw(glGetAttribLocation(shader_.program(), "position_in"));
    }
    shader_.Disable();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
  glDisable(GL_DEPTH_TEST);
  glClearColor(clear_color[0], clear_color[1], clear_color[2], clear_color[3]);
}

}  // namespace vantisol
