// One 1280x720 frame hand-over through the shared-memory channel between two processes. The
// program starts a copy of itself as the other side ("--reader" or "--writer"), in a private
// object namespace so that a running program is not disturbed.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "test_folder.h"
#include "utils/logging.h"
#include "utils/shared_memory_image.h"

namespace {

using vantisol::SharedMemoryImage;
using vantisol::test::ChildProcess;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr size_t kBytes = size_t{kWidth} * kHeight * 3;
// How often the other side comes back to the channel, as the plug-in's client polls.
constexpr auto kPollPause = std::chrono::microseconds(200);

std::string self_path;

// The reader side: takes every new frame, as the plug-in's client does.
int RunReader() {
  SharedMemoryImage client(true);
  client.Lock().SetSize(kWidth, kHeight);
  std::vector<unsigned char> frame(kBytes);
  std::cout << "ready" << std::endl;
  for (;;) {
    {
      auto image = client.Lock();
      if (image.new_frame() && image.Bytes() == kBytes) {
        std::memcpy(frame.data(), image.data(), kBytes);
        image.set_new_frame(false);
      }
      if (image.width() < 0) break;
    }
    std::this_thread::sleep_for(kPollPause);
  }
  return 0;
}

// The writer side: publishes frames, as the program's frame writer does.
int RunWriter() {
  SharedMemoryImage server(false);
  std::vector<unsigned char> frame(kBytes, 0x5A);
  std::cout << "ready" << std::endl;
  for (;;) {
    {
      auto image = server.Lock();
      if (!image.client_registered()) break;
      if (image.Bytes() == kBytes) {
        std::memcpy(image.data(), frame.data(), kBytes);
        image.set_new_frame(true);
      }
    }
    std::this_thread::sleep_for(kPollPause);
  }
  return 0;
}

// Runs first: once this process has been the server, it keeps the server's name for its life.
void BM_ReaderHandOver(benchmark::State& state) {
  auto client = std::make_unique<SharedMemoryImage>(true);
  client->Lock().SetSize(kWidth, kHeight);
  ChildProcess writer({self_path, "--writer"});
  if (!writer.WaitFor("ready")) {
    state.SkipWithError("writer did not start");
    return;
  }
  std::vector<unsigned char> frame(kBytes);
  for (auto _ : state) {
    auto image = client->Lock();
    const void* data = image.data();
    if (data != nullptr) std::memcpy(frame.data(), data, kBytes);
    image.set_new_frame(false);
    benchmark::DoNotOptimize(frame.data());
  }
  client.reset();  // unregistering stops the writer
  writer.Finish();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_ReaderHandOver)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_WriterHandOver(benchmark::State& state) {
  ChildProcess reader({self_path, "--reader"});
  if (!reader.WaitFor("ready")) {
    state.SkipWithError("reader did not start");
    return;
  }
  std::vector<unsigned char> frame(kBytes, 0x33);
  {
    SharedMemoryImage server(false);
    for (auto _ : state) {
      auto image = server.Lock();
      void* data = image.data();
      if (data != nullptr) std::memcpy(data, frame.data(), kBytes);
      image.set_new_frame(true);
    }
    // Asks the reader to stop.
    server.Lock().header()->width = -1;
  }
  reader.Finish();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_WriterHandOver)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The server's look at the header that begins each frame, with a client process attached: the
// registration byte alone (0), or whether a live client holds the channel (1).
void BM_ServerFindsItsClient(benchmark::State& state) {
  ChildProcess reader({self_path, "--reader"});
  if (!reader.WaitFor("ready")) {
    state.SkipWithError("reader did not start");
    return;
  }
  const bool live_check = state.range(0) != 0;
  {
    SharedMemoryImage server(false);
    for (auto _ : state) {
      auto image = server.Lock();
      benchmark::DoNotOptimize(live_check ? image.ClientAlive() : image.client_registered());
    }
    server.Lock().header()->width = -1;
  }
  reader.Finish();
}
BENCHMARK(BM_ServerFindsItsClient)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  self_path = argv[0];
  try {
    if (argc == 2 && std::string(argv[1]) == "--reader") return RunReader();
    if (argc == 2 && std::string(argv[1]) == "--writer") return RunWriter();
  } catch (const std::exception& error) {
    std::cout << "error: " << error.what() << std::endl;
    return 1;
  }
  vantisol::test::TemporaryFolder objects;
  setenv("XDG_RUNTIME_DIR", objects.str().c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
