#include "watermark_renderer/watermark_renderer.h"

#include <glbinding/gl/gl.h>

#include <QImage>
#include <QString>

#include "imgproc_opencv/image_conversions.h"
#include "opengl/locked_texture.h"
#include "opengl/shader.h"
#include "opengl/texture.h"
#include "opengl/texture_draw.h"
#include "utils/logging.h"

using namespace gl;

// Q_INIT_RESOURCE declares its function in the enclosing namespace, so it lives out here. The
// resource sits in a static library: without this call the linker may leave it out.
static void RegisterWatermarkResource() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(watermark);
    return true;
  }();
  (void)registered;
}

namespace vantisol {

WatermarkRenderer::WatermarkRenderer(std::string picture) : picture_(std::move(picture)) {}

WatermarkRenderer::~WatermarkRenderer() {
  if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
  drawer_.reset();
  watermark_.reset();
}

void WatermarkRenderer::Init() {
  LOG(INFO) << "WatermarkRenderer::Init()";
  RegisterWatermarkResource();
  glGenFramebuffers(1, &framebuffer_);
  QImage picture(QString::fromStdString(picture_));
  if (picture.isNull()) {
    // Nothing is drawn then: a null picture has no aspect to place it by.
    LOG(FATAL) << "Watermark image not found";
  } else {
    picture = picture.convertToFormat(QImage::Format_ARGB32);
    watermark_ = std::make_unique<Texture>(Image::Format::kRGBA);
    watermark_->Assign(AsVantisol(picture));
  }
  drawer_ = std::make_unique<TextureDraw>();
}

Rectangle WatermarkRenderer::Placement(Size output, float aspect) {
  const float W = float(output.width), H = float(output.height);
  const float w = 0.3f * W;
  const float h = H * ((W / H) * 0.3f / aspect);
  const float x = 0.16f * W - 0.5f * w;
  const float y = 0.91f * H - 0.5f * h;
  return Rectangle{int(x), int(y), int(w), int(h)};
}

void WatermarkRenderer::Render(std::shared_ptr<LockedTexture> texture) {
  LockedTexture::Loan target = texture->Lock();
  Draw(*target);
}

void WatermarkRenderer::Draw(Texture& target) {
  if (framebuffer_ == 0) Init();
  const Size size = target.size();
  if (!watermark_ || size.empty()) return;
  const Size mark = watermark_->size();
  const Rectangle placement = Placement(size, float(mark.width) / float(mark.height));

  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.id(), 0);
  {
    // Only the mark's rectangle is shaded; the drawer places the mark by window position, so the
    // pixels come out as with a whole-frame viewport.
    ViewportGuard viewport(size);
    glViewport(placement.x, placement.y, placement.width, placement.height);
    drawer_->Draw(*watermark_, placement, 0);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDisable(GL_BLEND);
}

}  // namespace vantisol
