// Times each segmentation stage at 1280x720 (depth 640x480) on simulated camera frames, on the
// offscreen context: depth upload and undistortion, depth projection, the automatic threshold,
// foreground extraction, the segmenter (pyramid and fill), the cleaner (read-back, CPU, upload),
// the background-model update, and the whole segmentation with history on and off. Every stage
// ends with glFinish, so that the time is the GPU work's, not the submission's.
#include <benchmark/benchmark.h>
#include <glbinding/gl/gl.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "imgproc/save.h"
#include "opengl/texture_blur.h"
#include "opengl_qt/opengl_context.h"
#include "segmentation_stage.h"
#include "test_support.h"
#include "utils/logging.h"

using namespace gl;

namespace vantisol {
namespace {

// A handful of simulated frames with a face, made once for all benchmarks.
class Frames {
 public:
  static Frames& Get() {
    static Frames frames;
    return frames;
  }
  const ImageData& frame(int64_t i) const { return *frames_[size_t(i) % frames_.size()]; }

 private:
  Frames() {
    test::ScopedScenario scenario;
    test::SimulatedFrames camera({1280, 720});
    for (int i = 0; i < 40 && frames_.size() < 8; ++i) {
      auto frame = camera.Next();
      if (frame && !frame->faces.empty()) frames_.push_back(frame);
    }
  }
  std::vector<std::shared_ptr<const ImageData>> frames_;
};

// A stage run before each timed step so that its inputs are this frame's.
test::SegmentationStage& Prepared(test::SegmentationStage& stage, const ImageData& frame) {
  stage.Upload(frame);
  stage.Project(frame);
  stage.Extract(frame);
  glFinish();
  return stage;
}

void BM_DepthUploadAndUndistortion(benchmark::State& state) {
  test::SegmentationStage stage;
  Prepared(stage, Frames::Get().frame(0));
  int64_t i = 0;
  for (auto _ : state) {
    stage.Upload(Frames::Get().frame(i++));
    glFinish();
  }
}

void BM_DepthProjection(benchmark::State& state) {
  test::SegmentationStage stage;
  Prepared(stage, Frames::Get().frame(0));
  int64_t i = 0;
  for (auto _ : state) {
    state.PauseTiming();
    stage.Upload(Frames::Get().frame(i++));
    glFinish();
    state.ResumeTiming();
    stage.Project(Frames::Get().frame(i));
    glFinish();
  }
}

void BM_GetThreshold(benchmark::State& state) {
  const ImageData& frame = Frames::Get().frame(0);
  std::vector<FaceData> faces;
  for (const auto& [id, face] : frame.faces) faces.push_back(face);
  for (auto _ : state) benchmark::DoNotOptimize(opengl::GetThreshold(frame.depth, faces, 600));
}

void BM_ForegroundExtraction(benchmark::State& state) {
  test::SegmentationStage stage(true, 1100);  // fixed threshold: the GPU passes alone
  Prepared(stage, Frames::Get().frame(0));
  Prepared(stage, Frames::Get().frame(0));
  for (auto _ : state) {
    stage.Extract(Frames::Get().frame(0));
    glFinish();
  }
}

void BM_Segmenter(benchmark::State& state) {
  test::SegmentationStage stage;
  Prepared(stage, Frames::Get().frame(0));
  stage.Segment();
  opengl::Segmenter segmenter;
  std::unique_ptr<Texture> input = std::make_unique<Texture>(Image::Format::kRGBA);
  input->Resize(stage.color.size());
  TextureCopy copy;
  // The segmenter's input as the temporal segmenter makes it: colour with the labels in alpha.
  copy.Copy(*stage.temporal_segmenter.background_model(), *input);
  input = segmenter.Segment(std::move(input));  // first use compiles the programs
  input = std::make_unique<Texture>(Image::Format::kRGBA);
  input->Resize(stage.color.size());
  copy.Copy(segmenter.result(), *input);
  for (auto _ : state) {
    auto returned = segmenter.Segment(std::move(input));
    glFinish();
    input = returned ? std::move(returned) : std::make_unique<Texture>(Image::Format::kRGBA);
    state.PauseTiming();
    copy.Copy(segmenter.result(), *input);
    glFinish();
    state.ResumeTiming();
  }
}

void BM_Cleaner(benchmark::State& state) {
  test::SegmentationStage stage;
  Prepared(stage, Frames::Get().frame(0));
  stage.Segment();
  algorithms::ForegroundCleaner cleaner;
  Texture result(Image::Format::kGray8);
  cleaner.Process(stage.temporal_segmenter.segmentation(), stage.trimap, result, 16);
  for (auto _ : state) {
    cleaner.Process(stage.temporal_segmenter.segmentation(), stage.trimap, result, 16);
    glFinish();
  }
}

// The whole temporal segmentation of one frame; with history on it includes the model update.
void BM_TemporalSegmentation(benchmark::State& state) {
  test::SegmentationStage stage(state.range(0) != 0);
  Prepared(stage, Frames::Get().frame(0));
  stage.Segment();
  for (auto _ : state) {
    stage.Segment();
    glFinish();
  }
}

// Upload to mask, as the 2-D stage runs it for every frame with a face.
void BM_WholeSegmentation(benchmark::State& state) {
  test::SegmentationStage stage(state.range(0) != 0);
  stage.Process(Frames::Get().frame(0));
  int64_t i = 1;
  for (auto _ : state) {
    stage.Process(Frames::Get().frame(i++));
    glFinish();
  }
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// The 2-D stage from colour upload to the composed picture, as per-frame processing runs it in
// background mode 1 (blur, amount 10) or 2 (replacement), history on. Face tracking and face
// rendering are not part of it.
void BM_BackgroundMode(benchmark::State& state) {
  const bool blur = state.range(0) == 1;
  test::SegmentationStage stage;
  TextureBlur background_blur, mask_blur;
  background_blur.use_alpha_mask_ = true;
  background_blur.invert_alpha_mask_ = true;
  background_blur.SetKernelSize(10);
  mask_blur.SetKernelSize(3);
  TextureBlender blender;
  Texture background(Image::Format::kRGBA), soft_mask(Image::Format::kGray8),
      composed(Image::Format::kRGB);
  Image green({1280, 720}, Image::Format::kRGB);
  for (int i = 0; i < 1280 * 720; ++i) std::memcpy(green.data.get() + 3 * i, "\0\xff\0", 3);
  Texture replacement(green);
  auto frame_work = [&](const ImageData& frame) {
    stage.Process(frame);
    if (blur) background_blur.Blur(stage.color, background, &stage.mask);
    mask_blur.Blur(stage.mask, soft_mask, nullptr);
    blender.Blend(stage.color, blur ? background : replacement, composed, soft_mask);
    glFinish();
  };
  frame_work(Frames::Get().frame(0));
  int64_t i = 1;
  for (auto _ : state) frame_work(Frames::Get().frame(i++));
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_DepthUploadAndUndistortion)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_DepthProjection)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_GetThreshold)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ForegroundExtraction)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Segmenter)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_Cleaner)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_TemporalSegmentation)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(BM_WholeSegmentation)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(BM_BackgroundMode)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

// "--quality N": per second of the default scenario, the mask against the simulation's true mask
// with history on and off: worst and mean intersection over union, worst boundary error and
// worst flicker (pixels that change where the truth does not).
void QualityReport(int seconds) {
  for (const bool history : {true, false}) {
    test::ScopedScenario scenario;
    test::SimulatedFrames camera({1280, 720});
    test::SegmentationStage stage(history);
    std::vector<uint8_t> previous_mask, previous_truth;
    double worst_iou = 1, mean_iou = 0, boundary = 0, flicker = 0;
    int counted = 0;
    for (int n = 0; n < seconds * 30; ++n) {
      auto frame = camera.Next();
      if (frame && stage.Process(*frame)) {
        const auto mask = stage.Mask();
        const auto truth = camera.TrueMask();
        const auto quality = test::Compare(mask, truth, {1280, 720});
        worst_iou = std::min(worst_iou, quality.iou);
        mean_iou += quality.iou;
        ++counted;
        boundary = std::max(boundary, quality.boundary_error);
        if (!previous_mask.empty())
          flicker = std::max(flicker, test::Flicker(mask, previous_mask, truth, previous_truth));
        previous_mask = mask;
        previous_truth = truth;
        // Pictures for a developer: mask, truth and colour of every 30th frame.
        const char* folder = std::getenv("VANTISOL_SEGMENTATION_PICTURES");
        if (folder != nullptr && n % 30 == 15) {
          const std::string name =
              std::string(folder) + "/" + (history ? "on_" : "off_") + std::to_string(n);
          test::WritePng(name + "_mask.png", mask, {1280, 720});
          test::WritePng(name + "_truth.png", truth, {1280, 720});
          test::WritePng(name + "_trimap.png", stage.Trimap(), {1280, 720});
          imgproc::Save(stage.color.Download(Image::Format::kRGBA), name + "_colour.png");
        }
      }
      if (n % 30 == 29) {
        std::cout << "history " << (history ? "on " : "off") << " second " << n / 30
                  << ": IoU worst " << worst_iou << " mean " << mean_iou / std::max(counted, 1)
                  << ", boundary error " << boundary << " px, flicker " << flicker * 100
                  << " %, frames with a mask " << counted << std::endl;
        worst_iou = 1, mean_iou = 0, boundary = 0, flicker = 0, counted = 0;
      }
    }
  }
}

}  // namespace
}  // namespace vantisol

int main(int argc, char** argv) {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  QApplication application(argc, argv);
  vantisol::OpenGLContext context(false);
  context.CreateContext();
  context.SetContext();
  if (argc == 3 && std::strcmp(argv[1], "--quality") == 0) {
    vantisol::QualityReport(std::atoi(argv[2]));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
