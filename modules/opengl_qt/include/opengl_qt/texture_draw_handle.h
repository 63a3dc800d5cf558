#pragma once

// Free of GL headers: both the Qt side and the glbinding side of the preview include it.
#include <memory>

namespace vantisol {

class TextureDraw;

// Frees a TextureDraw in a file that may include glbinding.
struct TextureDrawDeleter {
  void operator()(TextureDraw* draw) const;
};

using TextureDrawHandle = std::unique_ptr<TextureDraw, TextureDrawDeleter>;

}  // namespace vantisol
