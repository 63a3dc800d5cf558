#pragma once

#include <glbinding/gl/types.h>

#include <memory>

#include "opengl/shader_interface.h"
#include "opengl/texture.h"
#include "utils/camera_image.h"

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
  // Covers the target with the source's triangles, keeping the nearest depth per pixel.
  std::unique_ptr<ShaderInterface> rasterizer_;
  // Writes the nearest depths into the target and makes the nearest-depth image empty again.
  std::unique_ptr<ShaderInterface> resolver_;
  // The nearest depth of each target pixel in millimetres; all ones where nothing landed.
  Texture nearest_depth_{Image::Format::kGray32};
};

// 3x3 row-major calibration arrays as matrices.
Eigen::Matrix3f ToMatrix(const std::array<float, 9>& values);

}  // namespace vantisol
