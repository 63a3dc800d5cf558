#pragma once

#include <glbinding/gl/types.h>

#include <memory>
#include <string>
#include <vector>

#include "opengl/shader.h"
#include "opengl/texture.h"

namespace vantisol {

// The normalised half of a Gaussian kernel of odd width `size`.
std::vector<float> GetGaussKernelValues(float sigma, int size);
// GLSL constants kWeights and kOffsets for linear-sampling pairs of a kernel of width `size`.
std::string GenerateWeigthtsAndOffsets(int size);
// The GLSL function GaussianBlur for a kernel of width `size`.
std::string GenerateGaussFunctionCode(int size);

// Separable Gaussian blur with a program generated for the kernel size. In alpha-mask mode the
// masked-out pixels are removed first and the result is renormalised by the blurred mask.
class TextureBlur {
 public:
  TextureBlur();
  virtual ~TextureBlur();
  TextureBlur(const TextureBlur&) = delete;
  TextureBlur& operator=(const TextureBlur&) = delete;

  void Blur(Texture& source_texture, Texture& target_texture, Texture* alpha_texture);
  // May run on another thread than Blur: the old program is released at the next Blur. Sizes
  // above kMaxKernelSize (a hand-edited setting, say) are limited to it: the program unrolls one
  // step per tap, and a huge one would stall the render thread in the shader compiler.
  void SetKernelSize(int kernel_size);
  static constexpr int kMaxKernelSize = 100;
  int kernel_size() const { return kernel_size_; }

 private:
  gl::GLuint framebuffer_ = 0;
  std::unique_ptr<Shader> blur_shader_;
  std::unique_ptr<Shader> mask_shader_;
  ScreenQuad quad_;
  Texture intermediate_{Image::Format::kRGBA};
  int kernel_size_ = 19;
  bool program_stale_ = false;

 public:
  bool use_alpha_mask_ = false;
  bool invert_alpha_mask_ = false;
};

// Foreground over background by a one-channel alpha texture.
class TextureBlender {
 public:
  TextureBlender();
  virtual ~TextureBlender();
  TextureBlender(const TextureBlender&) = delete;
  TextureBlender& operator=(const TextureBlender&) = delete;

  void Blend(Texture& foreground_texture, Texture& background_texture, Texture& target_texture,
             Texture& alpha_texture);

 private:
  gl::GLuint framebuffer_ = 0;
  Shader shader_;
  ScreenQuad quad_;
};

}  // namespace vantisol
