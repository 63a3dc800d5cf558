#pragma once
// Kept apart from the window's tests: the texture's GL headers and Qt's cannot meet in one file.

#include <functional>
#include <thread>

#include "utils/camera_image.h"

namespace vantisol {
class LockedTexture;
}  // namespace vantisol

namespace vantisol::test {

// Each time a loan of `texture` ends on `thread`, borrows the texture there at once, as another
// borrower could, and hands `seen` the picture it holds. Ends when the object does.
class ReleaseBorrower {
 public:
  ReleaseBorrower(LockedTexture& texture, std::thread::id thread,
                  std::function<void(const Image&)> seen);
  ~ReleaseBorrower();
  ReleaseBorrower(const ReleaseBorrower&) = delete;
  ReleaseBorrower& operator=(const ReleaseBorrower&) = delete;

 private:
  LockedTexture& texture_;
};

}  // namespace vantisol::test
