#include "opengl/depthmap_renderer.h"

#include <glbinding/gl/gl.h>

#include "opengl/depth_projection.h"

using namespace gl;

namespace vantisol {

namespace {

const char kNormalShader[] = R"(#version 430
uniform usampler2D depth_texture;
uniform int w;
uniform int h;
uniform mat3 depth_cam_K;
out vec3 normal_out;
mat3 K_inverse;
vec3 Eye(vec2 position) {
  float z = float(texelFetch(depth_texture, ivec2(position), 0).r) / 1000.0;
  return K_inverse * vec3(position * z, z);
}
float Depth(ivec2 q) { return float(texelFetch(depth_texture, q, 0).r); }
void main() {
  const ivec2 kOffsets[8] = ivec2[8](ivec2(-1, 1), ivec2(0, 1), ivec2(1, 1), ivec2(1, 0),
                                     ivec2(1, -1), ivec2(0, -1), ivec2(-1, -1), ivec2(-1, 0));
  K_inverse = inverse(depth_cam_K);
  vec3 p = Eye(gl_FragCoord.xy);
  vec3 sum = vec3(0.0);
  for (int i = 0; i < 8; ++i) {
    ivec2 q0 = ivec2(gl_FragCoord.xy + vec2(kOffsets[i]));
    ivec2 q1 = ivec2(gl_FragCoord.xy + vec2(kOffsets[(i + 1) % 8]));
    if (any(lessThan(q0, ivec2(0))) || any(greaterThanEqual(q0, ivec2(w, h))) ||
        any(lessThan(q1, ivec2(0))) || any(greaterThanEqual(q1, ivec2(w, h)))) continue;
    if (Depth(q0) <= 0.0 || Depth(q1) <= 0.0) continue;
    sum += cross(Eye(vec2(q0)) - p, Eye(vec2(q1)) - p);
  }
  vec3 normal = length(sum) > 0.0 ? normalize(sum) : sum;
  if (any(isnan(normal))) normal = vec3(0.0);
  normal_out = normal;
}
)";

const char kSurfaceVertexShader[] = R"(#version 430
uniform usampler2D depth_texture;
uniform sampler2D normal_texture;
uniform mat4 model;
uniform mat4 view;
uniform mat4 proj;
uniform mat3 depth_cam_K;
uniform mat3 depth_cam_R;
uniform vec3 depth_cam_T;
uniform mat3 color_cam_K;
uniform mat3 color_cam_R;
uniform vec3 color_cam_T;
// Pixel coordinates arrive as unsigned integers.
in uvec3 position_in;
out vec4 eye_position_g;
out vec2 texture_coordinate_g;
out vec3 eye_normal_g;
void main() {
  ivec2 pixel = ivec2(position_in.xy);
  float z = float(texelFetch(depth_texture, pixel, 0).r) / 1000.0;
  vec3 P = inverse(depth_cam_K) * vec3(vec2(pixel) * z, z);
  eye_normal_g = (view * vec4(texelFetch(normal_texture, pixel, 0).xyz, 1.0)).xyz;
  vec3 s = color_cam_K * (color_cam_R * P + color_cam_T);
  if (s.z > 0.0) s /= s.z;
  texture_coordinate_g = s.xy;
  eye_position_g = view * model * vec4(P, 1.0);
  gl_Position = proj * eye_position_g;
}
)";

const char kSurfaceGeometryShader[] = R"(#version 430
layout(triangles) in;
layout(triangle_strip, max_vertices = 3) out;
uniform float prune_thresh;
const float distance_threshold = 0.25;
in vec4 eye_position_g[];
in vec2 texture_coordinate_g[];
in vec3 eye_normal_g[];
out vec4 eye_position;
out vec2 texture_coordinate;
out vec3 eye_normal;
void main() {
  for (int i = 0; i < 3; ++i) {
    if (distance(eye_position_g[i].xyz, eye_position_g[(i + 1) % 3].xyz) > prune_thresh) return;
    if (eye_position_g[i].z < distance_threshold) return;
  }
  for (int i = 0; i < 3; ++i) {
    gl_Position = gl_in[i].gl_Position;
    eye_position = eye_position_g[i];
    texture_coordinate = texture_coordinate_g[i];
    eye_normal = eye_normal_g[i];
    EmitVertex();
  }
  EndPrimitive();
}
)";

const char kSurfaceFragmentShader[] = R"(#version 430
const int render_mode_geometry = 0;
const int render_mode_texture = 1;
uniform int render_mode;
uniform sampler2D color_texture;
in vec4 eye_position;
in vec2 texture_coordinate;
in vec3 eye_normal;
out vec4 color;
void main() {
  if (render_mode == render_mode_geometry) {
    vec3 N = normalize(eye_normal);
    vec3 L = normalize(vec3(0.0) - eye_position.xyz);
    vec3 diffuse = vec3(174.0 / 255.0, 200.0 / 255.0, 234.0 / 255.0) * 0.8;
    color = vec4(vec3(0.2) + max(dot(N, L), 0.0) * diffuse, 1.0);
  } else if (render_mode == render_mode_texture) {
    color = texture(color_texture, texture_coordinate / vec2(textureSize(color_texture, 0)));
  } else {
    color = vec4(0.0);
  }
}
)";

}  // namespace

DepthmapRenderer::DepthmapRenderer()
    : shader_(kSurfaceFragmentShader, kSurfaceVertexShader, kSurfaceGeometryShader),
      normal_shader_(kNormalShader, kPassThroughVertexShader, std::string()) {
  glGenFramebuffers(1, &framebuffer_);
  quad_ = std::make_unique<ScreenQuad>();
  normal_texture_ = std::make_unique<Texture>(Image::Format::kRGB32F);
  normal_texture_->SetInterpolation(Texture::Nearest);
}

DepthmapRenderer::~DepthmapRenderer() { glDeleteFramebuffers(1, &framebuffer_); }

void DepthmapRenderer::Draw(const Texture& depth, const Calibration& depth_calibration,
                            const Texture& color, const Calibration& color_calibration,
                            const GLCamera& camera, int render_mode) {
  const Size size = depth.size();
  if (size.empty()) return;
  if (size != size_) {
    size_ = size;
    if (grid_mesh_) {
      grid_mesh_->Resize(size.width, size.height);  // keeps its GL buffers
    } else {
      grid_mesh_ = std::make_unique<GridMesh>(size.width, size.height);
    }
    normal_texture_->Resize(size);
  }
  const Eigen::Matrix3f depth_K = ToMatrix(depth_calibration.K);
  {
    GLint previous_framebuffer = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous_framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                           normal_texture_->id(), 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ViewportGuard viewport(size);
    const auto normal_in_use = normal_shader_.ScopedEnable();
    normal_shader_.SetUniform("w", size.width);
    normal_shader_.SetUniform("h", size.height);
    normal_shader_.SetUniform("depth_cam_K", depth_K, false);
    {
      auto bound = depth.ScopedBind(normal_shader_.GetTextureUnit("depth_texture"));
      quad_->Draw(glGetAttribLocation(normal_shader_.program(), "position_in"));
    }
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous_framebuffer));
  }
  glEnable(GL_DEPTH_TEST);
  const auto in_use = shader_.ScopedEnable();
  SetCameraUniforms(shader_, camera);
  shader_.SetUniform("depth_cam_K", depth_K, false);
  shader_.SetUniform("color_cam_K", ToMatrix(color_calibration.K), false);
  shader_.SetUniform("color_cam_R", ToMatrix(color_calibration.R), false);
  shader_.SetUniform("color_cam_T", Eigen::Vector3f(color_calibration.T.data()));
  shader_.SetUniform("render_mode", render_mode);
  shader_.SetUniform("prune_thresh", 0.1f);
  {
    auto depth_bound = depth.ScopedBind(shader_.GetTextureUnit("depth_texture"));
    auto color_bound = color.ScopedBind(shader_.GetTextureUnit("color_texture"));
    auto normal_bound = normal_texture_->ScopedBind(shader_.GetTextureUnit("normal_texture"));
    grid_mesh_->Draw(glGetAttribLocation(shader_.program(), "position_in"));
    glDisable(GL_DEPTH_TEST);
  }
}

}  // namespace vantisol
