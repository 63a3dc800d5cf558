#pragma once

// Qt's GL headers come in here: a file that includes this header must not include glbinding.
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPoint>
#include <memory>

#include "opengl_qt/texture_draw_handle.h"

class QSurfaceFormat;

namespace vantisol {

class LockedTexture;

// The live preview: draws the latest frame texture letterboxed and upright, and turns mouse and
// key input into signals.
class TextureRenderWidget : public QOpenGLWidget, private QOpenGLFunctions {
  Q_OBJECT

 public:
  explicit TextureRenderWidget(QWidget* parent = nullptr);
  ~TextureRenderWidget() override;

  QSize sizeHint() const override;

 signals:
  void ContextAvailable();
  void MouseMovedLeft(int dx, int dy);
  void MouseMovedRight(int dx, int dy);
  void MouseWheel(int delta);
  void MousePressAlt();

 public slots:
  // Keeps the texture (releasing the previous one) and schedules a repaint; GUI thread.
  void RenderTexture(std::shared_ptr<LockedTexture> texture);

 protected:
  void initializeGL() override;
  void paintGL() override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void CleanUp();

  QPoint last_mouse_position_;
  TextureDrawHandle texture_draw_;
  std::shared_ptr<LockedTexture> locked_texture_;
  std::unique_ptr<QSurfaceFormat> format_;
  bool alt_pressed_ = false;
};

}  // namespace vantisol
