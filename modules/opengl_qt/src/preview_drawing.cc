#include "preview_drawing.h"

#include <glbinding/gl/gl.h>

#include "opengl/locked_texture.h"
#include "opengl/shader.h"
#include "opengl/texture_draw.h"

using namespace gl;

namespace vantisol {

namespace {
constexpr int kFlipVertical = 2;
}  // namespace

void TextureDrawDeleter::operator()(TextureDraw* draw) const { delete draw; }

TextureDrawHandle MakeTextureDraw() { return TextureDrawHandle(new TextureDraw()); }

void DrawPreview(TextureDraw& draw, LockedTexture& texture, int width, int height) {
  ViewportGuard viewport(width, height);
  glClear(GL_COLOR_BUFFER_BIT);
  const LockedTexture::Loan loan = texture.Lock();
  draw.Draw(*loan, Size{width, height}, TextureDraw::kFit, kFlipVertical);
}

}  // namespace vantisol
