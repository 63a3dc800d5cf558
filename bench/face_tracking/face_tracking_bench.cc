// Per-frame cost of one face's fit with the generated model, and of one scale fit.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "face_tracking/face_template.h"
#include "synthetic_face.h"
#include "utils/logging.h"

namespace vantisol {
namespace {

const FaceTemplate& Base() {
  static const FaceTemplate base;
  return base;
}

// A slowly moving, talking face: frames differ as they do from a camera.
std::vector<std::shared_ptr<const ImageData>> Frames(int count, std::array<float, 3> scale) {
  std::mt19937 random(1);
  std::vector<std::shared_ptr<const ImageData>> frames;
  for (int i = 0; i < count; ++i) {
    test::SyntheticFace face;
    face.pose = Eigen::Translation3f(0.01f * std::sin(i * 0.1f), 0, 0.6f) *
                Eigen::AngleAxisf(0.2f * std::sin(i * 0.05f), Eigen::Vector3f::UnitY());
    face.weights << 0.3f + 0.3f * std::sin(i * 0.2f), 0.2f, 0.1f, 0, 0.2f, 0, 0.1f;
    face.scale = scale;
    face.noise = 0.0005f;
    frames.push_back(test::MakeFrame(Base(), face, random));
  }
  return frames;
}

void BM_TemplateUpdate(benchmark::State& state) {
  const auto frames = Frames(64, {1, 1, 1});
  FaceTemplate face(Base());
  size_t i = 0;
  for (auto _ : state) face.Update(frames[i++ % frames.size()], 1);
  state.counters["vertices"] = face.world_mesh_->vertex_count();
}
BENCHMARK(BM_TemplateUpdate)->Unit(benchmark::kMillisecond);

void BM_ScaleFit(benchmark::State& state) {
  const auto frames = Frames(8, {1.06f, 0.95f, 1});
  for (auto _ : state) {
    state.PauseTiming();
    auto face = std::make_unique<FaceTemplate>(Base());
    for (size_t i = 0; i + 1 < frames.size(); ++i) face->Update(frames[i], 1);
    face->adapt_scale_requested_ = true;
    state.ResumeTiming();
    face->Update(frames.back(), 1);
    state.PauseTiming();
    face.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ScaleFit)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantisol

int main(int argc, char** argv) {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::Enabled, "false");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
