#pragma once

#include <memory>
#include <string>

#include "utils/camera_image.h"

namespace vantisol {

// Declared only, so that this header stays free of the GL bindings: the window that includes it
// also includes Qt's own GL headers.
class LockedTexture;
class Texture;
class TextureDraw;

// Blends the program's watermark over each output frame, in its lower left part. The GPU objects
// are made by the first Render, so the renderer can be built on any thread.
class WatermarkRenderer {
 public:
  // The picture is a Qt resource path; the program's own mark unless a test says otherwise.
  explicit WatermarkRenderer(std::string picture = ":/watermark.png");
  ~WatermarkRenderer();
  WatermarkRenderer(const WatermarkRenderer&) = delete;
  WatermarkRenderer& operator=(const WatermarkRenderer&) = delete;

  // Render thread, context current: takes the texture's loan for the mark.
  void Render(std::shared_ptr<LockedTexture> texture);
  // Draws the mark into a texture whose loan the caller holds, context current.
  void Draw(Texture& target);
  void Init();

 private:
  // Where the mark goes on an output of `output` size, for a mark of `aspect` width / height.
  static Rectangle Placement(Size output, float aspect);

  unsigned int framebuffer_ = 0;  // GL name
  std::unique_ptr<Texture> watermark_;
  std::unique_ptr<TextureDraw> drawer_;
  std::string picture_;
};

}  // namespace vantisol
