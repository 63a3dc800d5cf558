#include "vantisol_pipeline/render_context.h"

#include <QOpenGLContext>
#include <QSurfaceFormat>

namespace vantisol {

bool UsableRenderContext(const OpenGLContext& context) {
  const QOpenGLContext* gl = context.context();
  if (gl == nullptr || !gl->isValid()) return false;
  const QSurfaceFormat format = gl->format();
  return format.version() >= qMakePair(4, 3) && format.profile() == QSurfaceFormat::CoreProfile;
}

void ReleaseRenderContext(OpenGLContext& context) {
  if (context.context() != nullptr) context.context()->doneCurrent();
}

}  // namespace vantisol
