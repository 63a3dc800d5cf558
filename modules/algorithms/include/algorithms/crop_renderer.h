#pragma once

#include <glbinding/gl/types.h>

#include <memory>
#include <vector>

#include "algorithms/transformation.h"
#include "opengl/shader.h"
#include "opengl/texture.h"
#include "utils/camera_image.h"

namespace vantisol {

class TextureDraw;

// Draws the automatic camera's tiles: each tile rectangle of the output is filled by sampling the
// input through the inverse of the tile's matrix. Render thread only, its context current.
class CropRenderer {
 public:
  // Compiles the tile program; the other GL objects are made by the first Draw.
  CropRenderer();
  ~CropRenderer();
  CropRenderer(const CropRenderer&) = delete;
  CropRenderer& operator=(const CropRenderer&) = delete;

  // Into `target`, or the own output texture when null, resized to `output_size`. Without tiles
  // the whole input is stretched over the output; with tiles, uncovered parts keep the clear
  // colour.
  void Draw(const Texture& input, const std::vector<CropTile>& tiles, Size output_size,
            Texture* target = nullptr);

  const Texture& output() const { return *output_; }

 private:
  void MakeGlObjects();

  std::unique_ptr<Texture> output_;
  gl::GLuint framebuffer_ = 0;
  Shader tile_shader_;
  std::unique_ptr<ScreenQuad> quad_;
  std::unique_ptr<TextureDraw> texture_draw_;
  bool initialized_ = false;
};

}  // namespace vantisol
