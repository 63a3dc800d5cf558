#include "opengl_qt/texture_render_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWheelEvent>

#include "opengl/opengl.h"
#include "preview_drawing.h"
#include "utils/logging.h"

namespace vantisol {

TextureRenderWidget::TextureRenderWidget(QWidget* parent)
    : QOpenGLWidget(parent, Qt::WindowFlags()),
      format_(std::make_unique<QSurfaceFormat>(QSurfaceFormat::defaultFormat())) {
  LOG(INFO) << "TextureRenderWidget";
  format_->setVersion(4, 3);
  format_->setProfile(QSurfaceFormat::CoreProfile);
  setFormat(*format_);
  setMinimumHeight(200);
  setMinimumWidth(200);
}

TextureRenderWidget::~TextureRenderWidget() {
  // The base class destroys the context after this body: the clean-up must not run again then,
  // on a half-destroyed widget.
  if (context() != nullptr) disconnect(context(), nullptr, this, nullptr);
  CleanUp();
}

QSize TextureRenderWidget::sizeHint() const { return QSize(640, 360); }

void TextureRenderWidget::RenderTexture(std::shared_ptr<LockedTexture> texture) {
  locked_texture_ = std::move(texture);
  update();
}

void TextureRenderWidget::initializeGL() {
  LOG(INFO) << "initializeGL()";
  InitializeOpenGl(false);
  initializeOpenGLFunctions();
  context()->setFormat(*format_);
  connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &TextureRenderWidget::CleanUp,
          Qt::DirectConnection);
  texture_draw_ = MakeTextureDraw();
  glClearColor(0.96f, 0.96f, 0.96f, 1.0f);
  emit ContextAvailable();
}

void TextureRenderWidget::paintGL() {
  if (!locked_texture_) return;
  DrawPreview(*texture_draw_, *locked_texture_, width(), height());
}

void TextureRenderWidget::CleanUp() {
  makeCurrent();
  locked_texture_.reset();
  texture_draw_.reset();
  doneCurrent();
}

void TextureRenderWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Alt) alt_pressed_ = true;
}

void TextureRenderWidget::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Alt) alt_pressed_ = false;
}

void TextureRenderWidget::mousePressEvent(QMouseEvent* event) {
  if (alt_pressed_) emit MousePressAlt();
  last_mouse_position_ = event->pos();
}

void TextureRenderWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint delta = event->pos() - last_mouse_position_;
  if (event->buttons() == Qt::LeftButton) {
    emit MouseMovedLeft(delta.x(), delta.y());
  } else if (event->buttons() == Qt::RightButton) {
    emit MouseMovedRight(delta.x(), delta.y());
  }
  last_mouse_position_ = event->pos();
}

void TextureRenderWidget::wheelEvent(QWheelEvent* event) {
  emit MouseWheel(event->angleDelta().y());
}

}  // namespace vantisol
