// Times each GPU operator at 1280x720 (depth 640x480) on the offscreen context. Filters read the
// previous pass's output, so that the driver cannot drop draws whose results go unread; operators
// whose output would degrade their next input get fresh inputs and have their result read.
#include <benchmark/benchmark.h>
#include <glbinding/gl/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>
#include <utility>
#include <vector>

#include "depth_projection_reference.h"
#include "opengl/depth_projection.h"
#include "opengl/depthmap_renderer.h"
#include "opengl/image_filters.h"
#include "opengl/texture.h"
#include "opengl/texture_blur.h"
#include "opengl/undistorter.h"

using namespace gl;

namespace vantisol {
namespace {

const Size kColour{1280, 720};
const Size kDepth{640, 480};

Image RandomImage(Size size, Image::Format format) {
  Image image(size, format);
  std::mt19937 random(1);
  const int bytes = size.width * size.height * Image::pixel_size(format);
  for (int i = 0; i < bytes; ++i) image.data.get()[i] = uint8_t(random());
  return image;
}

Image DepthImage(Size size) {
  Image image(size, Image::Format::kGray16);
  auto* values = reinterpret_cast<uint16_t*>(image.data.get());
  for (int y = 0; y < size.height; ++y)
    for (int x = 0; x < size.width; ++x)
      values[y * size.width + x] = uint16_t(x < size.width / 3 ? 700 : 1200 + (x + y) % 50);
  return image;
}

Calibration DepthCamera(Size size, float tx) {
  Calibration calibration;
  const float f = 0.9f * size.width;
  calibration.K = {f, 0, size.width / 2.f, 0, f, size.height / 2.f, 0, 0, 1};
  calibration.R = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  calibration.T = {tx, 0, 0};
  calibration.k1 = -0.05f;
  calibration.k2 = 0.01f;
  return calibration;
}

// Runs `pass(input, output)` with the two textures swapped after each pass.
template <typename Pass>
void PingPong(benchmark::State& state, Texture& a, Texture& b, Pass pass) {
  pass(a, b);
  glFinish();
  for (auto _ : state) {
    pass(a, b);
    std::swap(a, b);
    glFinish();
  }
}

void BM_TextureUpload(benchmark::State& state) {
  const Image image = RandomImage(kColour, Image::Format::kRGBA);
  Texture texture(image);
  for (auto _ : state) {
    texture.Assign(image);
    glFinish();
  }
}

void BM_TextureDownload(benchmark::State& state) {
  Texture texture(RandomImage(kColour, Image::Format::kRGBA));
  for (auto _ : state) benchmark::DoNotOptimize(texture.Download().data.get());
}

void BM_Yuy2Conversion(benchmark::State& state) {
  ColorConverter converter;
  Texture input(RandomImage(kColour, Image::Format::kYUY2)), output(Image::Format::kRGBA);
  for (auto _ : state) {
    converter.Convert(input, output);
    // The next upload overwrites the input only after the conversion read it.
    glFinish();
  }
}

void BM_Blur(benchmark::State& state) {
  TextureBlur blur;
  blur.SetKernelSize(static_cast<int>(state.range(0)));
  Texture a(RandomImage(kColour, Image::Format::kRGBA)), b(Image::Format::kRGBA);
  PingPong(state, a, b, [&](Texture& in, Texture& out) { blur.Blur(in, out, nullptr); });
}

void BM_BlurAlphaMask(benchmark::State& state) {
  TextureBlur blur;
  blur.SetKernelSize(10);
  blur.use_alpha_mask_ = true;
  blur.invert_alpha_mask_ = true;
  Texture mask(RandomImage(kColour, Image::Format::kGray8));
  Texture a(RandomImage(kColour, Image::Format::kRGBA)), b(Image::Format::kRGBA);
  PingPong(state, a, b, [&](Texture& in, Texture& out) { blur.Blur(in, out, &mask); });
}

void BM_Blend(benchmark::State& state) {
  TextureBlender blender;
  Texture background(RandomImage(kColour, Image::Format::kRGBA));
  Texture alpha(RandomImage(kColour, Image::Format::kGray8));
  Texture a(RandomImage(kColour, Image::Format::kRGBA)), b(Image::Format::kRGBA);
  b.Resize(kColour);
  PingPong(state, a, b,
           [&](Texture& in, Texture& out) { blender.Blend(in, background, out, alpha); });
}

void BM_Bilateral(benchmark::State& state) {
  BilateralFilter filter;
  Texture a(RandomImage(kColour, Image::Format::kRGBA)), b(Image::Format::kRGBA);
  PingPong(state, a, b, [&](Texture& in, Texture& out) { filter.Filter(in, out); });
}

void BM_Scale(benchmark::State& state) {
  TextureScale scale;
  Texture a(RandomImage(kColour, Image::Format::kRGBA)), b(Image::Format::kRGBA);
  b.Resize(kColour);
  PingPong(state, a, b,
           [&](Texture& in, Texture& out) { scale.Scale(in, out, TextureDraw::kFill); });
}

void BM_Undistortion(benchmark::State& state) {
  Undistorter undistorter;
  Texture depth(DepthImage(kDepth));
  const Calibration camera = DepthCamera(kDepth, 0);
  for (auto _ : state) {
    // In place: each pass reads the previous one's result.
    undistorter.RunDepth(depth, camera);
    glFinish();
  }
}

Image PersonDepthImage(Size size, int variant) {
  const std::vector<uint16_t> values = test::PersonScene(size, variant);
  Image image(size, Image::Format::kGray16);
  std::memcpy(image.data.get(), values.data(), values.size() * 2);
  return image;
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

void BM_DepthProjection(benchmark::State& state) {
  DepthProjection projection;
  // Fresh input every pass: several made beforehand, never the projection's own output.
  std::vector<Texture> sources;
  for (int variant = 0; variant < 4; ++variant)
    sources.emplace_back(PersonDepthImage(kDepth, variant));
  Texture target(Image::Format::kGray16);
  target.Resize(kColour);
  Calibration source_camera = DepthCamera(kDepth, 0);
  Calibration target_camera = DepthCamera(kColour, 0.025f);
  size_t pass = 0;
  double covered = 0, cpu_seconds = 0;
  for (auto _ : state) {
    const double cpu_before = ProcessCpuSeconds();
    projection.Project(source_camera, sources[pass++ % sources.size()], target_camera, target);
    glFinish();
    cpu_seconds += ProcessCpuSeconds() - cpu_before;
    // Reading the result keeps the driver from dropping the pass, and an empty picture (nothing
    // drawn) is an error rather than a figure.
    state.PauseTiming();
    const Image result = target.Download();
    const auto* values = reinterpret_cast<const uint16_t*>(result.data.get());
    const size_t count = size_t(kColour.width) * kColour.height;
    covered = double(count - size_t(std::count(values, values + count, 0))) / double(count);
    state.ResumeTiming();
    if (covered < 0.5) {
      state.SkipWithError("the projection covered less than half of the target");
      break;
    }
  }
  state.counters["covered"] = covered;
  // The work of all the driver's threads, which a loaded machine does not inflate as it does the
  // wall-clock figure.
  state.counters["cpu_ms"] = 1000 * cpu_seconds / double(std::max<int64_t>(1, state.iterations()));
}

void BM_DepthmapRenderer(benchmark::State& state) {
  DepthmapRenderer renderer;
  Texture depth(DepthImage(kDepth)), colour(RandomImage(kColour, Image::Format::kRGBA));
  Texture target(Image::Format::kRGBA);
  target.Resize(kColour);
  const Calibration camera_calibration = DepthCamera(kColour, 0);
  GLCamera camera;
  camera.Update(kColour, camera_calibration);
  GLuint framebuffer = 0, depth_buffer = 0;
  glGenFramebuffers(1, &framebuffer);
  glGenRenderbuffers(1, &depth_buffer);
  glBindRenderbuffer(GL_RENDERBUFFER, depth_buffer);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kColour.width, kColour.height);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.id(), 0);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_buffer);
  glViewport(0, 0, kColour.width, kColour.height);
  for (auto _ : state) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    renderer.Draw(depth, DepthCamera(kDepth, 0), colour, camera_calibration, camera,
                  DepthmapRenderer::kRenderModeTexture);
    // Read one pixel so that the draw is never dropped.
    uint8_t pixel[4];
    glReadPixels(640, 360, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    benchmark::DoNotOptimize(pixel[0]);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &framebuffer);
  glDeleteRenderbuffers(1, &depth_buffer);
}

BENCHMARK(BM_TextureUpload)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TextureDownload)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Yuy2Conversion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Blur)->Arg(3)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlurAlphaMask)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Blend)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Bilateral)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scale)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Undistortion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DepthProjection)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DepthmapRenderer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vantisol
