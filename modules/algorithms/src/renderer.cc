#include "algorithms/renderer.h"

#include <glbinding/gl/gl.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

namespace {

const char kMeshVertexShader[] = R"(#version 430
uniform mat4 model;
uniform mat4 view;
uniform mat4 proj_persp;
uniform mat4 proj_ortho;
uniform vec3 scene_center;
uniform float face_undistortion_weight;
uniform float face_undistortion_z_offset;
uniform int enable_face_undistortion;
uniform int enable_vertex_weights;
uniform int enable_gaze_correction;
uniform float face_rotation_weight;
uniform float eye_rotation_weight;
uniform mat3 color_cam_K;
uniform mat3 color_cam_R;
uniform vec3 color_cam_T;
uniform sampler2D color_texture;
uniform sampler2D shadow_map;

layout(location = 0) in vec3 position_in;
layout(location = 1) in vec3 normal_in;
layout(location = 2) in vec3 eye_rotation_offset_in;

out vec2 tex_coord;
out vec3 eye_position;
out vec3 eye_normal;
out float vertex_weight;
out float occluded;

mat4 Translation(vec3 t) {
  mat4 m = mat4(1.0);
  m[3] = vec4(t, 1.0);
  return m;
}

// Right-handed turn by `angle` radians about the unit `axis`.
mat4 Rotation(vec3 axis, float angle) {
  float s = sin(angle), c = cos(angle), oc = 1.0 - c;
  vec3 a = axis;
  return mat4(vec4(oc * a.x * a.x + c, oc * a.x * a.y + a.z * s, oc * a.x * a.z - a.y * s, 0.0),
              vec4(oc * a.x * a.y - a.z * s, oc * a.y * a.y + c, oc * a.y * a.z + a.x * s, 0.0),
              vec4(oc * a.x * a.z + a.y * s, oc * a.y * a.z - a.x * s, oc * a.z * a.z + c, 0.0),
              vec4(0.0, 0.0, 0.0, 1.0));
}

// The angle between (0, 0, 1) and v; zero for a null v, where no turn is meant.
float AngleToAxis(vec3 v) {
  float length_v = length(v);
  if (length_v < 1e-9) return 0.0;
  return acos(clamp(v.z / length_v, -1.0, 1.0));
}

void main() {
  mat4 world_to_clip = proj_persp * view * model;
  vertex_weight = 1.0;
  if (enable_vertex_weights != 0) {
    vec4 v = world_to_clip * vec4(position_in, 1.0);
    vec4 c = world_to_clip * vec4(scene_center, 1.0);
    vec2 d = v.xy / v.w - c.xy / c.w;
    vec2 sigma = vec2(0.06, 0.12);
    vertex_weight = exp(-(d.x * d.x / (2.0 * sigma.x * sigma.x) +
                          d.y * d.y / (2.0 * sigma.y * sigma.y)));
  }

  vec3 p = color_cam_K * (color_cam_R * position_in + color_cam_T);
  tex_coord = p.xy / p.z / vec2(textureSize(color_texture, 0));

  mat4 projection = proj_persp;
  vec3 c = scene_center;
  float s = c.z + face_undistortion_z_offset;
  if (enable_face_undistortion != 0 && s > 0.0) {
    // Turns the face about its centre so that the side the camera sees faces the orthographic
    // view: the centre's direction is brought onto the optical axis.
    float angle_x = AngleToAxis(vec3(0.0, c.y, c.z));
    if (c.y < 0.0) angle_x = -angle_x;
    float angle_y = AngleToAxis(vec3(c.x, 0.0, c.z));
    if (c.x > 0.0) angle_y = -angle_y;
    mat4 correction = Translation(c) * Rotation(vec3(1.0, 0.0, 0.0), angle_x) *
                      Rotation(vec3(0.0, 1.0, 0.0), angle_y) * Translation(-c);
    mat4 scale = mat4(1.0);
    scale[0][0] = 1.0 / s;
    scale[1][1] = 1.0 / s;
    float t = face_undistortion_weight * vertex_weight;
    projection = proj_persp * (1.0 - t) + proj_ortho * scale * correction * t;
  }

  vec3 position = position_in;
  mat4 gaze_turn = mat4(1.0);
  if (enable_gaze_correction != 0) {
    position += eye_rotation_offset_in * eye_rotation_weight;
    // Rows grow downward, so lifting the face's forward direction is a negative turn about x.
    gaze_turn = Translation(c) *
                Rotation(vec3(1.0, 0.0, 0.0), -radians(7.0) * face_rotation_weight) *
                Translation(-c);
  }
  mat4 mv = view * model * gaze_turn;
  vec4 eye = mv * vec4(position, 1.0);
  eye_position = eye.xyz;
  eye_normal = (mv * vec4(normal_in, 0.0)).xyz;
  gl_Position = projection * eye;

  vec4 seen = proj_persp * view * vec4(position_in, 1.0);
  float depth = seen.z / seen.w * 0.5 + 0.5;
  occluded = textureLod(shadow_map, tex_coord, 0.0).r < depth - 0.00005 ? 1.0 : 0.0;
}
)";

const char kMeshFragmentShader[] = R"(#version 430
uniform vec3 mesh_color;
uniform int render_mode;
uniform int draw_vertex_weights;
uniform int draw_occluded_vertices;
uniform sampler2D color_texture;

in vec2 tex_coord;
in vec3 eye_position;
in vec3 eye_normal;
in float vertex_weight;
in float occluded;
out vec4 frag_color;

void main() {
  vec4 color;
  if (render_mode == 0) {
    vec3 n = normalize(eye_normal);
    vec3 to_light = normalize(-eye_position);
    color = vec4(vec3(0.2) + mesh_color * max(dot(n, to_light), 0.0), 1.0);
  } else {
    color = vec4(texture(color_texture, tex_coord).rgb, 1.0);
  }
  if (draw_vertex_weights != 0) color.rgb = mix(color.rgb, vec3(0.0, 1.0, 0.0), vertex_weight);
  if (draw_occluded_vertices != 0) color.rgb = mix(color.rgb, vec3(1.0, 0.0, 0.0), occluded);
  // Faces leaving the picture fade out rather than smear its last row or column.
  vec2 to_border = min(tex_coord, vec2(1.0) - tex_coord);
  float border = min(to_border.x, to_border.y);
  if (border < 0.01) color.a *= max(border, 0.0) / 0.01;
  frag_color = color;
}
)";

Eigen::Matrix3f RowMajor3(const std::array<float, 9>& m) {
  return Eigen::Map<const Eigen::Matrix<float, 3, 3, Eigen::RowMajor>>(m.data());
}

// Remembers the framebuffer binding of a pass and restores it.
class FramebufferGuard {
 public:
  FramebufferGuard() { glGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved_); }
  ~FramebufferGuard() { glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(saved_)); }
  FramebufferGuard(const FramebufferGuard&) = delete;
  FramebufferGuard& operator=(const FramebufferGuard&) = delete;

 private:
  GLint saved_ = 0;
};

}  // namespace

FaceWeights ComputeFaceWeights(float fade_weight, float head_angle_degrees, float distance_metres,
                               bool undistortion, bool gaze) {
  FaceWeights weights;
  if (head_angle_degrees > 20) {
    const float excess = head_angle_degrees - 20;
    weights.angle = std::exp(-0.125f * excess * excess);
  }
  if (distance_metres > 0.9f) {
    const float excess = distance_metres - 0.9f;
    weights.distance = std::exp(excess * excess / -0.0008f);
  }
  weights.undistortion =
      undistortion ? std::min({weights.angle, weights.distance, fade_weight}) : 0.0f;
  weights.gaze = gaze ? fade_weight : 0.0f;
  return weights;
}

Renderer::Renderer() { shadow_texture_.SetInterpolation(Texture::Linear); }

Renderer::~Renderer() {
  shadow_shader_.reset();
  mesh_shader_.reset();
  point_renderer_.reset();
  depthmap_renderer_.reset();
  mesh_.reset();
  camera_.reset();
  texture_copy_.reset();
  texture_draw_.reset();
  if (shadow_framebuffer_ != 0) glDeleteFramebuffers(1, &shadow_framebuffer_);
  if (depth_renderbuffer_ != 0) glDeleteRenderbuffers(1, &depth_renderbuffer_);
  if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
  if (eye_offset_buffer_ != 0) glDeleteBuffers(1, &eye_offset_buffer_);
}

void Renderer::Init(Size color, Size depth, Size output) {
  LOG(INFO) << "Renderer::Init()";
  glClearColor(1, 1, 1, 1);
  // The textures get their GL objects and storage in Resize.
  glGenFramebuffers(1, &framebuffer_);
  glGenFramebuffers(1, &shadow_framebuffer_);
  glGenRenderbuffers(1, &depth_renderbuffer_);
  texture_draw_ = std::make_unique<TextureDraw>();
  texture_copy_ = std::make_unique<TextureCopy>();
  camera_ = std::make_unique<GLCamera>();
  mesh_ = std::make_unique<GLMesh>();
  Resize(color, depth, output);
}

void Renderer::Resize(Size color, Size depth, Size output) {
  LOG(INFO) << "Renderer::Resize()";
  color_size_ = color;
  depth_size_ = depth;
  output_size_ = output;
  crop_size_ = color;
  const float output_aspect = static_cast<float>(output.width) / output.height;
  const float color_aspect = static_cast<float>(color.width) / color.height;
  // Narrow whichever side is too long, so neither a wide nor a tall picture is stretched.
  if (output_aspect < color_aspect) {
    crop_size_.width = static_cast<int>(color.height * output_aspect);
  } else if (output_aspect > color_aspect) {
    crop_size_.height = static_cast<int>(color.width / output_aspect);
  }
  output_texture_.Resize(output);
  shadow_texture_.Resize(output);
  color_crop_texture_.Resize(crop_size_);
  glBindRenderbuffer(GL_RENDERBUFFER, depth_renderbuffer_);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, output.width, output.height);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
}

const Texture& Renderer::Render(const Texture& color, const Texture& depth,
                                std::shared_ptr<const ImageData> frame, FaceTracker& tracker,
                                Size output_size, Texture* target, bool may_pass_through) {
  if (!initialized_) {
    Init(color.size(), frame->depth.size, output_size);
    initialized_ = true;
  } else if (color.size() != color_size_ || frame->depth.size != depth_size_ ||
             output_size != output_size_) {
    Resize(color.size(), frame->depth.size, output_size);
  }
  const int x_offset = (color_size_.width - crop_size_.width) / 2;
  const int y_offset = (color_size_.height - crop_size_.height) / 2;
  Calibration calibration = frame->color.calibration;
  calibration.K[2] -= static_cast<float>(x_offset);
  calibration.K[5] -= static_cast<float>(y_offset);
  camera_->Update(crop_size_, calibration);

  // The faces and their weights first: only then is it known whether any pass draws more than
  // the colour picture.
  struct Drawn {
    int id;
    const FaceTemplate* face;
    const FaceData* data;
  };
  std::vector<Drawn> drawn;
  face_weights_.clear();
  mesh_drawn_.clear();
  bool any_mesh = false;
  for (const auto& [id, face] : frame->faces) {
    const auto found = tracker.face_templates_.find(id);
    // The tracker keeps a template for every face of the frame; one without is not drawn.
    if (found == tracker.face_templates_.end() || !found->second) continue;
    const FaceTemplate& face_template = *found->second;
    if (!face_template.world_mesh_ || face_template.world_mesh_->vertices.empty()) continue;
    const FaceWeights weights =
        ComputeFaceWeights(face_template.weight_, face_template.HeadAngle(frame),
                           face_template.pose_.translation().norm(), enable_face_undistortion_,
                           enable_gaze_correction_);
    face_weights_[id] = weights;
    mesh_drawn_[id] = MeshPassRuns(weights, face_template.weight_);
    any_mesh = any_mesh || mesh_drawn_[id];
    drawn.push_back({id, &face_template, &face});
  }
  const bool depthmap = reads_depth() && !depth.size().empty();
  Texture& out = target != nullptr ? *target : output_texture_;
  if (draw_background_ && !depthmap && !draw_landmarks_ && !any_mesh && crop_size_ == color_size_ &&
      output_size_ == color_size_) {
    // The output would be the colour picture itself.
    if (may_pass_through) return color;
    texture_copy_->Copy(color, out);
    return out;
  }

  out.Resize(output_size_);
  texture_copy_->Copy(color.id(), color_crop_texture_.id(), x_offset, y_offset, crop_size_.width,
                      crop_size_.height);
  ViewportGuard viewport(output_size_);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, out.id(), 0);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                            depth_renderbuffer_);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (draw_background_) {
    texture_draw_->Draw(color_crop_texture_, output_size_, TextureDraw::kStretch, 0);
  }
  if (depthmap) {
    if (!depthmap_renderer_) depthmap_renderer_ = std::make_unique<DepthmapRenderer>();
    depthmap_renderer_->Draw(depth, frame->depth.calibration, color_crop_texture_, calibration,
                             *camera_, depthmap_mode_);
  }
  for (const Drawn& face : drawn) {
    DrawFace(*face.face, *face.data, face_weights_[face.id], mesh_drawn_[face.id], calibration);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return out;
}

bool Renderer::MeshPassRuns(const FaceWeights& weights, float fade_weight) const {
  if (!enable_gaze_correction_ && !enable_face_undistortion_ && !draw_mesh_) return false;
  return (draw_mesh_ && fade_weight > 0) || weights.undistortion > 0.01f || weights.gaze > 0.01f;
}

void Renderer::UploadTopology(const FaceMesh& mesh) {
  const std::vector<int>& triangles =
      mesh.front_triangles.empty() ? mesh.triangles : mesh.front_triangles;
  std::vector<uint32_t> indices;
  indices.reserve(triangles.size());
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    const int a = triangles[t], b = triangles[t + 1], c = triangles[t + 2];
    if (std::min({a, b, c}) < 0 || std::max({a, b, c}) >= mesh.vertex_count()) continue;
    indices.insert(indices.end(), {uint32_t(a), uint32_t(b), uint32_t(c)});
  }
  mesh_->SetIndices(indices);
  std::vector<Eigen::Vector3f> offsets(mesh.vertices.size(), Eigen::Vector3f::Zero());
  std::copy_n(mesh.eye_offsets.begin(), std::min(mesh.eye_offsets.size(), offsets.size()),
              offsets.begin());
  if (eye_offset_buffer_ == 0) glGenBuffers(1, &eye_offset_buffer_);
  glBindBuffer(GL_ARRAY_BUFFER, eye_offset_buffer_);
  glBufferData(GL_ARRAY_BUFFER, offsets.size() * sizeof(Eigen::Vector3f), offsets.data(),
               GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  topology_uploaded_ = true;
}

void Renderer::DrawFace(const FaceTemplate& face, const FaceData& data, const FaceWeights& weights,
                        bool mesh_pass, const Calibration& calibration) {
  const FaceMesh& mesh = *face.world_mesh_;
  camera_->scene_center = mesh.Centroid();

  if (draw_landmarks_) {
    if (!point_renderer_) point_renderer_ = std::make_unique<PointRenderer>();
    // One draw per confidence, since a draw has one colour.
    std::map<int, std::vector<Eigen::Vector3f>> by_confidence;
    for (const LandmarkData& landmark : data.landmarks) {
      by_confidence[landmark.confidence_world].emplace_back(landmark.world[0], landmark.world[1],
                                                            landmark.world[2]);
    }
    for (const auto& [confidence, points] : by_confidence) {
      point_renderer_->Draw(points, *camera_, Eigen::Vector4f(0, 0, confidence / 100.0f, 1), 5);
    }
  }
  // The shadow map serves only the mesh pass.
  if (!mesh_pass) return;

  if (!topology_uploaded_) UploadTopology(mesh);
  mesh_->SetVertices(mesh.vertices);
  // The model's normals turned with the pose: directions, so the translation stays out.
  std::vector<Eigen::Vector3f> normals(mesh.vertices.size(), Eigen::Vector3f::Zero());
  if (face.model_mesh_ && face.model_mesh_->normals.size() == normals.size()) {
    const Eigen::Matrix3f rotation = face.pose_.linear();
    for (size_t i = 0; i < normals.size(); ++i) {
      normals[i] = (rotation * face.model_mesh_->normals[i]).normalized();
    }
  } else if (mesh.normals.size() == normals.size()) {
    normals = mesh.normals;
  }
  mesh_->SetNormals(normals);
  ShadowPass(weights);
  MainPass(weights, face.weight_, calibration);
}

void Renderer::SetCommonUniforms(const Shader& shader, const FaceWeights& weights) const {
  shader.SetUniform("model", camera_->model, false);
  shader.SetUniform("view", camera_->view, false);
  shader.SetUniform("proj_persp", camera_->proj_persp, false);
  shader.SetUniform("proj_ortho", camera_->proj_ortho, false);
  shader.SetUniform("scene_center", camera_->scene_center);
  shader.SetUniform("face_undistortion_weight",
                    static_cast<float>(face_undistortion_amount_) / 100 * weights.undistortion);
  shader.SetUniform("face_undistortion_z_offset", static_cast<float>(kUndistortionZOffset) / 100);
  shader.SetUniform("enable_face_undistortion", enable_face_undistortion_);
  shader.SetUniform("enable_vertex_weights", kVertexWeights);
  shader.SetUniform("enable_gaze_correction", enable_gaze_correction_);
  shader.SetUniform("face_rotation_weight",
                    static_cast<float>(face_rotation_amount_) / 100 * weights.gaze);
  shader.SetUniform("eye_rotation_weight",
                    static_cast<float>(eye_rotation_amount_) / 100 * weights.gaze);
}

void Renderer::DrawMesh() const {
  glBindVertexArray(mesh_->vao());
  const GLuint buffers[3] = {mesh_->vertex_buffer(), mesh_->normal_buffer(), eye_offset_buffer_};
  for (GLuint location = 0; location < 3; ++location) {
    glBindBuffer(GL_ARRAY_BUFFER, buffers[location]);
    glEnableVertexAttribArray(location);
    glVertexAttribPointer(location, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
  }
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh_->index_buffer());
  glDrawElements(GL_TRIANGLES, mesh_->index_count(), GL_UNSIGNED_INT, nullptr);
  for (GLuint location = 0; location < 3; ++location) glDisableVertexAttribArray(location);
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void Renderer::ShadowPass(const FaceWeights& weights) {
  if (!shadow_shader_) {
    shadow_shader_ = std::make_unique<Shader>(kMeshFragmentShader, kMeshVertexShader, "");
  }
  const FramebufferGuard framebuffer;
  glBindFramebuffer(GL_FRAMEBUFFER, shadow_framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, shadow_texture_.id(),
                         0);
  glDrawBuffer(GL_NONE);
  glClear(GL_DEPTH_BUFFER_BIT);
  const ViewportGuard viewport(output_size_);
  glEnable(GL_DEPTH_TEST);
  Shader& shader = *shadow_shader_;
  const auto in_use = shader.ScopedEnable();
  SetCommonUniforms(shader, weights);
  shader.SetUniform("model", Eigen::Matrix4f::Identity().eval(), false);
  shader.SetUniform("enable_face_undistortion", false);
  shader.SetUniform("enable_vertex_weights", false);
  {
    // The shadow map itself is the depth target here, so the occlusion lookup stays unbound.
    const auto color = color_crop_texture_.ScopedBind(shader.GetTextureUnit("color_texture"));
    DrawMesh();
  }
  glDisable(GL_DEPTH_TEST);
}

void Renderer::MainPass(const FaceWeights& weights, float fade_weight,
                        const Calibration& calibration) {
  if (!mesh_shader_) {
    mesh_shader_ = std::make_unique<Shader>(kMeshFragmentShader, kMeshVertexShader, "");
  }
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glFrontFace(GL_CW);
  glCullFace(GL_BACK);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  Shader& shader = *mesh_shader_;
  const auto in_use = shader.ScopedEnable();
  SetCommonUniforms(shader, weights);
  shader.SetUniform("color_cam_K", RowMajor3(calibration.K), false);
  shader.SetUniform("color_cam_R", RowMajor3(calibration.R), false);
  shader.SetUniform("color_cam_T", Eigen::Vector3f::Map(calibration.T.data()).eval());
  shader.SetUniform("draw_vertex_weights", kDrawVertexWeights);
  shader.SetUniform("draw_occluded_vertices", kDrawOccludedVertices);
  shader.SetUniform("mesh_color", Eigen::Vector3f(0.7f, 0.7f * fade_weight, 0.7f * fade_weight));
  shader.SetUniform("render_mode", render_mode_);
  {
    const auto color = color_crop_texture_.ScopedBind(shader.GetTextureUnit("color_texture"));
    const auto shadow = shadow_texture_.ScopedBind(shader.GetTextureUnit("shadow_map"));
    DrawMesh();
  }
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_BLEND);
  glDisable(GL_CULL_FACE);
}

}  // namespace vantisol
