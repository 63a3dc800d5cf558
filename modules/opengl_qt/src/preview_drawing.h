#pragma once

// The glbinding half of the preview widget; free of GL headers so that the Qt half can use it.
#include "opengl_qt/texture_draw_handle.h"

namespace vantisol {

class LockedTexture;

TextureDrawHandle MakeTextureDraw();

// Clears the current framebuffer and draws the texture fitted into width x height, mirrored
// vertically, under the texture's loan.
void DrawPreview(TextureDraw& draw, LockedTexture& texture, int width, int height);

}  // namespace vantisol
