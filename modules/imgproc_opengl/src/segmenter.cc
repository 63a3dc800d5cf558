#include "imgproc_opengl/segmenter.h"

#include <glbinding/gl/gl.h>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {
namespace opengl {

namespace {

// Colours and labels are handled as whole 8-bit levels (label 255 person, 0 background, 128
// unknown), which is what the textures hold; means round half up.
const char kDownscaleProgram[] = R"(#version 430
uniform sampler2D image;
out vec4 color;
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  ivec2 last = textureSize(image, 0) - 1;
  ivec3 black = ivec3(0), white = ivec3(0), total = ivec3(0);
  int blacks = 0, whites = 0;
  for (int j = 0; j < 2; ++j) {
    for (int i = 0; i < 2; ++i) {
      ivec4 c = ivec4(round(texelFetch(image, clamp(2 * p + ivec2(i, j), ivec2(0), last), 0)
                            * 255.0));
      if (c.a == 0) {
        black += c.rgb;
        ++blacks;
      } else if (c.a == 255) {
        white += c.rgb;
        ++whites;
      }
      total += c.rgb;
    }
  }
  if (whites > 0 && blacks == 0) {
    color = vec4(vec3((white + whites / 2) / whites) / 255.0, 1.0);
  } else if (blacks > 0 && whites == 0) {
    color = vec4(vec3((black + blacks / 2) / blacks) / 255.0, 0.0);
  } else {
    color = vec4(vec3((total + 2) / 4) / 255.0, 128.0 / 255.0);
  }
}
)";

const char kFillProgram[] = R"(#version 430
uniform sampler2D image;
uniform sampler2D image_small;
uniform sampler2D previous_image;
uniform bool has_previous_image;
out vec4 color;
ivec4 Levels(vec4 c) { return ivec4(round(c * 255.0)); }
int best_black = 0, best_white = 0, blacks = 0, whites = 0;
ivec3 black_color = ivec3(0), white_color = ivec3(0);
void Candidate(ivec3 c, ivec4 candidate) {
  if (candidate.a != 0 && candidate.a != 255) return;
  ivec3 d = candidate.rgb - c;
  int distance = d.r * d.r + d.g * d.g + d.b * d.b;
  if (candidate.a == 255) {
    if (whites == 0 || distance < best_white) {
      best_white = distance;
      white_color = candidate.rgb;
    }
    ++whites;
  } else {
    if (blacks == 0 || distance < best_black) {
      best_black = distance;
      black_color = candidate.rgb;
    }
    ++blacks;
  }
}
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  ivec2 size = textureSize(image, 0);
  vec4 pixel = texelFetch(image, p, 0);
  ivec4 c = Levels(pixel);
  if (c.a != 128) {
    color = pixel;
    return;
  }
  if (has_previous_image) {
    Candidate(c.rgb, Levels(texture(previous_image, gl_FragCoord.xy / vec2(size))));
  }
  ivec2 last = textureSize(image_small, 0) - 1;
  for (int j = -1; j <= 1; ++j) {
    for (int i = -1; i <= 1; ++i) {
      ivec2 q = clamp(p / 2 + ivec2(i, j), ivec2(0), last);
      Candidate(c.rgb, Levels(texelFetch(image_small, q, 0)));
    }
  }
  // A class without candidates loses; with none at all the pixel becomes person on black.
  bool to_black;
  if (blacks == 0 || whites == 0) {
    to_black = whites == 0 && blacks > 0;
  } else {
    to_black = best_black * whites < best_white * blacks;
  }
  color = to_black ? vec4(vec3(black_color) / 255.0, 0.0) : vec4(vec3(white_color) / 255.0, 1.0);
}
)";

int CeilLog2(int n) {
  int k = 0;
  while ((int64_t(1) << k) < n) ++k;
  return k;
}

}  // namespace

int Segmenter::LevelCount(Size size) {
  return std::min(CeilLog2(size.height) + 1, CeilLog2(size.width) + 1);
}

Segmenter::Segmenter()
    : fill_shader_(kFillProgram, kPassThroughVertexShader, std::string()),
      downscale_shader_(kDownscaleProgram, kPassThroughVertexShader, std::string()) {
  glGenFramebuffers(1, &fill_framebuffer_);
  glGenFramebuffers(1, &downscale_framebuffer_);
}

Segmenter::~Segmenter() {
  glDeleteFramebuffers(1, &fill_framebuffer_);
  glDeleteFramebuffers(1, &downscale_framebuffer_);
}

std::unique_ptr<Texture> Segmenter::Segment(std::unique_ptr<Texture> input) {
  VANTISOL_CHECK(input) << "no input";
  if (!input) return nullptr;
  VANTISOL_CHECK(!input->size().empty()) << "empty input";
  VANTISOL_CHECK(input->channels() == 4) << "the alpha channel carries the labels";
  if (input->size().empty() || input->channels() != 4) return input;

  const int levels = LevelCount(input->size());
  pyramid_.resize(levels);
  std::unique_ptr<Texture> replaced = std::move(pyramid_[0]);
  pyramid_[0] = std::move(input);
  for (int i = 1; i < levels; ++i) {
    if (!pyramid_[i]) {
      pyramid_[i] = std::make_unique<Texture>(Image::Format::kRGBA);
      pyramid_[i]->SetInterpolation(Texture::Nearest);
    }
    Downscale(*pyramid_[i - 1], *pyramid_[i]);
  }

  std::swap(results_, previous_results_);
  results_.resize(levels);
  for (int level = levels - 1; level >= 0; --level) {
    const Texture* previous =
        level < int(previous_results_.size()) ? previous_results_[level].get() : nullptr;
    if (!results_[level]) {
      results_[level] = std::make_unique<Texture>(Image::Format::kRGBA);
      results_[level]->SetInterpolation(Texture::Nearest);
    }
    if (level == levels - 1) {
      copy_.Copy(*pyramid_[level], *results_[level]);
    } else {
      results_[level]->Resize(pyramid_[level]->size());
      Fill(*pyramid_[level], *results_[level + 1], previous, *results_[level]);
    }
  }
  return replaced;
}

void Segmenter::Reset() { results_.clear(); }

void Segmenter::Downscale(const Texture& finer, Texture& coarser) {
  const Size size{(finer.size().width + 1) / 2, (finer.size().height + 1) / 2};
  coarser.Resize(size, Image::Format::kRGBA);
  ViewportGuard viewport(size);
  glBindFramebuffer(GL_FRAMEBUFFER, downscale_framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, coarser.id(), 0);
  {
    const auto in_use = downscale_shader_.ScopedEnable();
    auto bound = finer.ScopedBind(downscale_shader_.GetTextureUnit("image"));
    quad_.Draw(glGetAttribLocation(downscale_shader_.program(), "position_in"));
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Segmenter::Fill(const Texture& image, const Texture& smaller, const Texture* previous,
                     Texture& result) {
  ViewportGuard viewport(result.size());
  glBindFramebuffer(GL_FRAMEBUFFER, fill_framebuffer_);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, result.id(), 0);
  fill_shader_.SetUniform("has_previous_image", previous != nullptr);
  {
    const auto in_use = fill_shader_.ScopedEnable();
    auto bound_image = image.ScopedBind(fill_shader_.GetTextureUnit("image"));
    auto bound_small = smaller.ScopedBind(fill_shader_.GetTextureUnit("image_small"));
    // Without a previous frame the sampler is bound to nothing and never read.
    Texture::Unbinder bound_previous;
    if (previous != nullptr) {
      bound_previous = previous->ScopedBind(fill_shader_.GetTextureUnit("previous_image"));
    }
    quad_.Draw(glGetAttribLocation(fill_shader_.program(), "position_in"));
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace opengl
}  // namespace vantisol
