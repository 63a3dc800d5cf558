#include "opengl/pixel_processor.h"

#include <glbinding/gl/gl.h>
#include <gtest/gtest.h>

#include "gl_test.h"
#include "opengl/gpu_latency_calculator.h"

using namespace gl;

namespace vantisol {
namespace opengl {
namespace {

// Pixel-exact sum of three inputs, so that every pixel can be checked on the CPU.
const char kSum[] = R"(#version 430
uniform sampler2D input_texture;
uniform sampler2D input_texture2;
uniform sampler2D input_texture3;
uniform float scale;
out vec4 color;
void main() {
  ivec2 p = ivec2(gl_FragCoord.xy);
  color = scale * (texelFetch(input_texture, p, 0) + texelFetch(input_texture2, p, 0)
                   + texelFetch(input_texture3, p, 0));
}
)";

const char kCopy[] = R"(#version 430
uniform sampler2D input_texture;
out vec4 color;
void main() { color = texelFetch(input_texture, ivec2(gl_FragCoord.xy), 0); }
)";

Image Filled(Size size, int seed) {
  Image image(size, Image::Format::kRGBA);
  for (int i = 0; i < size.width * size.height * 4; ++i) image.data.get()[i] = (i * seed) % 80;
  return image;
}

TEST(PixelProcessorTest, ThreeInputsEveryPixelAndUnitOrder) {
  PixelProcessor processor(kSum);
  processor.shader().SetUniform("scale", 1.0f);
  const Size size{13, 7};
  Texture a(Filled(size, 1)), b(Filled(size, 3)), c(Filled(size, 5));
  Texture output(Image::Format::kRGBA);
  output.Resize(Size{2, 2});
  processor.Run(a, b, c, output);
  EXPECT_EQ(output.size(), size);
  const Image result = output.Download();
  for (int i = 0; i < size.width * size.height * 4; ++i) {
    const int expected = (i % 80) + (i * 3 % 80) + (i * 5 % 80);
    ASSERT_EQ(result.data.get()[i], expected) << i;
  }
  EXPECT_EQ(processor.shader().GetTextureUnit("input_texture3"), 1);
  EXPECT_EQ(processor.shader().GetTextureUnit("input_texture2"), 2);
  EXPECT_EQ(processor.shader().GetTextureUnit("input_texture"), 3);
  for (int unit = 1; unit <= 3; ++unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0) << unit;
  }
  GLint current = -1;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(current, 0);
}

TEST(PixelProcessorTest, ResizesOutputKeepingItsFormatUnlessTurnedOff) {
  PixelProcessor processor(kCopy);
  Texture input(Filled(Size{6, 4}, 1));
  Texture output(Image::Format::kRGB);
  output.Resize(Size{3, 3});
  processor.Run(input, output);
  EXPECT_EQ(output.size(), (Size{6, 4}));
  EXPECT_EQ(output.internal_format(), Image::Format::kRGB);

  processor.resize_output = false;
  Texture small(Image::Format::kRGBA);
  small.Resize(Size{2, 3});
  processor.Run(input, small);
  EXPECT_EQ(small.size(), (Size{2, 3}));
  const Image result = small.Download();
  const Image source = input.Download();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 2; ++x)
      for (int ch = 0; ch < 4; ++ch)
        EXPECT_EQ(result.data.get()[(y * 2 + x) * 4 + ch], source.data.get()[(y * 6 + x) * 4 + ch]);
}

TEST(GpuLatencyCalculatorTest, RecordsNothing) {
  GpuLatencyCalculator latency;
  latency.Checkpoint("Pipeline");
  EXPECT_TRUE(latency.checkpoints().empty());
  EXPECT_TRUE(latency.name.empty());
}

}  // namespace
}  // namespace opengl
}  // namespace vantisol
