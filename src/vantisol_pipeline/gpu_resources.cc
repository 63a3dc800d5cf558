#include "vantisol_pipeline/gpu_resources.h"

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

GpuResources::GpuResources()
    : output(std::make_shared<LockedTexture>(Image::Format::kRGB)),
      grey_processor(kGreyShader),
      mask_processor(kMaskShader),
      bilateral_filter(std::make_unique<BilateralFilter>()),
      depth_projection(std::make_unique<DepthProjection>()),
      crop_renderer(std::make_unique<CropRenderer>()),
      face_tracker(std::make_unique<FaceTracker>()),
      renderer(std::make_unique<Renderer>()),
      replacement(std::make_unique<Texture>(Image::Format::kRGB)),
      bilateral_output(std::make_unique<Texture>(Image::Format::kRGB)),
      depth(std::make_unique<Texture>(Image::Format::kGray16)),
      foreground_extractor(std::make_unique<opengl::ForegroundExtractor>()),
      blender(std::make_unique<TextureBlender>()),
      mask_blur(std::make_unique<TextureBlur>()),
      background_blur(std::make_unique<TextureBlur>()),
      texture_copy(std::make_unique<TextureCopy>()),
      texture_scale(std::make_unique<TextureScale>()),
      undistorter(std::make_unique<Undistorter>()) {
  mask_blur->SetKernelSize(3);
  background_blur->use_alpha_mask_ = true;
  background_blur->invert_alpha_mask_ = true;
}

GpuResources::~GpuResources() = default;

}  // namespace vantisol
