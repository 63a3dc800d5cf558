#pragma once

#include <memory>
#include <string>

// Forward declarations only: Qt's GL headers must stay out of files that use glbinding.
class QOpenGLContext;
class QOffscreenSurface;
class QSurfaceFormat;
class QOpenGLDebugLogger;
class QOpenGLDebugMessage;

namespace vantisol {

// The render thread's OpenGL 4.3 core context on an offscreen surface, optionally sharing objects
// with the GUI's context.
class OpenGLContext {
 public:
  explicit OpenGLContext(bool debug);
  virtual ~OpenGLContext();
  OpenGLContext(const OpenGLContext&) = delete;
  OpenGLContext& operator=(const OpenGLContext&) = delete;

  // Takes the calling thread's current context as share context; before CreateContext.
  virtual void SetSharedContext();
  void CreateContext();
  // False when the context is missing, invalid (no display, no OpenGL) or cannot be made current;
  // nothing is initialised then, and the caller must not draw.
  bool SetContext();

  QOpenGLContext* context() const { return context_.get(); }
  QOffscreenSurface* surface() const { return surface_.get(); }
  const QSurfaceFormat& format() const { return *format_; }
  bool has_debug_logger() const { return logger_ != nullptr; }

  // The log line and its level for one driver debug message (notifications give an empty text).
  static std::string DebugMessageText(const std::string& message, int severity, int type);
  static void LogDebugMessage(const std::string& message, int severity, int type);

 private:
  std::unique_ptr<QOpenGLContext> context_;
  std::unique_ptr<QOffscreenSurface> surface_;
  std::unique_ptr<QSurfaceFormat> format_;
  std::unique_ptr<QOpenGLDebugLogger> logger_;
  QOpenGLContext* share_context_ = nullptr;
  bool gl_initialized_ = false;
  bool debug_ = false;
};

}  // namespace vantisol
