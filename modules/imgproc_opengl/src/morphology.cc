#include "imgproc_opengl/morphology.h"

#include "opengl/texture_draw.h"

namespace vantisol {
namespace opengl {

namespace {

// DILATE, TARGET_COLOR and SIZE are filled in at construction (first occurrence each).
const char kMorphologyProgram[] = R"(#version 430
const bool kDilate = DILATE;
const float kTarget = float(TARGET_COLOR) / 255.0;
const int kReach = SIZE;
uniform sampler2D input_texture;
uniform bool horizontal;
out vec4 color;
// Values compare within half an 8-bit level, so that 128/255 matches exactly. Which neighbour
// matches first does not change the result, so every neighbour is looked at without branching.
const float kHalfLevel = 0.5 / 255.0;
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  ivec2 last = textureSize(input_texture, 0) - 1;
  ivec2 step = horizontal ? ivec2(1, 0) : ivec2(0, 1);
  float c = texelFetch(input_texture, p, 0).r;
  bool found = false;
  for (int i = 1; i <= kReach; ++i) {
    float before = texelFetch(input_texture, clamp(p - i * step, ivec2(0), last), 0).r;
    float after = texelFetch(input_texture, clamp(p + i * step, ivec2(0), last), 0).r;
    found = found || (kDilate ? abs(before - kTarget) < kHalfLevel || abs(after - kTarget) < kHalfLevel
                              : abs(before - c) >= kHalfLevel || abs(after - c) >= kHalfLevel);
  }
  color = vec4(found || abs(c - kTarget) < kHalfLevel ? kTarget : c);
}
)";

void ReplaceFirst(std::string& text, const std::string& token, const std::string& value) {
  const size_t at = text.find(token);
  if (at != std::string::npos) text.replace(at, token.size(), value);
}

}  // namespace

std::string Morphology::ProgramText(bool erode, int size, uint8_t target) {
  std::string text = kMorphologyProgram;
  ReplaceFirst(text, "DILATE", erode ? "false" : "true");
  ReplaceFirst(text, "TARGET_COLOR", std::to_string(int(target)));
  ReplaceFirst(text, "SIZE", std::to_string(size));
  return text;
}

Morphology::Morphology(bool erode, int size, uint8_t target)
    : processor_(ProgramText(erode, size, target)) {}

void Morphology::Apply(Texture& in, Texture& out) {
  processor_.shader().SetUniform("horizontal", true);
  processor_.Run(in, intermediate_);
  processor_.shader().SetUniform("horizontal", false);
  processor_.Run(intermediate_, out);
}

ScaledMorphology::ScaledMorphology(bool erode, int size, uint8_t target)
    : morphology_(erode, size, target) {
  small_in_.SetInterpolation(Texture::Nearest);
  small_out_.SetInterpolation(Texture::Nearest);
}

void ScaledMorphology::Apply(Texture& in, Texture& out, int factor) {
  // The caller's texture is sampled point-wise here and keeps its own filter afterwards.
  const int interpolation = in.interpolation();
  in.SetInterpolation(Texture::Nearest);
  const Size small{in.size().width / factor, in.size().height / factor};
  small_in_.Resize(small, in.internal_format());
  scale_.Scale(in, small_in_, TextureDraw::kStretch);
  if (scale_back_) {
    small_out_.Resize(small, out.internal_format());
    morphology_.Apply(small_in_, small_out_);
    out.Resize(in.size());
    scale_.Scale(small_out_, out, TextureDraw::kStretch);
  } else {
    morphology_.Apply(small_in_, out);
  }
  in.SetInterpolation(interpolation);
}

}  // namespace opengl
}  // namespace vantisol
