#include "opengl/texture_blur.h"

#include <glbinding/gl/gl.h>

#include <cmath>
#include <iomanip>
#include <sstream>

#include "utils/logging.h"

using namespace gl;

namespace vantisol {

namespace {

const double kPi = std::acos(0.0) * 2;

int KernelWidth(int steps) { return 4 * steps - 1; }

float Sigma(int width) { return (width * 0.5f - 1) * 0.3f + 0.8f; }

const char kBlurMain[] = R"(
uniform sampler2D input_texture;
uniform float width;
uniform float height;
uniform bool horizontal;
uniform bool normalize;
out vec4 color;
void main() {
  vec2 pixel_offset = horizontal ? vec2(1.0 / width, 0.0) : vec2(0.0, 1.0 / height);
  color = GaussianBlur(input_texture, gl_FragCoord.xy / vec2(width, height), pixel_offset);
  if (normalize) {
    // Where no unmasked pixel lies within the kernel the result is black.
    color.rgb = color.a > 0.0 ? color.rgb / color.a : vec3(0.0);
    color.a = 1.0;
  }
}
)";

const char kMaskShader[] = R"(#version 430
uniform sampler2D input_texture;
uniform sampler2D alpha_texture;
uniform bool invert_alpha_mask;
uniform bool separate_alpha_texture;
out vec4 color;
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  color = texelFetch(input_texture, p, 0);
  if (separate_alpha_texture) color.a = texelFetch(alpha_texture, p, 0).r;
  color.a = color.a > 0.0 ? 1.0 : 0.0;
  if (invert_alpha_mask) color.a = 1.0 - color.a;
  color.rgb *= color.a;
}
)";

const char kBlendShader[] = R"(#version 430
uniform sampler2D foreground_texture;
uniform sampler2D background_texture;
uniform sampler2D alpha_texture;
out vec4 color;
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  vec3 foreground = texelFetch(foreground_texture, p, 0).rgb;
  vec3 background = texelFetch(background_texture, p, 0).rgb;
  color = vec4(mix(background, foreground, texelFetch(alpha_texture, p, 0).r), 1.0);
}
)";

void DrawPass(Shader& shader, const ScreenQuad& quad, Texture& target) {
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.id(), 0);
  quad.Draw(glGetAttribLocation(shader.program(), "position_in"));
}

}  // namespace

std::vector<float> GetGaussKernelValues(float sigma, int kernel_size) {
  // clang-format off
  VANTISOL_CHECK(kernel_size%2 == 1) << "Must be symmetric";
  // clang-format on
  const int h = kernel_size / 2;
  std::vector<float> values;
  float sum = 0;
  for (int d = 0; d <= h; ++d) {
    const double a = d / sigma, b = h / sigma;
    float g =
        static_cast<float>(std::sqrt(std::exp(-0.5 * (a * a + b * b)) / (2 * kPi * sigma * sigma)));
    if (d == 0) g *= 0.5f;
    values.push_back(g);
    sum += g;
  }
  for (float& value : values) value /= 2 * sum;
  return values;
}

std::string GenerateWeigthtsAndOffsets(int kernel_size) {
  // clang-format off
  VANTISOL_CHECK((kernel_size%2) == 1);
  VANTISOL_CHECK((((kernel_size/2)+1)%2) == 0);
  // clang-format on
  const std::vector<float> kernel = GetGaussKernelValues(Sigma(kernel_size), kernel_size);
  VANTISOL_CHECK((kernel.size() % 2) == 0);
  const int num_steps = static_cast<int>(kernel.size()) / 2;
  std::vector<float> weights, offsets;
  for (int i = 0; i < num_steps; ++i) {
    const float weight = kernel[2 * i] + kernel[2 * i + 1];
    weights.push_back(weight);
    offsets.push_back(2 * i + kernel[2 * i + 1] / weight);
  }
  std::ostringstream text;
  text << std::fixed << std::setprecision(6);
  text << "  // Kernel width " << kernel_size << "x" << kernel_size << "\n";
  text << "  const int num_steps = " << num_steps << ";\n\n";
  const auto block = [&text](const char* name, const std::vector<float>& values) {
    text << "  const float " << name << "[num_steps] = {\n";
    for (size_t i = 0; i < values.size(); ++i) {
      text << "    " << values[i] << (i + 1 < values.size() ? "," : "") << "\n";
    }
    text << "  };\n";
  };
  block("kWeights", weights);
  text << "\n";
  block("kOffsets", offsets);
  return text.str();
}

std::string GenerateGaussFunctionCode(int kernel_size) {
  std::ostringstream text;
  text << "// Separable Gaussian blur with linear-sampling pairs\n"
       << "vec4 GaussianBlur(sampler2D input_texture, vec2 coordinates, vec2 pixel_offset) {\n"
       << "  vec4 result = vec4(0.0);\n"
       << GenerateWeigthtsAndOffsets(kernel_size) << "\n"
       << "  vec2 offset;\n";
  // Unrolled, so that every weight and offset is a constant of its own statement.
  for (int i = 0; i < (kernel_size + 1) / 4; ++i) {
    text << "  offset = kOffsets[" << i << "] * pixel_offset;\n"
         << "  result += kWeights[" << i << "] * (texture(input_texture, coordinates + offset) +\n"
         << "      texture(input_texture, coordinates - offset));\n";
  }
  text << "  return result;\n"
       << "}\n";
  return text.str();
}

TextureBlur::TextureBlur() { glGenFramebuffers(1, &framebuffer_); }

TextureBlur::~TextureBlur() { glDeleteFramebuffers(1, &framebuffer_); }

void TextureBlur::SetKernelSize(int kernel_size) {
  if (kernel_size > kMaxKernelSize) {
    LOG(WARNING) << "Blur kernel size " << kernel_size << " limited to " << kMaxKernelSize;
    kernel_size = kMaxKernelSize;
  }
  if (kernel_size == kernel_size_) return;
  kernel_size_ = kernel_size;
  // GL objects belong to the render thread's context: drop the program there, at the next Blur.
  program_stale_ = true;
}

void TextureBlur::Blur(Texture& source_texture, Texture& target_texture, Texture* alpha_texture) {
  VANTISOL_CHECK(kernel_size_ > 0);
  if (kernel_size_ <= 0) return;
  if (program_stale_) {
    blur_shader_.reset();
    program_stale_ = false;
  }
  if (!blur_shader_) {
    blur_shader_ = std::make_unique<Shader>(
        "#version 430\n" + GenerateGaussFunctionCode(KernelWidth(kernel_size_)) + kBlurMain,
        kPassThroughVertexShader, std::string());
  }
  const Size size = source_texture.size();
  intermediate_.Resize(size);
  target_texture.Resize(size);
  ViewportGuard viewport(size);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);

  if (use_alpha_mask_) {
    // The logged condition would dereference a null alpha texture; the tested one does not.
    if (!(source_texture.channels() == 4 ||
          (alpha_texture && (alpha_texture->channels() == 4 || alpha_texture->channels() == 1)))) {
      // clang-format off
      CLOG(FATAL, "default") << "Check failed: [source_texture.channels() == 4 || (alpha_texture && alpha_texture->channels() == 4 || alpha_texture->channels() == 1)] ";
      // clang-format on
    }
    VANTISOL_CHECK(target_texture.channels() == 4);
    if (!mask_shader_) {
      mask_shader_ = std::make_unique<Shader>(kMaskShader, kPassThroughVertexShader, std::string());
    }
    mask_shader_->SetUniform("invert_alpha_mask", invert_alpha_mask_);
    mask_shader_->SetUniform("separate_alpha_texture", alpha_texture != nullptr);
    const auto mask_in_use = mask_shader_->ScopedEnable();
    auto source_bound = source_texture.ScopedBind(mask_shader_->GetTextureUnit("input_texture"));
    Texture::Unbinder alpha_bound;
    if (alpha_texture != nullptr) {
      alpha_bound = alpha_texture->ScopedBind(mask_shader_->GetTextureUnit("alpha_texture"));
    }
    DrawPass(*mask_shader_, quad_, target_texture);
  }

  Shader& blur = *blur_shader_;
  blur.SetUniform("width", static_cast<float>(size.width));
  blur.SetUniform("height", static_cast<float>(size.height));
  const auto in_use = blur.ScopedEnable();
  const int unit = blur.GetTextureUnit("input_texture");
  {
    Texture& input = use_alpha_mask_ ? target_texture : source_texture;
    auto bound = input.ScopedBind(unit);
    blur.SetUniform("horizontal", true);
    blur.SetUniform("normalize", false);
    DrawPass(blur, quad_, intermediate_);
  }
  {
    auto bound = intermediate_.ScopedBind(unit);
    blur.SetUniform("horizontal", false);
    blur.SetUniform("normalize", use_alpha_mask_);
    DrawPass(blur, quad_, target_texture);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

TextureBlender::TextureBlender() : shader_(kBlendShader, kPassThroughVertexShader, std::string()) {
  glGenFramebuffers(1, &framebuffer_);
}

TextureBlender::~TextureBlender() { glDeleteFramebuffers(1, &framebuffer_); }

void TextureBlender::Blend(Texture& foreground_texture, Texture& background_texture,
                           Texture& target_texture, Texture& alpha_texture) {
  VANTISOL_CHECK(foreground_texture.size() == background_texture.size());
  VANTISOL_CHECK(foreground_texture.size() == alpha_texture.size());
  VANTISOL_CHECK(alpha_texture.channels() == 1);
  target_texture.Resize(foreground_texture.size());
  ViewportGuard viewport(foreground_texture.size());
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
  const auto in_use = shader_.ScopedEnable();
  auto foreground = foreground_texture.ScopedBind(shader_.GetTextureUnit("foreground_texture"));
  auto background = background_texture.ScopedBind(shader_.GetTextureUnit("background_texture"));
  auto alpha = alpha_texture.ScopedBind(shader_.GetTextureUnit("alpha_texture"));
  DrawPass(shader_, quad_, target_texture);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace vantisol
