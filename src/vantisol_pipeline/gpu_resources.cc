#include "vantisol_pipeline/gpu_resources.h"

#include <malloc.h>

#include "opengl/shader.h"

namespace vantisol {

namespace {

const char kGreyShader[] = R"(#version 430
uniform sampler2D input_texture;
out vec4 color;
void main() {
  color = vec4(texelFetch(input_texture, ivec2(gl_FragCoord.xy), 0).r);
}
)";

const char kMaskShader[] = R"(#version 430
uniform sampler2D input_texture;
out vec4 color;
void main() {
  float alpha = texelFetch(input_texture, ivec2(gl_FragCoord.xy), 0).a;
  color = vec4(alpha > 0.0 ? 1.0 : 0.0, 0.0, 0.0, 1.0);
}
)";

}  // namespace

BackgroundResources::BackgroundResources()
    : grey_processor(kGreyShader), mask_processor(kMaskShader) {
  mask_blur.SetKernelSize(3);
  background_blur.use_alpha_mask_ = true;
  background_blur.invert_alpha_mask_ = true;
}

GpuResources::GpuResources()
    : output(std::make_shared<LockedTexture>(Image::Format::kRGB)),
      bilateral_filter(std::make_unique<BilateralFilter>()),
      crop_renderer(std::make_unique<CropRenderer>()),
      face_tracker(std::make_unique<FaceTracker>()),
      renderer(std::make_unique<Renderer>()),
      replacement(std::make_unique<Texture>(Image::Format::kRGB)),
      bilateral_output(std::make_unique<Texture>(Image::Format::kRGB)),
      depth(std::make_unique<Texture>(Image::Format::kGray16)),
      texture_copy(std::make_unique<TextureCopy>()),
      undistorter(std::make_unique<Undistorter>()) {}

GpuResources::~GpuResources() = default;

BackgroundResources& GpuResources::BackgroundEffects(int blur_amount) {
  if (!background_effects) {
    background_effects = std::make_unique<BackgroundResources>();
    if (blur_amount > 0) background_effects->background_blur.SetKernelSize(blur_amount);
  }
  return *background_effects;
}

void GpuResources::ReleaseBackgroundEffects() {
  if (!background_effects) return;
  background_effects.reset();
  // The allocator keeps freed memory for reuse (the software renderer's textures among it); once
  // per switch-off, unlike a fixed mmap threshold that would map and unmap big buffers every frame.
  malloc_trim(0);
}

}  // namespace vantisol
