// The frame client as the plug-in's streaming thread drives it, against the stand-in program in
// its own process at 1280 x 720 and 30 frames per second, for 10 s:
//   - frames delivered per second (distinct frames of the program, goal 30.0 +- 0.3),
//   - hand-over latency: from the program setting the new-frame flag (its steady-clock stamp in
//     the frame) to the sample being filled (goal p99 <= 3 ms),
//   - the share of one core that the reading thread uses.
// Linux: scripts/bench virtual_cam. Windows, under Wine (in a prefix of your own):
//   WINEPREFIX=... cmake/wine-run build-win/bench/virtual_cam/bench_virtual_cam.exe

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#endif

#include "frame_pattern.h"
#include "test_folder.h"
#include "vantisol_client/vantisol_client.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double ThreadCpuSeconds() {
#if defined(_WIN32)
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  auto value = [](FILETIME t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
  };
  return value(kernel) + value(user);
#else
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
#endif
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

}  // namespace

int main() {
  vantisol::test::TemporaryFolder folder;
#if !defined(_WIN32)
  // Kernel objects and the plug-in's log of this run only.
  fs::create_directory(folder.str() + "/run");
  fs::permissions(folder.str() + "/run", fs::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", (folder.str() + "/run").c_str(), 1);
  setenv("XDG_DATA_HOME", (folder.str() + "/data").c_str(), 1);
#endif
  fs::copy_file(VANTISOL_STAND_IN, fs::path(folder.str()) / vantisol::kProgramFileName);

  vantisol::VantisolClient client{vantisol::path(folder.str())};
  client.set_resolution({1280, 720});
  if (!client.StartThread()) {
    std::fprintf(stderr, "bench_virtual_cam: the stream did not start\n");
    return 1;
  }
  std::vector<unsigned char> sample(1280 * 720 * 3);
  int64_t start = 0;
  int64_t end = 0;
  // Until the program serves (at most 20 s), then 10 s measured.
  const Clock::time_point ready_deadline = Clock::now() + std::chrono::seconds(20);
  do {
    client.FillBuffer(sample.data(), static_cast<long>(sample.size()), &start, &end);
  } while (Clock::now() < ready_deadline &&
           vantisol::test::FirstPatternMismatch(sample.data(), sample.size()) != sample.size());

  std::vector<double> latency_ms;
  uint64_t last_counter = vantisol::test::FrameCounter(sample.data());
  int samples = 0;
  int frames = 0;
  const double cpu_begin = ThreadCpuSeconds();
  const Clock::time_point begin = Clock::now();
  while (Clock::now() - begin < std::chrono::seconds(10)) {
    client.FillBuffer(sample.data(), static_cast<long>(sample.size()), &start, &end);
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    ++samples;
    const uint64_t counter = vantisol::test::FrameCounter(sample.data());
    if (counter != last_counter) {
      ++frames;
      latency_ms.push_back((now - vantisol::test::FrameTime(sample.data())) / 1e6);
      last_counter = counter;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  const double cpu = ThreadCpuSeconds() - cpu_begin;
  client.StopThread();

  std::printf("samples %d, new frames %d in %.2f s: %.2f frames per second\n", samples, frames,
              seconds, frames / seconds);
  std::printf("hand-over latency ms: p50 %.3f p99 %.3f max %.3f\n", Percentile(latency_ms, 0.5),
              Percentile(latency_ms, 0.99), Percentile(latency_ms, 1.0));
  std::printf("reading thread: %.1f %% of one core\n", 100.0 * cpu / seconds);
  return 0;
}
