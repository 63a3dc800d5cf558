#pragma once

#include <glbinding/gl/types.h>

#include <memory>

#include "opengl/drawing_3d.h"
#include "opengl/shader.h"
#include "opengl/texture.h"

namespace vantisol {

// Draws a kGray16 depth image (millimetres) as a pruned surface, lit or textured with the colour
// image, into the current framebuffer and viewport.
class DepthmapRenderer {
 public:
  enum RenderMode { kRenderModeGeometry = 0, kRenderModeTexture = 1 };

  DepthmapRenderer();
  virtual ~DepthmapRenderer();
  DepthmapRenderer(const DepthmapRenderer&) = delete;
  DepthmapRenderer& operator=(const DepthmapRenderer&) = delete;

  void Draw(const Texture& depth, const Calibration& depth_calibration, const Texture& color,
            const Calibration& color_calibration, const GLCamera& camera, int render_mode);

  const Texture& normal_texture() const { return *normal_texture_; }

 private:
  Shader shader_;
  Shader normal_shader_;
  std::unique_ptr<GridMesh> grid_mesh_;
  std::unique_ptr<Texture> normal_texture_;
  std::unique_ptr<ScreenQuad> quad_;
  gl::GLuint framebuffer_ = 0;
  Size size_;
};

}  // namespace vantisol
