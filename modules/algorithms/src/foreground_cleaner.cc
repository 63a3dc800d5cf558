#include "algorithms/foreground_cleaner.h"

#include "imgproc_opencv/image_conversions.h"
#include "opengl/texture_draw.h"

namespace vantisol {
namespace algorithms {

namespace {

const char kFinalMaskProgram[] = R"(#version 430
uniform sampler2D input_texture;
uniform sampler2D input_texture2;
out vec4 mask;
void main() {
  float segmentation = texelFetch(input_texture, ivec2(gl_FragCoord.xy), 0).r;
  float kept = texture(input_texture2, gl_FragCoord.xy / vec2(textureSize(input_texture, 0))).r;
  mask = vec4(segmentation > 0.0 && kept > 0.0 ? 1.0 : 0.0);
}
)";

}  // namespace

ForegroundCleaner::ForegroundCleaner() : final_mask_(kFinalMaskProgram) {}

void ForegroundCleaner::Process(Texture& segmentation, Texture& trimap, Texture& result,
                                int factor) {
  const Size small{segmentation.size().width / factor, segmentation.size().height / factor};
  small_segmentation_.Resize(small);
  small_trimap_.Resize(small);
  scale_.Scale(segmentation, small_segmentation_, TextureDraw::kStretch);
  scale_.Scale(trimap, small_trimap_, TextureDraw::kStretch);
  const Image small_segmentation = small_segmentation_.Download(Image::Format::kGray8);
  const Image small_trimap = small_trimap_.Download(Image::Format::kGray8);
  const cv::Mat kept = KeepWith3D(AsCv(small_trimap), AsCv(small_segmentation));
  // KeepWith3D may hand back a view of its input; the upload copies it before the images go.
  kept_.Assign(AsVantisol(kept.isContinuous() ? kept : kept.clone()));
  final_mask_.Run(segmentation, kept_, result);
}

}  // namespace algorithms
}  // namespace vantisol
