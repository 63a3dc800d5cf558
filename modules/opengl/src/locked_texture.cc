#include "opengl/locked_texture.h"

#include <glbinding/Meta.h>
#include <glbinding/gl/gl.h>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

LockedTexture::LockedTexture(Image::Format format) : texture_(format) {}

LockedTexture::~LockedTexture() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Nobody waits on a fence that is still pending: release it with the texture.
  if (fence_ != nullptr) glDeleteSync(fence_);
  fence_ = nullptr;
}

LockedTexture::Loan LockedTexture::Lock() {
  mutex_.lock();
  if (fence_ != nullptr) {
    const GLenum result = glClientWaitSync(fence_, SyncObjectMask::GL_NONE_BIT, 1000000000);
    if (result != GL_ALREADY_SIGNALED && result != GL_CONDITION_SATISFIED) {
      LOG(WARNING) << "Sync was not successful: " << result;
    }
    glDeleteSync(fence_);
    fence_ = nullptr;
  }
  return Loan(&texture_, [this](Texture*) {
    fence_ = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, UnusedMask::GL_UNUSED_BIT);
    glFlush();
    mutex_.unlock();
    std::lock_guard<std::recursive_mutex> observing(observer_mutex_);
    if (release_observer_) release_observer_();
  });
}

void LockedTexture::SetReleaseObserver(std::function<void()> observer) {
  std::lock_guard<std::recursive_mutex> observing(observer_mutex_);
  release_observer_ = std::move(observer);
}

}  // namespace vantisol
