#include "algorithms/temporal_segmenter.h"

#include <glbinding/gl/gl.h>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {
namespace algorithms {

namespace {

// Labels and colour differences are compared as whole 8-bit levels.
const char kClassifierProgram[] = R"(#version 430
uniform sampler2D input_texture;   // colour
uniform sampler2D input_texture2;  // background model
out vec4 label;
void main() {
  vec2 at = gl_FragCoord.xy / vec2(textureSize(input_texture, 0));
  vec4 color = texture(input_texture, at);
  vec4 model = texture(input_texture2, at);
  int diff = int(round(255.0 * max(max(abs(color.r - model.r), abs(color.g - model.g)),
                                   abs(color.b - model.b))));
  float value = 128.0 / 255.0;
  if (model.a >= 0.5 / 255.0) {
    if (diff > 100) value = 1.0;
    else if (diff < 8) value = 0.0;
  }
  label = vec4(value);
}
)";

const char kCombinerProgram[] = R"(#version 430
uniform sampler2D input_texture;   // colour
uniform sampler2D input_texture2;  // trimap
uniform sampler2D input_texture3;  // improved trimap
out vec4 combined;
void main() {
  vec2 at = gl_FragCoord.xy / vec2(textureSize(input_texture, 0));
  float trimap = texelFetch(input_texture2, ivec2(gl_FragCoord.xy), 0).r;
  bool unknown = int(round(trimap * 255.0)) == 128;
  float label = unknown ? texelFetch(input_texture3, ivec2(gl_FragCoord.xy), 0).r : trimap;
  combined = vec4(texture(input_texture, at).rgb, label);
}
)";

const char kAlphaSplitProgram[] = R"(#version 430
uniform sampler2D input_texture;
out vec4 alpha;
void main() {
  alpha = vec4(texelFetch(input_texture, ivec2(gl_FragCoord.xy), 0).a);
}
)";

const char kClearProgram[] = R"(#version 430
out vec4 cleared;
void main() {
  cleared = vec4(0.0);
}
)";

const char kUpdateProgram[] = R"(#version 430
uniform sampler2D input_texture;   // colour
uniform sampler2D input_texture2;  // dilated segmentation
uniform sampler2D input_texture3;  // background model
out vec4 model_out;
const float kStep = 1.0 / 255.0;
void main() {
  vec2 at = gl_FragCoord.xy / vec2(textureSize(input_texture, 0));
  vec3 color = texture(input_texture, at).rgb;
  float s = texelFetch(input_texture2, ivec2(gl_FragCoord.xy), 0).r;
  vec4 m = texelFetch(input_texture3, ivec2(gl_FragCoord.xy), 0);
  if (s < 0.5 * kStep) {
    vec3 d = m.rgb - color;
    if (m.a < 0.5 * kStep) {
      model_out = vec4(color, kStep);
    } else if (dot(d, d) > 0.005) {
      model_out = vec4(color, 0.0);
    } else {
      model_out = vec4(color, min(m.a + kStep, 1.0));
    }
  } else {
    model_out = vec4(m.rgb, max(m.a - kStep, 0.0));
  }
}
)";

const char kDisagreementProgram[] = R"(#version 430
uniform sampler2D input_texture;   // improved trimap
uniform sampler2D input_texture2;  // trimap
out vec4 keep;
void main() {
  int i = int(round(texelFetch(input_texture, ivec2(gl_FragCoord.xy), 0).r * 255.0));
  int t = int(round(texelFetch(input_texture2, ivec2(gl_FragCoord.xy), 0).r * 255.0));
  keep = vec4((i == 255 && t == 0) || (i == 0 && t == 255) ? 0.0 : 1.0);
}
)";

}  // namespace

TemporalSegmenter::TemporalSegmenter()
    : alpha_split_(kAlphaSplitProgram),
      classifier_(kClassifierProgram),
      combiner_(kCombinerProgram),
      clear_(kClearProgram),
      update_(kUpdateProgram),
      disagreement_(kDisagreementProgram) {}

void TemporalSegmenter::SetUseHistory(bool use_history) {
  if (use_history == history_) return;
  history_ = use_history;
  if (!history_) Reset();
}

void TemporalSegmenter::Reset() {
  model_.reset();
  spare_.reset();
  segmenter_.Reset();
}

void TemporalSegmenter::Process(Texture& color_image, Texture& trimap, Texture& result) {
  VANTISOL_CHECK(color_image.size() == trimap.size()) << "colour and trimap differ in size";

  if (model_) {
    classifier_.Run(color_image, *model_, improved_trimap_);
    dumper_.Save("Background", *model_);
  } else {
    copy_.Copy(trimap, improved_trimap_);
  }

  if (!combined_) combined_ = std::make_unique<Texture>(Image::Format::kRGBA);
  combined_->Resize(color_image.size());
  combiner_.Run(color_image, trimap, improved_trimap_, *combined_);
  combined_ = segmenter_.Segment(std::move(combined_));

  alpha_split_.Run(segmenter_.result(), segmentation_);
  cleaner_.Process(segmentation_, trimap, result, 16);
  dumper_.Save("Final segmentation", result);

  if (!history_) return;
  dilation_.Apply(result, dilated_segmentation_, 2);
  dumper_.Save("Dilated segmentation", dilated_segmentation_);
  if (!model_) {
    model_ = std::make_unique<Texture>(Image::Format::kRGBA);
    spare_ = std::make_unique<Texture>(Image::Format::kRGBA);
    clear_.Render(dilated_segmentation_.size(), *model_);
  }
  update_.Run(color_image, dilated_segmentation_, *model_, *spare_);
  std::swap(model_, spare_);
  dumper_.Save("Updated background", *model_);

  glEnable(GL_BLEND);
  glBlendFunc(GL_ZERO, GL_SRC_ALPHA);
  disagreement_.Run(improved_trimap_, trimap, *model_);
  glDisable(GL_BLEND);
  dumper_.Save("Fixed background", *model_);
}

}  // namespace algorithms
}  // namespace vantisol
