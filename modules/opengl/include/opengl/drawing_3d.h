#pragma once

#include <glbinding/gl/types.h>

#include <Eigen/Core>
#include <cstdint>
#include <vector>

#include "opengl/shader.h"
#include "utils/camera_image.h"

namespace vantisol {

// The matrices of a virtual camera that sees like a real one: camera space looks along +z, x
// right, y down as image rows; metres.
class GLCamera {
 public:
  virtual ~GLCamera() = default;

  void Update(Size resolution, const Calibration& calibration);

  Eigen::Matrix4f model = Eigen::Matrix4f::Identity();
  Eigen::Matrix4f view = Eigen::Matrix4f::Identity();
  Eigen::Matrix4f proj_persp = Eigen::Matrix4f::Identity();
  Eigen::Matrix4f proj_ortho = Eigen::Matrix4f::Identity();
  Eigen::Vector3f scene_center = Eigen::Vector3f::Zero();

  static constexpr float kNear = 0.01f;
  static constexpr float kFar = 5.0f;
};

// Sets "model", "view" and "proj" (the perspective matrix) of a program from a camera.
void SetCameraUniforms(const ShaderInterface& shader, const GLCamera& camera);

// GPU buffers of an indexed triangle mesh; the owner binds them for drawing (as the attributes
// "position_in" and "normal_in").
class GLMesh {
 public:
  GLMesh();
  virtual ~GLMesh();
  GLMesh(const GLMesh&) = delete;
  GLMesh& operator=(const GLMesh&) = delete;

  void SetVertices(const std::vector<Eigen::Vector3f>& vertices);
  void SetNormals(const std::vector<Eigen::Vector3f>& normals);
  void SetIndices(const std::vector<uint32_t>& indices);

  int index_count() const { return index_count_; }
  gl::GLuint vao() const { return vao_; }
  gl::GLuint vertex_buffer() const { return vertex_buffer_; }
  gl::GLuint index_buffer() const { return index_buffer_; }
  gl::GLuint normal_buffer() const { return normal_buffer_; }

 private:
  int index_count_ = 0;
  gl::GLuint vao_ = 0;
  gl::GLuint vertex_buffer_ = 0;
  gl::GLuint index_buffer_ = 0;
  gl::GLuint normal_buffer_ = 0;
  gl::GLuint spare_buffer_ = 0;
};

// Flat-coloured lines (consecutive point pairs) or points in a camera's view.
class LineRenderer {
 public:
  LineRenderer();
  virtual ~LineRenderer();
  LineRenderer(const LineRenderer&) = delete;
  LineRenderer& operator=(const LineRenderer&) = delete;

  void Draw(const std::vector<Eigen::Vector3f>& points, const GLCamera& camera,
            const Eigen::Vector4f& color);

 private:
  Shader shader_;
  gl::GLuint vbo_ = 0;
  gl::GLuint vao_ = 0;
};

class PointRenderer {
 public:
  PointRenderer();
  virtual ~PointRenderer();
  PointRenderer(const PointRenderer&) = delete;
  PointRenderer& operator=(const PointRenderer&) = delete;

  void Draw(std::vector<Eigen::Vector3f> points, const GLCamera& camera,
            const Eigen::Vector4f& color, float point_size);

 private:
  Shader shader_;
  gl::GLuint vbo_ = 0;
  gl::GLuint vao_ = 0;
};

// One vertex per depth pixel, holding its pixel coordinates (x, y, 0) as unsigned integers, and two
// triangles per pixel cell.
class GridMesh {
 public:
  GridMesh(int width, int height);
  virtual ~GridMesh();
  GridMesh(const GridMesh&) = delete;
  GridMesh& operator=(const GridMesh&) = delete;

  void Resize(int width, int height);
  // Binds the vertex array with "position_in" fed as an integer attribute and draws the triangles.
  void Draw(gl::GLint position_location) const;

  static std::vector<uint32_t> Indices(int width, int height);

  int index_count() const { return index_count_; }
  gl::GLuint vao() const { return vao_; }
  gl::GLuint vbo() const { return vbo_; }
  gl::GLuint ibo() const { return ibo_; }

 private:
  void Build();
  void Release();

  gl::GLuint vao_ = 0;
  gl::GLuint vbo_ = 0;
  gl::GLuint ibo_ = 0;
  int index_count_ = 0;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace vantisol
