// Frame time of the simulated runtime and of the camera's frame assembly on top of it.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <fstream>
#include <string>

#include "camera/camera_realsense.h"
#include "camera/session.h"

namespace vantisol {
namespace {

void Unpaced() {
  const std::string file = "/tmp/vantisol-bench-camera-scenario.json";
  std::ofstream(file) << "{\"paced\": false}";
  setenv("VANTISOL_CAMERA_SCENARIO", file.c_str(), 1);
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

// The process's CPU time on all threads while the loop ran: per frame, and in cores busy.
class CpuCounters {
 public:
  explicit CpuCounters(benchmark::State& state)
      : state_(state), cpu_(ProcessCpuSeconds()), wall_(std::chrono::steady_clock::now()) {}
  ~CpuCounters() {
    const double cpu = ProcessCpuSeconds() - cpu_;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
    if (state_.iterations() == 0 || wall <= 0) return;
    state_.counters["all_cores_ms"] = cpu * 1000 / double(state_.iterations());
    state_.counters["cores_busy"] = cpu / wall;
  }

 private:
  benchmark::State& state_;
  double cpu_;
  std::chrono::steady_clock::time_point wall_;
};

// Every iteration renders the next frame of the script: fresh work, never a repeated picture.
// The runtime alone: 1280x720 colour, 640x480 depth and the face module.
void BM_RuntimeFrame(benchmark::State& state) {
  Unpaced();
  PXCPtr<PXCSession> session(CreateSession());
  if (!session) {
    state.SkipWithError("no runtime");
    return;
  }
  void* instance = nullptr;
  session->CreateImpl(nullptr, PXCSenseManager::CUID, &instance);
  PXCPtr<PXCSenseManager> manager(static_cast<PXCSenseManager*>(instance));
  manager->EnableStream(PXCCapture::STREAM_TYPE_COLOR, 1280, 720);
  manager->EnableStream(PXCCapture::STREAM_TYPE_DEPTH, 640, 480);
  manager->EnableModule(PXCFaceModule::CUID);
  if (manager->Init() != PXC_STATUS_NO_ERROR) {
    state.SkipWithError("no device");
    return;
  }
  CpuCounters counters(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(manager->AcquireFrame(true, -1));
    manager->ReleaseFrame();
  }
}
BENCHMARK(BM_RuntimeFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

// One capture step as the pipeline sets the camera up: faces, depth, mapped depth, segmentation.
void BM_CaptureStep(benchmark::State& state) {
  Unpaced();
  auto cameras = CameraRealSense::GetCameras();
  if (cameras.empty()) {
    state.SkipWithError("no camera");
    return;
  }
  CameraRealSense& camera = *cameras[0];
  camera.EnableFaceTracking();
  camera.EnableDepthmap();
  camera.EnableDepthProjection();
  camera.EnableSegmentation(true);
  auto internal = camera.internal_camera();
  internal->Device();
  CpuCounters counters(state);
  for (auto _ : state) benchmark::DoNotOptimize(internal->Run());
}
BENCHMARK(BM_CaptureStep)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

}  // namespace
}  // namespace vantisol

BENCHMARK_MAIN();
