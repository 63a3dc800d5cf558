// The automatic camera's cost: the cropper per face on the CPU (a still head held by the dead
// zone, a moving head, a head at the picture's corner that needs turning and zooming) and the
// crop renderer at 1280x720 on the offscreen context.
#include <benchmark/benchmark.h>
#include <glbinding/gl/gl.h>

#include <cmath>
#include <random>
#include <utility>

#include "algorithms/crop_renderer.h"
#include "algorithms/face_cropper.h"
#include "opengl/texture.h"

using namespace gl;

namespace vantisol {
namespace {

const Size kSize{1280, 720};
constexpr int64_t kFrameNs = 33'333'333;

CameraImage Colour(int64_t time_ns) {
  Calibration calibration;
  calibration.K = {948.5f, 0, 639.5f, 0, 948.5f, 359.5f, 0, 0, 1};
  Image image;
  image.size = kSize;
  image.format = Image::Format::kRGB;
  return CameraImage(image, calibration, time_ns);
}

enum Motion { kStill = 0, kMoving = 1, kCorner = 2 };

// The faces of frame i: `count` people side by side, still (box noise of ±2 px), walking, or
// pressed into the top-left corner.
std::map<int, FaceData> Faces(int count, Motion motion, int i, std::mt19937& random) {
  std::uniform_int_distribution<int> noise(-2, 2);
  std::map<int, FaceData> faces;
  for (int k = 0; k < count; ++k) {
    Rectangle r{200 + 600 * k, 220, 150, 190};
    if (motion == kMoving) r.x += int(150 * std::sin(i * 0.05 + k));
    if (motion == kCorner) r = Rectangle{-20 + 700 * k, -10, 160, 200};
    r.x += noise(random), r.y += noise(random);
    faces[k + 1].rect = r;
  }
  return faces;
}

// Per face: the time of one Update divided by the number of faces.
void BM_FaceCropper(benchmark::State& state) {
  const int count = int(state.range(0));
  const Motion motion = Motion(state.range(1));
  FaceCropper cropper;
  std::mt19937 random(1);
  int64_t time = 0;
  int i = 0;
  for (auto _ : state) {
    auto faces = Faces(count, motion, i++, random);
    benchmark::DoNotOptimize(cropper.Update(Colour(time), std::move(faces), kSize));
    time += kFrameNs;
  }
  // Seconds of CPU per face (printed with an SI prefix: "u" for microseconds).
  state.counters["per_face"] =
      benchmark::Counter(double(state.iterations()) * count,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The renderer at 1280x720, each frame reading the previous one's output so that no draw is
// dropped unread.
void BM_CropRenderer(benchmark::State& state) {
  const int count = int(state.range(0));
  std::mt19937 random(1);
  FaceCropper cropper;
  const auto tiles = cropper.Update(Colour(0), Faces(count, kStill, 0, random), kSize);
  Image image(kSize, Image::Format::kRGB);
  for (int k = 0; k < kSize.width * kSize.height * 3; ++k) image.data.get()[k] = uint8_t(random());
  Texture a(image), b(Image::Format::kRGB);
  CropRenderer renderer;
  renderer.Draw(a, tiles, kSize, &b);
  glFinish();
  for (auto _ : state) {
    renderer.Draw(a, tiles, kSize, &b);
    std::swap(a, b);
    glFinish();
  }
}

BENCHMARK(BM_FaceCropper)
    ->ArgsProduct({{1, 2}, {kStill, kMoving, kCorner}})
    ->ArgNames({"faces", "motion"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CropRenderer)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("tiles")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace vantisol
