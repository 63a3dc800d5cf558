// Runs the effects pipeline headless: the real camera (the simulated runtime), the render thread,
// the watermark and the frame writer, with a per-second report against the simulation's truth.
//   pipeline_run [options]       (pipeline_run --help lists them)
#include <stdlib.h>

#include <QGuiApplication>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <mutex>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "camera/camera_realsense.h"
#include "channel_client.h"
#include "child_process.h"
#include "display.h"
#include "ground_truth.h"
#include "opengl/locked_texture.h"
#include "opengl_qt/opengl_context.h"
#include "plugin_interface/plugin_interface.h"
#include "soak.h"
#include "utils/command_line.h"
#include "utils/logging.h"
#include "utils/shared_memory_image.h"
#include "vantisol_pipeline/vantisol_pipeline.h"
#include "watchdog.h"
#include "watermark_renderer/watermark_renderer.h"

namespace vantisol::tools {
namespace {

// One whole line on standard output, or an error's on standard error; the render and camera
// threads print too.
void Say(const std::string& line, std::ostream& stream = std::cout) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  stream << line << std::endl;
}

const char kUsage[] = R"(pipeline_run [options]
  --frames N            output frames to run (300)
  --seconds S           run for S seconds instead (the frame count is then ignored)
  --size WxH            output size (1280x720)
  --scenario FILE       simulated camera scenario (default: unpaced)
  --png-every K         write every K-th output as PNG into --out (0: none)
  --out DIR             folder for PNG files (.)
  --mode 0|1|2          background: none, blur, replacement
  --blur N              blur amount (10)
  --background FILE     replacement picture
  --personify           use the camera's segmentation
  --bw                  show the mask as a grey picture
  --bilateral           bilateral filter on
  --no-color-correction --no-sw-correction --no-auto-camera --no-history
  --draw-faces          draw the face boxes
  --gaze N              gaze correction on with amount N
  --undistortion N      face undistortion on with amount N
  --bg-thresh N         fixed depth threshold (-1 automatic)
  --face-scale W H      face-mask scale in percent
  --client              also run a virtual-camera client in its own process that asks for
                        --size and reads the frames back out of the shared memory (the
                        pipeline starts at 1280x720 and follows the client's request);
                        with --png-every it writes its pictures into --out as well, as
                        client_<n>.png by count received and its last one as client_last.png
  --log                 print the program's log lines
  --cycle-effects N     every N seconds switch colour correction, background mode, gaze
                        correction, face undistortion, automatic camera and bilateral filter
                        (the per-second quality report is then left out)
  --monitor             once a second print "monitor <second> rss_kb <kB> fds <n> gl <textures>
                        <buffers> <framebuffers> live <t> <b> <f> log_lines <n> frames <n>":
                        resident memory, open file descriptors, GL names made since the first
                        second, GL objects alive, log lines and output frames so far
)";

struct Options {
  int frames = 300;
  Size size{1280, 720};
  std::string scenario;
  int png_every = 0;
  std::string out = ".";
  bool log = false;
  bool client = false;
  int seconds = 0;
  int cycle_effects = 0;
  bool monitor = false;
  // Pipeline settings in the order given.
  std::vector<std::function<void(VantisolPipeline&)>> settings;
};

// Reads the options; the pipeline settings among them are kept for later, so that reading them
// needs neither a display nor a pipeline. False after --help.
bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto next = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
      return argv[++i];
    };
    const auto number = [&](int min, int max) { return WholeNumberOption(a, next(), min, max); };
    const auto later = [&](std::function<void(VantisolPipeline&)> setting) {
      options->settings.push_back(std::move(setting));
    };
    if (a == "--frames")
      options->frames = number(1, kLargestOption);
    else if (a == "--size")
      options->size = SizeOption(a, next(), 1, kLargestPictureSide);
    else if (a == "--scenario")
      options->scenario = next();
    else if (a == "--png-every")
      options->png_every = number(0, kLargestOption);
    else if (a == "--out")
      options->out = next();
    else if (a == "--log")
      options->log = true;
    else if (a == "--client")
      options->client = true;
    else if (a == "--seconds")
      options->seconds = number(0, kWeekInSeconds);
    else if (a == "--cycle-effects")
      options->cycle_effects = number(0, kWeekInSeconds);
    else if (a == "--monitor")
      options->monitor = true;
    else if (a == "--mode")
      later([v = number(0, 2)](VantisolPipeline& p) { p.SetBackgroundMode(v); });
    else if (a == "--blur")
      later([v = number(0, 30)](VantisolPipeline& p) { p.SetBlurAmount(v); });
    else if (a == "--background") {
      later([file = next()](VantisolPipeline& p) {
        if (!p.SetBackground(file)) throw std::invalid_argument("cannot read " + file);
      });
    } else if (a == "--personify")
      later([](VantisolPipeline& p) { p.SetPersonify(true); });
    else if (a == "--bw")
      later([](VantisolPipeline& p) { p.SetBwSegmentation(true); });
    else if (a == "--bilateral")
      later([](VantisolPipeline& p) { p.SetBilateralFilter(true); });
    else if (a == "--no-color-correction")
      later([](VantisolPipeline& p) { p.SetColorCorrection(false); });
    else if (a == "--no-sw-correction")
      later([](VantisolPipeline& p) { p.SetSwColorCorrection(false); });
    else if (a == "--no-auto-camera")
      later([](VantisolPipeline& p) { p.SetAutomaticCamera(false); });
    else if (a == "--no-history")
      later([](VantisolPipeline& p) { p.SetUseHistory(false); });
    else if (a == "--draw-faces")
      later([](VantisolPipeline& p) { p.SetDrawFaces(true); });
    else if (a == "--gaze") {
      later([v = number(0, 60)](VantisolPipeline& p) {
        p.SetGazeCorrection(true);
        p.SetGazeCorrectionAmount(v);
      });
    } else if (a == "--undistortion") {
      later([v = number(0, 40)](VantisolPipeline& p) {
        p.SetFaceUndistortion(true);
        p.SetFaceUndistortionAmount(v);
      });
    } else if (a == "--bg-thresh")
      later([v = number(-1, 5000)](VantisolPipeline& p) { p.SetBgThresh(v); });
    else if (a == "--face-scale") {
      const int w = number(80, 120);
      later([w, h = number(80, 120)](VantisolPipeline& p) { p.SetFaceTemplateScale(w, h); });
    } else if (a == "--help") {
      std::cout << kUsage;
      return false;
    } else {
      throw std::invalid_argument("unknown option " + a);
    }
  }
  return true;
}

// The simulated camera's scenario when none is given: frames as fast as they are taken. The file
// goes with the object, on every way out of the run.
class UnpacedScenario {
 public:
  UnpacedScenario()
      : file_(std::filesystem::temp_directory_path() /
              ("pipeline_run_" + std::to_string(::getpid()) + ".json")) {
    std::ofstream(file_) << R"({"paced": false})";
  }
  ~UnpacedScenario() {
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
  }
  UnpacedScenario(const UnpacedScenario&) = delete;
  UnpacedScenario& operator=(const UnpacedScenario&) = delete;

  std::string file() const { return file_.string(); }

 private:
  std::filesystem::path file_;
};

// Only one process can serve the frame channel: the program, or another producer such as this tool.
// The program also holds a claim of its own, which tells the two apart.
std::string ChannelRefusal(const std::string& what) {
  if (what != kServerRunning) return what;
  const std::string holder = utils::InstanceGuard::IsHeld(kProgramClaim)
                                 ? "the program Vantisol is running"
                                 : "another producer holds the frame channel";
  return holder + " (" + what + ")";
}

// Where a colour pixel lands in the output: the central band of the output's aspect, scaled.
struct OutputMapping {
  OutputMapping(Size color, Size output) : output(output) {
    crop_width = color.width;
    const float aspect = float(output.width) / output.height;
    if (aspect < float(color.width) / color.height) crop_width = int(color.height * aspect);
    offset = (color.width - crop_width) / 2;
    height = color.height;
  }
  int ColorX(int x) const { return offset + int((x + 0.5f) * crop_width / output.width); }
  int ColorY(int y) const { return int((y + 0.5f) * height / output.height); }
  Size output;
  int crop_width, offset, height;
};

// One second of frame time, summed up.
struct Second {
  int frames = 0;
  double iou = 0, camera_y = 0, output_y = 0;
  int iou_count = 0, camera_count = 0, output_count = 0;
  // Worst boundary error (mean distance in output pixels of the mask's edge to the true edge) and
  // worst flicker (share of pixels whose mask changed where the truth did not).
  double boundary = 0, flicker = 0;
};

class Runner {
 public:
  Runner(const Options& options, PluginInterface* writer) : options_(options), writer_(writer) {}

  // Render thread, after the frame's result is in the output texture.
  void OnProbe(const char* stage, const ImageData& frame) {
    if (std::string(stage) == "start" && probe_gl_.exchange(false)) gl_names_.Probe();
    if (std::string(stage) != "output") return;
    time_stamp_ = frame.color.time_stamp;
    color_size_ = frame.color.size;
  }

  // Render thread, inside the pipeline's loan on the output: the window's watermark step.
  void OnOverlay(Texture& frame) { watermark_.Draw(frame); }

  // Render thread: the window's frame handler, then the measurements.
  void OnOutput(std::shared_ptr<LockedTexture> texture, LatencyCalculator latency,
                const VantisolPipeline::Settings& settings) {
    writer_->Process(texture, latency);
    // With the effects switching, the measurements below would mix settings.
    if (options_.cycle_effects > 0 && options_.png_every == 0) {
      ++outputs_;
      condition_.notify_all();
      return;
    }
    Image image;
    {
      auto loan = texture->Lock();
      image = loan->Download(Image::Format::kRGB);
    }
    Measure(image, settings);
    const int number = ++outputs_;
    if (options_.png_every > 0 && number % options_.png_every == 0) {
      cv::Mat rgb(image.size.height, image.size.width, CV_8UC3, image.data.get()), bgr;
      cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
      char name[64];
      std::snprintf(name, sizeof(name), "/output_%05d.png", number);
      cv::imwrite(options_.out + name, bgr);
    }
    condition_.notify_all();
  }

  void Measure(const Image& image, const VantisolPipeline::Settings& settings) {
    Truth truth;
    if (!truth_ || !truth_->Take(time_stamp_, &truth)) return;
    const int second = int(time_stamp_ / 1000000000);
    const OutputMapping map(color_size_, image.size);
    Second& s = seconds_[second];
    ++s.frames;
    if (truth.camera_face_y >= 0) s.camera_y += truth.camera_face_y, ++s.camera_count;
    // The fixed mapping below does not hold for the automatic camera's moving views.
    if (settings.automatic_camera) return;
    const uint8_t* p = image.data.get();
    // Output face brightness (BT.601 luma in video range) in the true boxes' middle thirds.
    double sum = 0;
    long count = 0;
    for (const Rectangle& face : truth.faces) {
      const Rectangle r = MiddleThird(face);
      for (int y = 0; y < image.size.height; y += 2) {
        const int cy = map.ColorY(y);
        if (cy < r.y || cy >= r.y + r.height) continue;
        for (int x = 0; x < image.size.width; x += 2) {
          const int cx = map.ColorX(x);
          if (cx < r.x || cx >= r.x + r.width) continue;
          const uint8_t* q = p + (size_t(y) * image.size.width + x) * 3;
          sum += 16 + (65.738 * q[0] + 129.057 * q[1] + 25.064 * q[2]) / 256, ++count;
        }
      }
    }
    if (count > 0) s.output_y += sum / count, ++s.output_count;
    // The mask can be read from the picture in the grey view and in replacement with green.
    const bool grey = settings.bw_segmentation && settings.background_mode != 0;
    const bool green = settings.background_mode == 2 && !has_background_;
    if ((grey || green) && truth.size == color_size_) {
      long both = 0, either = 0;
      cv::Mat mask(image.size.height, image.size.width, CV_8UC1),
          real_mask(image.size.height, image.size.width, CV_8UC1);
      for (int y = 0; y < image.size.height; ++y)
        for (int x = 0; x < image.size.width; ++x) {
          const uint8_t* q = p + (size_t(y) * image.size.width + x) * 3;
          const bool person = grey ? q[0] > 127 : !(q[0] == 0 && q[1] == 255 && q[2] == 0);
          const bool real = truth.person[size_t(map.ColorY(y)) * truth.size.width + map.ColorX(x)];
          both += person && real;
          either += person || real;
          mask.at<uint8_t>(y, x) = person ? 255 : 0;
          real_mask.at<uint8_t>(y, x) = real ? 255 : 0;
        }
      if (either > 0) s.iou += double(both) / either, ++s.iou_count;
      MeasureEdgesAndFlicker(mask, real_mask, &s);
    }
  }

  void MeasureEdgesAndFlicker(const cv::Mat& mask, const cv::Mat& real, Second* s) {
    const auto edges = [](const cv::Mat& m) {
      cv::Mat eroded;
      cv::erode(m, eroded, cv::getStructuringElement(cv::MORPH_CROSS, {3, 3}), {-1, -1}, 1,
                cv::BORDER_REPLICATE);
      return cv::Mat(m - eroded);
    };
    cv::Mat distance;
    cv::distanceTransform(255 - edges(real), distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    const cv::Mat mask_edges = edges(mask);
    if (cv::countNonZero(mask_edges) > 0)
      s->boundary = std::max(s->boundary, cv::mean(distance, mask_edges)[0]);
    if (previous_mask_.size() == mask.size()) {
      const cv::Mat changed = (mask != previous_mask_) & (real == previous_real_);
      s->flicker = std::max(s->flicker, double(cv::countNonZero(changed)) / mask.total());
    }
    previous_mask_ = mask;
    previous_real_ = real;
  }

  void Report() const {
    std::printf(
        "second  frames  mask IoU  boundary px  flicker %%  camera face Y (target 90)  output face "
        "Y\n");
    for (const auto& [second, s] : seconds_) {
      const auto mean = [](double sum, int n) {
        return n > 0 ? std::to_string(std::lround(sum / n * 100) / 100.0).substr(0, 6)
                     : std::string("-");
      };
      const bool masked = s.iou_count > 0;
      std::printf("%6d  %6d  %8s  %11s  %9s  %25s  %13s\n", second, s.frames,
                  mean(s.iou, s.iou_count).c_str(), masked ? mean(s.boundary, 1).c_str() : "-",
                  masked ? mean(s.flicker * 100, 1).c_str() : "-",
                  mean(s.camera_y, s.camera_count).c_str(),
                  mean(s.output_y, s.output_count).c_str());
    }
  }

  template <typename Duration>
  bool WaitForOutputs(int count, Duration limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return condition_.wait_for(lock, limit, [&] { return outputs_ >= count || failed_; });
  }
  void Fail(const std::string& text) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failed_ = true;
      error_ = text;
    }
    condition_.notify_all();
  }
  std::string error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }
  int outputs() const { return outputs_; }
  // The next frame's start probes the GL names.
  void RequestGlProbe() { probe_gl_ = true; }
  const GlNameProbe& gl_names() const { return gl_names_; }

  void set_truth(std::unique_ptr<TruthRecorder> truth) { truth_ = std::move(truth); }
  void set_has_background(bool value) { has_background_ = value; }

 private:
  Options options_;
  PluginInterface* writer_;
  WatermarkRenderer watermark_;
  std::unique_ptr<TruthRecorder> truth_;
  int64_t time_stamp_ = 0;
  Size color_size_;
  bool has_background_ = false;
  std::map<int, Second> seconds_;
  cv::Mat previous_mask_, previous_real_;
  std::atomic<int> outputs_{0};
  std::atomic<bool> probe_gl_{false};
  GlNameProbe gl_names_;
  std::mutex mutex_;
  std::condition_variable condition_;
  bool failed_ = false;
  std::string error_;
};

int Run(int argc, char** argv) {
  Options options;
  bool has_background = false;
  for (int i = 1; i < argc; ++i) has_background |= std::string(argv[i]) == "--background";
  try {
    if (!Parse(argc, argv, &options)) return 0;
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n" << kUsage;
    return 2;
  }
  // Before anything runs: a folder that cannot be made would otherwise end the run at its first
  // picture.
  const std::string refusal = options.png_every > 0 ? MakeOutputFolder(options.out) : "";
  if (!refusal.empty()) {
    Say("error: " + refusal, std::cerr);
    return 2;
  }

  // Without a display Qt would end the process, and without a context nothing can be drawn.
  const std::string needs =
      "pipeline_run needs an X display with OpenGL 4.3 (Xvfb will do: "
      "xvfb-run -a -s \"-noreset -screen 0 1280x1024x24\" pipeline_run ...)";
  if (MissingXDisplay()) {
    Say("error: no X display could be opened; " + needs, std::cerr);
    return 2;
  }
  QGuiApplication application(argc, argv);
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::Format, "%level %msg");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput,
                                     options.log ? "true" : "false");

  // The preview's context, which the render thread's context shares objects with.
  OpenGLContext gui_context(false);
  gui_context.CreateContext();
  if (!gui_context.SetContext()) {
    Say("error: no OpenGL context could be made; " + needs, std::cerr);
    return 2;
  }

  auto owned_pipeline = std::make_unique<VantisolPipeline>();
  VantisolPipeline& pipeline = *owned_pipeline;
  try {
    for (const auto& setting : options.settings) setting(pipeline);
  } catch (const std::exception& error) {
    std::cerr << error.what() << "\n" << kUsage;
    return 2;
  }
  if (options.monitor) LogLineCounter::Install();
  std::optional<UnpacedScenario> unpaced;
  if (options.scenario.empty()) options.scenario = unpaced.emplace().file();
  setenv("VANTISOL_CAMERA_SCENARIO", options.scenario.c_str(), 1);

  // The virtual camera's side, when asked for, in a process of its own.
  std::unique_ptr<test::ChildProcess> client;
  if (options.client) {
    client = std::make_unique<test::ChildProcess>(std::vector<std::string>{
        argv[0], "--client-process", std::to_string(options.size.width),
        std::to_string(options.size.height), std::to_string(options.png_every), options.out});
    if (!client->WaitFor("ready")) {
      Say("error: the client did not start: " + client->output(), std::cerr);
      return 2;
    }
  }
  std::unique_ptr<PluginInterface> writer;
  try {
    writer = std::make_unique<PluginInterface>();
  } catch (const std::exception& error) {
    Say("error: " + ChannelRefusal(error.what()), std::cerr);
    return 2;
  }
  Runner runner(options, writer.get());
  runner.set_has_background(has_background);
  pipeline.SetStageProbe(
      [&runner](const char* stage, const ImageData& frame) { runner.OnProbe(stage, frame); });
  pipeline.error_signal_.connect([&runner](std::string text) {
    Say("error signal: " + text, std::cerr);
    runner.Fail(text);
  });

  int result = 0;
  // A run that did not start has nothing to report: it says only its error, on standard error.
  bool started = false;
  try {
    pipeline.SetSharedContext();
    // The hand-shake has no limit of its own; the tests that run this tool need one.
    test::Bounded(
        "the render thread's start-up hand-shake",
        [&pipeline] { pipeline.InitializeOpenglContext(); }, test::kStartLimit);
    // The settings are fixed for the run; the subscriber reads them once.
    const auto settings = pipeline.settings();
    pipeline.overlay_signal_.connect(
        [&runner](Texture& frame, LatencyCalculator&) { runner.OnOverlay(frame); });
    pipeline.output_signal_.connect(
        [&runner, settings](std::shared_ptr<LockedTexture> texture, LatencyCalculator latency) {
          runner.OnOutput(std::move(texture), latency, settings);
        });
    const auto start = std::chrono::steady_clock::now();
    // As the window does: the client's size once one is attached, else the size asked for.
    const Size requested = writer->requested_size();
    Size running = options.client        ? Size{1280, 720}
                   : requested.width > 0 ? requested
                                         : options.size;
    pipeline.RunWithSize(running, false);
    {
      auto camera = pipeline.camera();
      if (auto* real = dynamic_cast<CameraRealSense*>(camera.get()))
        runner.set_truth(std::make_unique<TruthRecorder>(real));
    }
    started = true;
    // The window follows the writer's size signal; here the size is polled.
    const auto deadline = start + std::chrono::seconds(std::max(600, options.seconds + 120));
    const auto end = start + std::chrono::seconds(options.seconds);
    const int frames = options.seconds > 0 ? std::numeric_limits<int>::max() : options.frames;
    EffectCycler cycler(&pipeline);
    auto next_cycle = start + std::chrono::seconds(options.cycle_effects);
    auto next_second = start;
    int second = 0;
    while (!runner.WaitForOutputs(frames, std::chrono::milliseconds(50))) {
      const auto now = std::chrono::steady_clock::now();
      if (options.seconds > 0 && now >= end) break;
      // Only a change, as the window's size signal brings: every call writes a log line.
      const Size size = writer->requested_size();
      if (size.width > 0 && size.height > 0 && !(size == running)) {
        running = size;
        pipeline.RunWithSize(size, false);
      }
      if (options.monitor && now >= next_second) {
        const ProcessResources resources = ProcessResources::Read();
        const auto gl = runner.gl_names().MadeSinceFirst();
        const auto live = runner.gl_names().Live();
        Say("monitor " + std::to_string(second++) + " rss_kb " +
            std::to_string(resources.resident_kb) + " fds " + std::to_string(resources.open_files) +
            " gl " + std::to_string(gl[0]) + " " + std::to_string(gl[1]) + " " +
            std::to_string(gl[2]) + " live " + std::to_string(live[0]) + " " +
            std::to_string(live[1]) + " " + std::to_string(live[2]) + " log_lines " +
            std::to_string(LogLineCounter::lines()) + " frames " +
            std::to_string(runner.outputs()));
        runner.RequestGlProbe();
        next_second += std::chrono::seconds(1);
      }
      if (options.cycle_effects > 0 && now >= next_cycle) {
        Say(cycler.Step());
        next_cycle += std::chrono::seconds(options.cycle_effects);
      }
      if (now > deadline) {
        runner.Fail("time-out after " + std::to_string(runner.outputs()) + " frames");
        break;
      }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string error = runner.error();
    if (!error.empty() && (options.seconds > 0 || runner.outputs() < options.frames)) {
      Say("error: " + error, std::cerr);
      result = 1;
    }
    Say("frames " + std::to_string(runner.outputs()) + " in " + std::to_string(seconds) + " s (" +
        std::to_string(runner.outputs() / seconds) + " fps)");
  } catch (const std::exception& error) {
    Say(std::string("error: ") + error.what(), std::cerr);
    result = 2;
  }
  // The render thread stops before the subscriber it calls goes away.
  owned_pipeline.reset();
  // The client's count includes the frames made while the pipeline stopped.
  if (started) {
    if (options.monitor) Say("frames made in all " + std::to_string(runner.outputs()));
    runner.Report();
  }
  if (client) {
    const int code = client->Finish();
    const std::string& said = client->output();
    const auto line = said.rfind("received ");
    (code == 0 && started ? std::cout : std::cerr)
        << "client: " << (line == std::string::npos ? said : said.substr(line));
    if (code != 0) result = result ? result : 3;
  }
  return result;
}

}  // namespace
}  // namespace vantisol::tools

int main(int argc, char** argv) {
  // The channel client's own process: pipeline_run --client-process W H PNG_EVERY FOLDER
  if (argc == 6 && std::string(argv[1]) == "--client-process") {
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "false");
    namespace tools = vantisol::tools;
    try {
      const vantisol::Size size = vantisol::SizeOption(
          argv[1], std::string(argv[2]) + "x" + argv[3], 1, vantisol::kLargestPictureSide);
      const int png_every =
          vantisol::WholeNumberOption(argv[1], argv[4], 0, vantisol::kLargestOption);
      return tools::RunChannelClient(size.width, size.height, png_every, argv[5]);
    } catch (const std::invalid_argument& error) {
      std::cout << "error: " << error.what() << std::endl;
      return 2;
    } catch (const std::exception& error) {
      std::cout << "error: " << error.what() << std::endl;
      return 1;
    }
  }
  return vantisol::tools::Run(argc, argv);
}
