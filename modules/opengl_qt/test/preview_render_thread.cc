// The render-thread helper lives apart from the texture helpers: it needs Qt's context header,
// which must not meet glbinding's.
#include <QOpenGLContext>
#include <thread>

#include "opengl_qt/opengl_context.h"
#include "preview_test_support.h"

namespace vantisol {
namespace test {

std::shared_ptr<LockedTexture> MakeLockedTextureOnRenderThread(const Image& image) {
  OpenGLContext render_context(false);
  render_context.SetSharedContext();
  std::shared_ptr<LockedTexture> texture;
  std::thread render_thread([&] {
    render_context.CreateContext();
    render_context.SetContext();
    texture = MakeLockedTexture(image);
    render_context.context()->doneCurrent();
  });
  render_thread.join();
  return texture;
}

}  // namespace test
}  // namespace vantisol
