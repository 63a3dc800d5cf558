#include "preview_test_support.h"

#include "opengl/locked_texture.h"

namespace vantisol {
namespace test {

std::shared_ptr<LockedTexture> MakeLockedTexture(const Image& image) {
  auto texture = std::make_shared<LockedTexture>(image.format);
  FillLockedTexture(*texture, image);
  return texture;
}

void FillLockedTexture(LockedTexture& texture, const Image& image) {
  const LockedTexture::Loan loan = texture.Lock();
  loan->Assign(image);
}

}  // namespace test
}  // namespace vantisol
