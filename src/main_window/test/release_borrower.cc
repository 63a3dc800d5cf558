#include "release_borrower.h"

#include "opengl/locked_texture.h"

namespace vantisol::test {

ReleaseBorrower::ReleaseBorrower(LockedTexture& texture, std::thread::id thread,
                                 std::function<void(const Image&)> seen)
    : texture_(texture) {
  texture_.SetReleaseObserver([&texture, thread, seen = std::move(seen)] {
    // The borrower's own loan ends on that thread too.
    thread_local bool borrowing = false;
    if (std::this_thread::get_id() != thread || borrowing) return;
    borrowing = true;
    const Image picture = texture.Lock()->Download(Image::Format::kRGB);
    borrowing = false;
    seen(picture);
  });
}

ReleaseBorrower::~ReleaseBorrower() { texture_.SetReleaseObserver(nullptr); }

}  // namespace vantisol::test
