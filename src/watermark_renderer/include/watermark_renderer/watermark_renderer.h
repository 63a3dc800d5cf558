#pragma once

#include <glbinding/gl/types.h>

#include <memory>
#include <string>

#include "opengl/locked_texture.h"
#include "opengl/texture.h"
#include "opengl/texture_draw.h"

namespace vantisol {

// Blends the program's watermark over each output frame, in its lower left part. The GPU objects
// are made by the first Render, so the renderer can be built on any thread.
class WatermarkRenderer {
 public:
  // The picture is a Qt resource path; the program's own mark unless a test says otherwise.
  explicit WatermarkRenderer(std::string picture = ":/watermark.png");
  ~WatermarkRenderer();
  WatermarkRenderer(const WatermarkRenderer&) = delete;
  WatermarkRenderer& operator=(const WatermarkRenderer&) = delete;

  // Render thread, context current.
  void Render(std::shared_ptr<LockedTexture> texture);
  void Init();

 private:
  // Where the mark goes on an output of `output` size, for a mark of `aspect` width / height.
  static Rectangle Placement(Size output, float aspect);

  gl::GLuint framebuffer_ = 0;
  std::unique_ptr<Texture> watermark_;
  std::unique_ptr<TextureDraw> drawer_;
  std::string picture_;
};

}  // namespace vantisol
