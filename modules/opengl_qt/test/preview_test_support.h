#pragma once

// Texture helpers for the preview tests, free of GL headers (the tests include Qt's).
#include <memory>

#include "utils/camera_image.h"

namespace vantisol {

class LockedTexture;

namespace test {

// A locked texture holding `image`, made in the calling thread's current context.
std::shared_ptr<LockedTexture> MakeLockedTexture(const Image& image);

// Replaces the texture's content under its loan, in the calling thread's current context.
void FillLockedTexture(LockedTexture& texture, const Image& image);

// A locked texture filled the way the render thread fills it: on a thread of its own, in a
// context that shares objects with the calling thread's current context.
std::shared_ptr<LockedTexture> MakeLockedTextureOnRenderThread(const Image& image);

}  // namespace test
}  // namespace vantisol
