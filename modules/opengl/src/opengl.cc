#include "opengl/opengl.h"

#include <glbinding/Binding.h>
#include <glbinding/FunctionCall.h>
#include <glbinding/callbacks.h>
#include <glbinding/gl/gl.h>

#include <sstream>

#include "utils/logging.h"
#include "utils/utils.h"

using namespace gl;

namespace vantisol {

void InitializeOpenGl(bool debug) {
  glbinding::Binding::initialize(true);
  // A new context may get the handle of a destroyed one, which glbinding still knows: it then
  // skips the binding for this thread, and the next GL call fails. Bind explicitly.
  glbinding::Binding::useCurrentContext();
  if (!debug) return;
  glbinding::setCallbackMaskExcept(glbinding::CallbackMask::After, {"glGetError"});
  glbinding::setAfterCallback([](const glbinding::FunctionCall& call) {
    const std::string text = EscapeLineBreaks(call.toString());
    LOG(INFO) << "Executing OpenGL function '" << text << "'";
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
      std::ostringstream value;
      value << std::hex << error;
      LOG(WARNING) << "OpenGL error: " << text << " -> " << value.str();
    }
  });
}

}  // namespace vantisol
