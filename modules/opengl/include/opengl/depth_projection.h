#pragma once

#include <glbinding/gl/types.h>

#include <memory>

#include "opengl/drawing_3d.h"
#include "opengl/shader.h"
#include "opengl/texture.h"

namespace vantisol {

// Re-projects a kGray16 depth image (millimetres) of one camera into the image plane of another,
// dropping triangles that bridge depth edges or come nearer than 0.3 m; the nearer surface wins.
class DepthProjection {
 public:
  DepthProjection();
  virtual ~DepthProjection();
  DepthProjection(const DepthProjection&) = delete;
  DepthProjection& operator=(const DepthProjection&) = delete;

  // The target keeps its size; both textures must be kGray16.
  void Project(Calibration& source_calibration, Texture& depth_texture_source,
               Calibration& target_calibration, Texture& depth_texture_target);

 private:
  gl::GLuint framebuffer_ = 0;
  gl::GLuint depth_renderbuffer_ = 0;
  Shader shader_;
  Size source_size_;
  Size target_size_;
  std::unique_ptr<GridMesh> grid_mesh_;
  bool initialized_ = false;
};

// 3x3 row-major calibration arrays as matrices.
Eigen::Matrix3f ToMatrix(const std::array<float, 9>& values);

}  // namespace vantisol
