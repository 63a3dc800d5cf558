// Times the frame writer at 1280x720 with a client attached in this process: the whole Process
// (read-back, flip and copy into the data block), and the read-back alone for comparison. The
// channel lives in a private object folder, so a running program is not disturbed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

#include "opengl/locked_texture.h"
#include "plugin_interface/plugin_interface.h"
#include "utils/logging.h"

namespace vantisol {
namespace {

const Size kOutput{1280, 720};

std::shared_ptr<LockedTexture> Output() {
  Image image(kOutput, Image::Format::kRGB);
  std::mt19937 random(1);
  for (int i = 0; i < kOutput.width * kOutput.height * 3; ++i)
    image.data.get()[i] = uint8_t(random());
  auto output = std::make_shared<LockedTexture>(Image::Format::kRGB);
  output->Lock()->Assign(image);
  return output;
}

void BM_WriterProcess(benchmark::State& state) {
  PluginInterface writer;
  SharedMemoryImage client(true);
  client.Lock().SetSize(kOutput.width, kOutput.height);
  auto output = Output();
  LatencyCalculator latency;
  for (auto _ : state) {
    writer.Process(output, latency);
    state.PauseTiming();
    client.Lock().set_new_frame(false);
    state.ResumeTiming();
  }
  if (writer.requested_size() != kOutput) state.SkipWithError("the client's size did not arrive");
}

void BM_ReadBackOnly(benchmark::State& state) {
  auto output = Output();
  for (auto _ : state) {
    auto loan = output->Lock();
    benchmark::DoNotOptimize(loan->Download(Image::Format::kBGR).data.get());
  }
}

BENCHMARK(BM_WriterProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadBackOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vantisol
