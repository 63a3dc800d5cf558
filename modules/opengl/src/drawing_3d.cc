#include "opengl/drawing_3d.h"

#include <glbinding/gl/gl.h>

#include <stdexcept>

using namespace gl;

namespace vantisol {

namespace {

const char kFlatVertexShader[] = R"(#version 430
uniform mat4 model;
uniform mat4 view;
uniform mat4 proj;
in vec3 position_in;
void main() {
  gl_Position = proj * view * model * vec4(position_in, 1.0);
}
)";

const char kPointVertexShader[] = R"(#version 430
uniform mat4 model;
uniform mat4 view;
uniform mat4 proj;
uniform float point_size;
in vec3 position_in;
void main() {
  gl_Position = proj * view * model * vec4(position_in, 1.0);
  gl_PointSize = point_size;
}
)";

const char kFlatFragmentShader[] = R"(#version 430
uniform vec4 color;
out vec4 frag_color;
void main() {
  frag_color = color;
}
)";

template <typename T>
void Upload(GLenum target, GLuint buffer, const std::vector<T>& values) {
  if (values.empty()) throw std::out_of_range("invalid vector<T> subscript");
  glBindBuffer(target, buffer);
  glBufferData(target, values.size() * sizeof(T), values.data(), GL_STATIC_DRAW);
  glBindBuffer(target, 0);
}

void DrawArrays(const Shader& shader, GLuint vao, GLuint vbo, GLenum mode, size_t count) {
  glBindVertexArray(vao);
  const GLint location = glGetAttribLocation(shader.program(), "position_in");
  glEnableVertexAttribArray(location);
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glVertexAttribPointer(location, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
  glDrawArrays(mode, 0, static_cast<GLsizei>(count));
  glDisableVertexAttribArray(location);
  glBindVertexArray(0);
}

}  // namespace

void GLCamera::Update(Size resolution, const Calibration& calibration) {
  const auto& R = calibration.R;
  const auto& T = calibration.T;
  const auto& K = calibration.K;
  const float fx = K[0], cx = K[2], fy = K[4], cy = K[5];
  const float w = static_cast<float>(resolution.width), h = static_cast<float>(resolution.height);
  const float n = kNear, f = kFar;
  view << R[0], R[1], R[2], T[0], R[3], R[4], R[5], T[1], R[6], R[7], R[8], T[2], 0, 0, 0, 1;
  proj_persp << 2 * fx / w, 0, 2 * cx / w - 1, 0, 0, 2 * fy / h, 2 * cy / h - 1, 0, 0, 0,
      (f + n) / (f - n), -2 * f * n / (f - n), 0, 0, 1, 0;
  const float l = -cx / fx, r = (w - cx) / fx, b = -cy / fy, t = (h - cy) / fy;
  proj_ortho << 2 / (r - l), 0, 0, -(r + l) / (r - l), 0, 2 / (t - b), 0, -(t + b) / (t - b), 0, 0,
      2 / (f - n), -(f + n) / (f - n), 0, 0, 0, 1;
}

void SetCameraUniforms(const ShaderInterface& shader, const GLCamera& camera) {
  // Eigen keeps matrices column by column, which is what GL reads untransposed.
  shader.SetUniform("model", camera.model, false);
  shader.SetUniform("view", camera.view, false);
  shader.SetUniform("proj", camera.proj_persp, false);
}

GLMesh::GLMesh() {
  glGenVertexArrays(1, &vao_);
  glGenBuffers(1, &vertex_buffer_);
  glGenBuffers(1, &index_buffer_);
  glGenBuffers(1, &normal_buffer_);
  glGenBuffers(1, &spare_buffer_);
}

GLMesh::~GLMesh() {
  glDeleteBuffers(1, &spare_buffer_);
  glDeleteBuffers(1, &normal_buffer_);
  glDeleteBuffers(1, &index_buffer_);
  glDeleteBuffers(1, &vertex_buffer_);
  glDeleteVertexArrays(1, &vao_);
}

void GLMesh::SetVertices(const std::vector<Eigen::Vector3f>& vertices) {
  Upload(GL_ARRAY_BUFFER, vertex_buffer_, vertices);
}

void GLMesh::SetNormals(const std::vector<Eigen::Vector3f>& normals) {
  Upload(GL_ARRAY_BUFFER, normal_buffer_, normals);
}

void GLMesh::SetIndices(const std::vector<uint32_t>& indices) {
  Upload(GL_ELEMENT_ARRAY_BUFFER, index_buffer_, indices);
  index_count_ = static_cast<int>(indices.size());
}

LineRenderer::LineRenderer() : shader_(kFlatFragmentShader, kFlatVertexShader, std::string()) {
  glGenBuffers(1, &vbo_);
  glGenVertexArrays(1, &vao_);
}

LineRenderer::~LineRenderer() {
  glDeleteBuffers(1, &vbo_);
  glDeleteVertexArrays(1, &vao_);
}

void LineRenderer::Draw(const std::vector<Eigen::Vector3f>& points, const GLCamera& camera,
                        const Eigen::Vector4f& color) {
  glEnable(GL_DEPTH_TEST);
  const auto in_use = shader_.ScopedEnable();
  SetCameraUniforms(shader_, camera);
  shader_.SetUniform("color", color);
  try {
    Upload(GL_ARRAY_BUFFER, vbo_, points);
  } catch (...) {
    glDisable(GL_DEPTH_TEST);
    throw;
  }
  DrawArrays(shader_, vao_, vbo_, GL_LINES, points.size());
  glDisable(GL_DEPTH_TEST);
}

PointRenderer::PointRenderer() : shader_(kFlatFragmentShader, kPointVertexShader, std::string()) {
  glGenBuffers(1, &vbo_);
  glGenVertexArrays(1, &vao_);
}

PointRenderer::~PointRenderer() {
  glDeleteBuffers(1, &vbo_);
  glDeleteVertexArrays(1, &vao_);
}

void PointRenderer::Draw(std::vector<Eigen::Vector3f> points, const GLCamera& camera,
                         const Eigen::Vector4f& color, float point_size) {
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_PROGRAM_POINT_SIZE);
  glPointSize(point_size);
  const auto in_use = shader_.ScopedEnable();
  SetCameraUniforms(shader_, camera);
  shader_.SetUniform("color", color);
  shader_.SetUniform("point_size", point_size);
  const auto restore = [] {
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_PROGRAM_POINT_SIZE);
  };
  try {
    Upload(GL_ARRAY_BUFFER, vbo_, points);
  } catch (...) {
    restore();
    throw;
  }
  DrawArrays(shader_, vao_, vbo_, GL_POINTS, points.size());
  restore();
}

GridMesh::GridMesh(int width, int height) : width_(width), height_(height) { Build(); }

GridMesh::~GridMesh() { Release(); }

void GridMesh::Resize(int width, int height) {
  if (width == width_ && height == height_) return;
  Release();
  width_ = width;
  height_ = height;
  Build();
}

std::vector<uint32_t> GridMesh::Indices(int width, int height) {
  std::vector<uint32_t> indices;
  if (width < 2 || height < 2) return indices;
  indices.reserve(6 * size_t(width - 1) * (height - 1));
  const uint32_t w = static_cast<uint32_t>(width);
  for (uint32_t i = 0; i < (uint32_t(height) - 1) * w; ++i) {
    if ((i + 1) % w == 0) continue;
    indices.insert(indices.end(), {i, i + w, i + 1, i + 1, i + w, i + w + 1});
  }
  return indices;
}

void GridMesh::Build() {
  std::vector<uint32_t> vertices;
  vertices.reserve(3 * size_t(width_) * height_);
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) vertices.insert(vertices.end(), {uint32_t(x), uint32_t(y), 0});
  const std::vector<uint32_t> indices = Indices(width_, height_);
  index_count_ = static_cast<int>(indices.size());
  glGenBuffers(1, &vbo_);
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  glBufferData(GL_ARRAY_BUFFER, vertices.size() * 4, vertices.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glGenBuffers(1, &ibo_);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo_);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, indices.size() * 4, indices.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  glGenVertexArrays(1, &vao_);
}

void GridMesh::Release() {
  glDeleteBuffers(1, &vbo_);
  glDeleteBuffers(1, &ibo_);
  glDeleteVertexArrays(1, &vao_);
}

void GridMesh::Draw(GLint position_location) const {
  glBindVertexArray(vao_);
  glEnableVertexAttribArray(position_location);
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  glVertexAttribIPointer(position_location, 3, GL_UNSIGNED_INT, 0, nullptr);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo_);
  glDrawElements(GL_TRIANGLES, index_count_, GL_UNSIGNED_INT, nullptr);
  glDisableVertexAttribArray(position_location);
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

}  // namespace vantisol
