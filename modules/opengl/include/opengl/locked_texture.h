#pragma once

#include <glbinding/gl/types.h>

#include <functional>
#include <memory>
#include <mutex>

#include "opengl/texture.h"

namespace vantisol {

// A texture lent out under a mutex, with a GPU fence left by each borrower so that the next one,
// possibly in another sharing context, waits for the previous borrower's GL work.
class LockedTexture {
 public:
  using Loan = std::unique_ptr<Texture, std::function<void(Texture*)>>;

  explicit LockedTexture(Image::Format format);
  virtual ~LockedTexture();
  LockedTexture(const LockedTexture&) = delete;
  LockedTexture& operator=(const LockedTexture&) = delete;

  // Blocks until the texture is free; the loan ends when the pointer is destroyed, on a thread with
  // a current context that shares objects with the texture's.
  Loan Lock();

  // Called on the releasing thread after each loan ends, with the texture free: where any other
  // borrower could take it first. Lets a test look at what such a borrower would see. Once this
  // returns, the previous observer neither runs nor is called again.
  void SetReleaseObserver(std::function<void()> observer);

 private:
  Texture texture_;
  std::mutex mutex_;
  gl::GLsync fence_ = nullptr;
  // Recursive: an observer may borrow the texture itself.
  std::recursive_mutex observer_mutex_;
  std::function<void()> release_observer_;
};

}  // namespace vantisol
