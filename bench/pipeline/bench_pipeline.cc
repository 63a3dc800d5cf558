// The render thread's cost per stage at 1280x720 and its frame rate, from frames recorded off the
// simulated camera beforehand (so the simulation's own cost is not in the figures).
#include <glbinding/gl/gl.h>
#include <stdlib.h>

#include <QGuiApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_realsense.h"
#include "null_camera.h"
#include "opengl/locked_texture.h"
#include "opengl_qt/opengl_context.h"
#include "plugin_interface/plugin_interface.h"
#include "utils/logging.h"
#include "utils/shared_memory_image.h"
#include "vantisol_pipeline/vantisol_pipeline.h"
#include "watermark_renderer/watermark_renderer.h"

using namespace gl;

namespace vantisol {
namespace {

using Clock = std::chrono::steady_clock;

// Frames of the simulated camera, taken once: colour, depth, segmentation and faces.
std::vector<std::shared_ptr<const ImageData>> Record(int count, const std::string& scenario = "") {
  const std::string file = "/tmp/vantisol-bench-pipeline-scenario.json";
  std::ofstream(file) << "{\"paced\": false" << scenario << "}";
  setenv("VANTISOL_CAMERA_SCENARIO", file.c_str(), 1);
  auto cameras = CameraRealSense::GetCameras();
  std::vector<std::shared_ptr<const ImageData>> frames;
  if (cameras.empty()) return frames;
  CameraRealSense& camera = *cameras[0];
  camera.EnableFaceTracking();
  camera.EnableDepthmap();
  camera.EnableSegmentation(true);
  auto internal = camera.internal_camera();
  internal->Device();
  for (int i = 0; i < 30 + count; ++i) {
    auto frame = internal->Run();
    if (frame && i >= 30) frames.push_back(frame);
  }
  return frames;
}

// Plays the recorded frames round and round on its own thread, as fast as they are taken, with
// time stamps that keep running.
class ReplayCamera : public test::NullCamera {
 public:
  explicit ReplayCamera(const std::vector<std::shared_ptr<const ImageData>>* frames)
      : frames_(frames) {}
  ~ReplayCamera() override { Stop(); }
  void Start() override {
    if (thread_.joinable()) return;
    running_ = true;
    thread_ = std::thread([this] {
      const int64_t period = 33333333;
      for (int64_t n = 0; running_; ++n) {
        const ImageData& f = *(*frames_)[n % frames_->size()];
        CameraImage color = f.color, depth = f.depth, segmentation = f.segmentation;
        color.time_stamp = depth.time_stamp = segmentation.time_stamp = n * period;
        frame_signal_(std::make_shared<const ImageData>(color, segmentation, depth, f.mapped_depth,
                                                        f.faces, f.latency));
      }
    });
  }
  void Stop() override {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  Size ColorResolution() override { return {1280, 720}; }
  std::vector<Size> ColorResolutions() override { return {{1280, 720}}; }
  Size DepthmapResolution() override { return {640, 480}; }
  std::vector<Size> DepthmapResolutions() override { return {{640, 480}}; }
  bool loop() override { return true; }
  int TotalFrames() override { return int(frames_->size()); }

 private:
  const std::vector<std::shared_ptr<const ImageData>>* frames_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

std::atomic<int> log_lines{0};

class LineCounter : public el::LogDispatchCallback {
 protected:
  void handle(const el::LogDispatchData*) override { ++log_lines; }
};

const char kWriterStage[] = "writer (read-back, flip, copy)";

struct Config {
  std::string name;
  int mode;
  bool automatic_camera;
  bool face_effects = false;  // gaze correction and face undistortion
  bool camera_mask = true;    // the camera's segmentation, else the own one
};

// Stage times of the render thread (each stage ends with glFinish), per stage name.
struct Measurement {
  std::map<std::string, std::vector<double>> stages;
  std::vector<std::string> order;
  double fps = 0;
  int log_lines = 0;
  int new_gl_names = 0;
};

class Bench {
 public:
  Bench(const std::vector<std::shared_ptr<const ImageData>>* frames, PluginInterface* writer)
      : frames_(frames), writer_(writer) {}

  Measurement Run(const Config& config, bool per_stage, int warm_up, int frames) {
    Measurement result;
    VantisolPipeline pipeline([this] {
      std::vector<std::unique_ptr<Camera>> cameras;
      cameras.push_back(std::make_unique<ReplayCamera>(frames_));
      return cameras;
    });
    pipeline.SetBackgroundMode(config.mode);
    pipeline.SetAutomaticCamera(config.automatic_camera);
    pipeline.SetPersonify(config.camera_mask);
    pipeline.SetGazeCorrection(config.face_effects);
    pipeline.SetFaceUndistortion(config.face_effects);
    WatermarkRenderer watermark;
    std::mutex mutex;
    std::condition_variable condition;
    int outputs = 0;
    Clock::time_point last;
    GLuint first_names[3] = {0, 0, 0}, names[3] = {0, 0, 0};
    int lines_at_start = 0, starts = 0, first_start = 0;
    const auto mark = [&](const std::string& stage) {
      if (!per_stage || outputs < warm_up) return;
      glFinish();
      const auto now = Clock::now();
      if (result.stages.count(stage) == 0) result.order.push_back(stage);
      result.stages[stage].push_back(std::chrono::duration<double, std::milli>(now - last).count());
      last = now;
    };
    pipeline.SetStageProbe([&](const char* stage, const ImageData&) {
      if (std::string(stage) == "start") {
        if (per_stage) glFinish();
        last = Clock::now();
        // The next free GL names. Mesa hands out names above the highest ever used, so this probe
        // moves each by one a frame; anything beyond that is an object made during the frame.
        ++starts;
        glGenTextures(1, &names[0]);
        glDeleteTextures(1, &names[0]);
        glGenFramebuffers(1, &names[1]);
        glDeleteFramebuffers(1, &names[1]);
        glGenBuffers(1, &names[2]);
        glDeleteBuffers(1, &names[2]);
        if (outputs == warm_up) {
          std::copy(names, names + 3, first_names);
          lines_at_start = log_lines;
          first_start = starts;
        }
        return;
      }
      mark(stage);
    });
    Clock::time_point start;
    pipeline.overlay_signal_.connect([&](Texture& frame, LatencyCalculator&) {
      watermark.Draw(frame);
      mark("watermark");
    });
    pipeline.output_signal_.connect(
        [&](std::shared_ptr<LockedTexture> texture, LatencyCalculator latency) {
          writer_->Process(texture, latency);
          mark(kWriterStage);
          std::lock_guard<std::mutex> lock(mutex);
          if (++outputs == warm_up) start = Clock::now();
          condition.notify_all();
        });
    pipeline.SetSharedContext();
    pipeline.InitializeOpenglContext();
    pipeline.RunWithSize({1280, 720}, false);
    {
      std::unique_lock<std::mutex> lock(mutex);
      condition.wait_for(lock, std::chrono::seconds(600),
                         [&] { return outputs >= warm_up + frames; });
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      result.fps = (outputs - warm_up) / seconds;
      result.log_lines = log_lines - lines_at_start;
      for (int i = 0; i < 3; ++i) result.new_gl_names += int(names[i] - first_names[i]);
      result.new_gl_names -= 3 * (starts - first_start);
    }
    pipeline.SetStageProbe(nullptr);
    return result;
  }

 private:
  const std::vector<std::shared_ptr<const ImageData>>* frames_;
  PluginInterface* writer_;
};

// Prints the stage table; returns the sum of the stage means without the frame writer's.
double PrintStages(const Config& config, const Measurement& m, double fps) {
  std::printf("\n%s: %.2f fps end to end; per stage in ms (mean, p95), each closed by glFinish\n",
              config.name.c_str(), fps);
  double total = 0, writer = 0;
  for (const auto& stage : m.order) {
    std::vector<double> t = m.stages.at(stage);
    std::sort(t.begin(), t.end());
    const double mean = std::accumulate(t.begin(), t.end(), 0.0) / t.size();
    total += mean;
    if (stage == kWriterStage) writer = mean;
    std::printf("  %-32s %8.2f %8.2f\n", stage.c_str(), mean, t[size_t(0.95 * (t.size() - 1))]);
  }
  std::printf("  %-32s %8.2f\n", "sum of means", total);
  std::printf("  %-32s %8.2f\n", "sum of means without the writer", total - writer);
  std::printf("  log lines in the measured frames: %d; GL objects made: %d\n", m.log_lines,
              m.new_gl_names);
  return total - writer;
}

// The face renderer's cost: the "renderer" stage with the effects off (background and one shadow
// pass per face) and on (plus the mesh pass), with one face and, from a second recording, two.
void FaceEffects(Bench& one_face, const std::vector<std::shared_ptr<const ImageData>>& frames,
                 PluginInterface* writer) {
  // The second person stands in from the start and stays; no lost or renamed faces.
  const auto two = Record(60, R"(, "second_person_enter": -2, "second_person_leave": 60,
                                  "lose_face_at": 100, "rename_every": 100)");
  Bench two_faces(&two, writer);
  std::printf("\nface renderer, mode 0, automatic camera off: renderer stage in ms (mean, p95)\n");
  for (int faces : {1, 2}) {
    Bench& bench = faces == 1 ? one_face : two_faces;
    const auto& recorded = faces == 1 ? frames : two;
    std::printf("  %d face(s) in the recording's first frame: %zu\n", faces,
                recorded[0]->faces.size());
    for (bool effects : {false, true}) {
      const Config config{"", 0, false, effects};
      Measurement m = bench.Run(config, true, 40, 60);
      std::vector<double> t = m.stages["renderer"];
      std::sort(t.begin(), t.end());
      const double mean = std::accumulate(t.begin(), t.end(), 0.0) / t.size();
      const Measurement fps = bench.Run(config, false, 40, 60);
      std::printf("    effects %-3s renderer %6.2f %6.2f   end to end %6.2f fps\n",
                  effects ? "on" : "off", mean, t[size_t(0.95 * (t.size() - 1))], fps.fps);
    }
  }
}

}  // namespace
}  // namespace vantisol

int main(int argc, char** argv) {
  using namespace vantisol;
  QGuiApplication application(argc, argv);
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  el::Helpers::installLogDispatchCallback<LineCounter>("bench-counter");
  OpenGLContext gui(false);
  gui.CreateContext();
  gui.SetContext();

  const auto frames = Record(60);
  if (frames.empty()) {
    std::printf("no simulated camera\n");
    return 1;
  }
  std::printf("recorded %zu frames, colour %dx%d, output 1280x720\n", frames.size(),
              frames[0]->color.size.width, frames[0]->color.size.height);
  // A client of the output size in this process, so the writer reads back and copies every frame.
  SharedMemoryImage client(true);
  client.Lock().SetSize(1280, 720);
  PluginInterface writer;
  Bench bench(&frames, &writer);
  // Every background mode with either mask, on top of the default effects (colour correction
  // and the automatic camera); then gaze correction and face undistortion on top of the defaults.
  std::vector<Config> configs;
  for (int mode = 0; mode < 3; ++mode)
    for (bool camera_mask : {true, false}) {
      Config config{"mode " + std::to_string(mode) + ", " +
                        (camera_mask ? "camera's mask" : "own mask") + ", defaults",
                    mode, true};
      config.camera_mask = camera_mask;
      configs.push_back(config);
    }
  configs.push_back(
      {"mode 0, camera's mask, defaults + gaze correction + face undistortion", 0, true, true});
  std::vector<std::pair<double, double>> summary;
  for (const auto& config : configs) {
    const Measurement stages = bench.Run(config, true, 10, 40);
    const Measurement rate = bench.Run(config, false, 10, 40);
    summary.emplace_back(rate.fps, PrintStages(config, stages, rate.fps));
  }
  std::printf(
      "\nsummary (fps end to end without glFinish; sum of stage means without the writer)\n");
  for (size_t i = 0; i < configs.size(); ++i)
    std::printf("  %-72s %7.2f fps %8.2f ms\n", configs[i].name.c_str(), summary[i].first,
                summary[i].second);
  if (argc > 1 && std::string(argv[1]) == "--face-renderer") FaceEffects(bench, frames, &writer);
  return 0;
}
