#pragma once

#include "opengl_qt/opengl_context.h"

namespace vantisol {

// Kept apart from the glbinding code: these need Qt's GL headers.
// True when the context exists and offers OpenGL 4.3 core or higher.
bool UsableRenderContext(const OpenGLContext& context);
// Leaves the context current nowhere, before the render thread ends.
void ReleaseRenderContext(OpenGLContext& context);

}  // namespace vantisol
