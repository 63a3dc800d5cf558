// The pipeline's settings, accessors, camera set-up and the render thread's life.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <regex>
#include <utility>

#include "algorithms/renderer.h"
#include "child_process.h"
#include "face_tracking/face_tracker.h"
#include "gl_test.h"
#include "opengl/image_filters.h"
#include "opengl/locked_texture.h"
#include "pipeline_test_support.h"
#include "test_folder.h"
#include "vantisol_pipeline/vantisol_pipeline.h"
#include "watchdog.h"

namespace vantisol {
namespace {

using namespace std::chrono_literals;
using test::PipelineRig;

// Runs `call`, which must not wait for anything (a mutex left locked would make it): the test
// program ends with a message naming `what` when it has not returned within five seconds.
template <typename Call>
void MustNotWait(const std::string& what, Call call) {
  test::Bounded(what, call, std::chrono::seconds(5 * test::kTimeScale));
}

TEST(PipelineTest, DefaultsTable) {
  VantisolPipeline pipeline([] { return std::vector<std::unique_ptr<Camera>>(); });
  const auto s = pipeline.settings();
  EXPECT_FALSE(s.draw_faces);
  EXPECT_TRUE(s.color_correction);
  EXPECT_FALSE(s.face_undistortion);
  EXPECT_FALSE(s.gaze_correction);
  EXPECT_TRUE(s.sw_color_correction);
  EXPECT_FALSE(s.bilateral_filter);
  EXPECT_EQ(s.background_mode, 0);
  EXPECT_TRUE(s.automatic_camera);
  EXPECT_FALSE(s.personify);
  EXPECT_FALSE(s.bw_segmentation);
  EXPECT_EQ(s.gaze_correction_amount, 30);
  EXPECT_EQ(s.blur_amount, 10);
  EXPECT_EQ(s.face_undistortion_amount, 25);
  EXPECT_EQ(s.bg_thresh, -1);
  EXPECT_TRUE(s.use_history);
  EXPECT_FALSE(s.reset_history);
  EXPECT_EQ(s.face_template_scale_width, 100);
  EXPECT_EQ(s.face_template_scale_height, 100);
  EXPECT_TRUE(pipeline.automatic_camera());
  EXPECT_TRUE(pipeline.color_correction());
  EXPECT_FALSE(pipeline.face_undistortion());
  EXPECT_FALSE(pipeline.gaze_correction());
  EXPECT_EQ(pipeline.background_mode(), 0);
  EXPECT_EQ(pipeline.fps(), 0.0);
}

TEST(PipelineTest, BackgroundModeRaisesTheResetOnlyWhenLeavingModeZero) {
  VantisolPipeline pipeline([] { return std::vector<std::unique_ptr<Camera>>(); });
  pipeline.SetBackgroundMode(1);
  EXPECT_TRUE(pipeline.settings().reset_history);
  VantisolPipeline third([] { return std::vector<std::unique_ptr<Camera>>(); });
  third.SetBgThresh(1);  // any setter but the mode leaves it
  EXPECT_FALSE(third.settings().reset_history);
}

TEST(PipelineTest, AccessorsBeforeTheirObjectsLogAndLeaveTheMutexFree) {
  VantisolPipeline pipeline([] { return std::vector<std::unique_ptr<Camera>>(); });
  test::LogCapture log;
  EXPECT_EQ(pipeline.camera(), nullptr);
  EXPECT_EQ(pipeline.face_tracker(), nullptr);
  EXPECT_EQ(pipeline.renderer(), nullptr);
  EXPECT_EQ(pipeline.bilateral_filter(), nullptr);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "ERROR VantisolPipeline::camera() - Camera not available yet.",
                             "ERROR VantisolPipeline::face_tracker() - Face template has not been "
                             "created yet.",
                             "ERROR VantisolPipeline::renderer() - Renderer has not been created "
                             "yet.",
                             "ERROR VantisolPipeline::bilateral_filter() - Bilateral Filter has "
                             "not been created yet.",
                         }));
  MustNotWait("a setter after the empty handles (one kept the pipeline mutex)",
              [&] { pipeline.SetDrawFaces(true); });
}

TEST(PipelineTest, SettingsMadeBeforeTheRenderThreadReachTheirObjects) {
  PipelineRig rig({320, 240}, false);
  rig.pipeline->SetFaceTemplateScale(90, 110);
  rig.pipeline->SetFaceUndistortion(true);
  rig.pipeline->SetFaceUndistortionAmount(40);
  rig.pipeline->SetGazeCorrection(true);
  rig.pipeline->SetGazeCorrectionAmount(55);
  rig.pipeline->SetBlurAmount(0);  // stored, the blur keeps its kernel
  rig.Start();
  {
    auto renderer = rig.pipeline->renderer();
    ASSERT_NE(renderer, nullptr);
    EXPECT_TRUE(renderer->enable_face_undistortion_);
    EXPECT_EQ(renderer->face_undistortion_amount_, 40);
    EXPECT_TRUE(renderer->enable_gaze_correction_);
    EXPECT_EQ(renderer->face_rotation_amount_, 55);
    EXPECT_EQ(renderer->eye_rotation_amount_, 55);
    EXPECT_TRUE(renderer->draw_background_);
    EXPECT_EQ(renderer->render_mode_, 1);
  }
  {
    // The stored calibration holds from the first face on, before any change.
    auto tracker = rig.pipeline->face_tracker();
    ASSERT_NE(tracker, nullptr);
    EXPECT_FLOAT_EQ(tracker->base_template_->scale_[0], 0.9f);
    EXPECT_FLOAT_EQ(tracker->base_template_->scale_[1], 1.1f);
  }
  // Live settings go straight through.
  rig.pipeline->SetGazeCorrection(false);
  rig.pipeline->SetFaceUndistortionAmount(7);
  auto renderer = rig.pipeline->renderer();
  EXPECT_FALSE(renderer->enable_gaze_correction_);
  EXPECT_EQ(renderer->face_undistortion_amount_, 7);
}

TEST(PipelineTest, NoFrameIsPublishedWhileAHandleLives) {
  const auto frames = test::CaptureFrames(1, false, 2);
  ASSERT_EQ(frames.size(), 1u);
  PipelineRig rig;
  rig.pipeline->SetColorCorrection(false);
  rig.Process(frames[0].frame);
  const int before = rig.outputs();
  std::future<void> feeding;
  {
    auto handle = rig.pipeline->bilateral_filter();
    ASSERT_NE(handle, nullptr);
    feeding = std::async(std::launch::async, [&] { rig.camera->frame_signal_(frames[0].frame); });
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(rig.outputs(), before);
  }
  EXPECT_TRUE(rig.WaitForOutputs(before + 1)) << "the frame never came out after the handle";
  test::Bounded("the frame fed while the handle lived", [&] { feeding.wait(); });
}

// Frames queue up back to back, as they do whenever rendering is slower than the camera: an
// accessor from the window waits only for the frame in flight, not for a run of them (a plain
// mutex lets the render thread take it again first, frame after frame), and a setting does not
// wait at all. Each call is made just as a frame starts; a test thread that the load holds back for
// the whole frame (150 ms) before its call would count one frame more, so one call of ten may.
TEST(PipelineTest, WindowCallsWaitAtMostForTheFrameInFlight) {
  const auto frames = test::CaptureFrames(1, false, 2);
  ASSERT_EQ(frames.size(), 1u);
  PipelineRig rig({320, 240});
  std::mutex mutex;
  std::condition_variable frame_started;
  int started = 0, ended = 0;  // frames past their start, and past their first 150 ms
  rig.pipeline->SetStageProbe([&](const char* stage, const ImageData&) {
    if (std::string(stage) != "start") return;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++started;
    }
    frame_started.notify_all();
    std::this_thread::sleep_for(150ms);
    std::lock_guard<std::mutex> lock(mutex);
    ++ended;
  });
  const auto counts = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return std::make_pair(started, ended);
  };
  // Returns the counts as a new frame has just started.
  const auto next_start = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    const int seen = started;
    EXPECT_TRUE(frame_started.wait_for(lock, test::kWaitLimit, [&] { return started > seen; }))
        << "no frame started";
    return std::make_pair(started, ended);
  };
  std::atomic<bool> feeding{true};
  auto feeder = std::async(std::launch::async, [&] {
    while (feeding) rig.camera->frame_signal_(frames[0].frame);
  });
  ASSERT_TRUE(rig.WaitForOutputs(2)) << "no frames while feeding";
  int late_accessors = 0, waiting_settings = 0;
  for (int call = 0; call < 10; ++call) {
    auto before = next_start();
    {
      // Counted while lent: once it is given back, the next frame may start at once.
      const auto renderer = rig.pipeline->renderer();
      EXPECT_NE(renderer, nullptr);
      late_accessors += counts().first > before.first ? 1 : 0;
    }
    before = next_start();
    rig.pipeline->SetBlurAmount(3 + call);
    waiting_settings += counts().second > before.second ? 1 : 0;
    EXPECT_EQ(rig.pipeline->settings().blur_amount, 3 + call);
  }
  feeding = false;
  rig.pipeline->SetStageProbe(nullptr);
  ASSERT_EQ(feeder.wait_for(test::kWaitLimit), std::future_status::ready) << "feeder stuck";
  EXPECT_LE(late_accessors, 1) << "accessors waited for frames that started after them";
  EXPECT_LE(waiting_settings, 1) << "settings waited for the frame in flight";
}

// A setting made while a frame is in flight returns at once and reaches the next frame.
TEST(PipelineTest, SettingDuringAFrameReachesTheNextOne) {
  const auto frames = test::CaptureFrames(1, false, 2);
  ASSERT_EQ(frames.size(), 1u);
  PipelineRig rig({320, 240});
  rig.Process(frames[0].frame);  // the hardware corrector exists now
  std::promise<void> entered, release;
  auto release_future = release.get_future().share();
  std::atomic<bool> hold{true};
  rig.pipeline->SetStageProbe([&](const char* stage, const ImageData&) {
    if (std::string(stage) != "start" || !hold.exchange(false)) return;
    entered.set_value();
    release_future.wait_for(test::kWaitLimit);
  });
  const int before = rig.outputs();
  auto feeding =
      std::async(std::launch::async, [&] { rig.camera->frame_signal_(frames[0].frame); });
  ASSERT_EQ(entered.get_future().wait_for(test::kWaitLimit), std::future_status::ready)
      << "the frame never started";
  MustNotWait("a setting made while a frame is in flight",
              [&] { rig.pipeline->SetColorCorrection(false); });
  EXPECT_FALSE(rig.pipeline->color_correction());
  EXPECT_EQ(rig.camera->resets, 0) << "taken over in the middle of a frame";
  release.set_value();
  ASSERT_TRUE(rig.WaitForOutputs(before + 1)) << "the held frame never came out";
  feeding.wait();
  EXPECT_EQ(rig.camera->resets, 0);
  rig.Process(frames[0].frame);
  // Switching the correction off resets the camera's own once, on the next frame.
  EXPECT_EQ(rig.camera->resets, 1);
}

TEST(PipelineTest, HandShakeReturnsWithTheResourcesBuilt) {
  test::LogCapture log;
  PipelineRig rig({320, 240});
  // The accessors find everything at once: InitializeOpenglContext waited for it.
  EXPECT_NE(rig.pipeline->face_tracker(), nullptr);
  EXPECT_NE(rig.pipeline->renderer(), nullptr);
  EXPECT_EQ(log.Count("INFO ThreadLoop"), 1);
  EXPECT_EQ(log.Count("INFO InitializeOpenglContext"), 1);
  // A second call neither starts a thread nor waits.
  MustNotWait("a second hand-shake", [&] { rig.pipeline->InitializeOpenglContext(); });
  EXPECT_EQ(log.Count("INFO ThreadLoop"), 1);
}

TEST(PipelineTest, RunWithSizeSetsTheCameraUpOnce) {
  test::LogCapture log;
  PipelineRig rig({320, 240}, false);
  rig.pipeline->RunWithSize({0, 0}, false);   // the starting size: nothing
  rig.pipeline->RunWithSize({-4, 3}, false);  // refused
  EXPECT_EQ(rig.factory_calls, 0);
  rig.pipeline->SetPersonify(true);  // no camera yet: resumed when the camera is set up
  rig.Start();
  ASSERT_NE(rig.camera, nullptr);
  EXPECT_EQ(rig.camera->starts, 1);
  EXPECT_EQ(rig.camera->segmentation_calls, (std::vector<bool>{true, false, true}));
  rig.pipeline->RunWithSize({320, 240}, false);
  rig.pipeline->RunWithSize({640, 480}, false);
  EXPECT_EQ(rig.factory_calls, 1);
  EXPECT_EQ(rig.camera->starts, 1);
  EXPECT_EQ(log.Count("INFO RunWithSize: 640x480"), 1);
  rig.pipeline->SetPersonify(true);  // unchanged: not forwarded
  rig.pipeline->SetPersonify(false);
  EXPECT_EQ(rig.camera->segmentation_calls, (std::vector<bool>{true, false, true, false}));
  EXPECT_NE(rig.pipeline->camera(), nullptr);
}

TEST(PipelineTest, NoCameraIsAUserReadableError) {
  VantisolPipeline pipeline([] { return std::vector<std::unique_ptr<Camera>>(); });
  test::LogCapture log;
  try {
    pipeline.RunWithSize({640, 480}, false);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    const std::string text = error.what();
    EXPECT_EQ(text.rfind("Could not find any cameras. Make sure you have a compatible <a ", 0), 0u);
    EXPECT_NE(text.find(">Intel Realsense Camera</a> as well as the <a "), std::string::npos);
    EXPECT_NE(text.find(">newest runtime</a> installed.<br><br>More help on <a "),
              std::string::npos);
    EXPECT_EQ(text.back(), '.');
    EXPECT_EQ(log.Count("ERROR " + text), 1);
  }
  MustNotWait("an accessor after the error (the mutex kept)", [&] { pipeline.background_mode(); });
}

}  // namespace
}  // namespace vantisol

namespace vantisol {
namespace {

// The real camera on the simulated runtime, its frames running through the render thread.
struct LivePipeline {
  explicit LivePipeline(const std::string& scenario) : scenario_(scenario) {
    pipeline = std::make_unique<VantisolPipeline>();
    pipeline->error_signal_.connect([this](std::string text) {
      std::lock_guard<std::mutex> lock(mutex);
      errors.push_back(text);
    });
    pipeline->output_signal_.connect(
        [this](std::shared_ptr<LockedTexture>, LatencyCalculator) { ++outputs; });
    pipeline->SetSharedContext();
    test::Bounded(
        "the render thread's start-up hand-shake", [this] { pipeline->InitializeOpenglContext(); },
        test::kStartLimit);
    pipeline->RunWithSize({640, 480}, false);
  }
  ~LivePipeline() {
    test::Bounded("stopping the render thread", [this] { pipeline.reset(); });
  }
  std::vector<std::string> Errors() {
    std::lock_guard<std::mutex> lock(mutex);
    return errors;
  }
  bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  test::SimulatedScenario scenario_;
  std::unique_ptr<VantisolPipeline> pipeline;
  std::mutex mutex;
  std::vector<std::string> errors;
  std::atomic<int> outputs{0};
};

TEST(LivePipelineTest, CaptureThatEndsGivesExactlyOneCameraError) {
  LivePipeline live(R"({"frames": 6})");
  // Generous: the simulation is slow under the thread sanitizer.
  ASSERT_TRUE(live.WaitFor([&] { return !live.Errors().empty(); }, 200s)) << "no error signal";
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(live.Errors(), std::vector<std::string>{"Camera Error"});
  EXPECT_GT(live.outputs, 0);
  EXPECT_LE(live.outputs, 6);
}

TEST(LivePipelineTest, DestroyingWhileFramesFlowStopsTheCameraInBoundedTime) {
  test::LogCapture log;
  LivePipeline live("{}");
  ASSERT_TRUE(live.WaitFor([&] { return live.outputs >= 3; }, 60s)) << "no frames";
  test::Bounded(
      "destroying the pipeline while frames flow", [&] { live.pipeline.reset(); },
      std::chrono::seconds(30 * test::kTimeScale));
  const auto lines = log.lines();
  const auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  const auto waiting = at("INFO Waiting for thread to finish");
  ASSERT_LT(waiting, long(lines.size()));
  // The render thread stopped the camera after the destructor asked it to finish.
  const auto stop = std::find(lines.begin() + waiting, lines.end(), "INFO Stop");
  EXPECT_NE(stop, lines.end());
  EXPECT_TRUE(live.Errors().empty());
}

}  // namespace
}  // namespace vantisol

namespace vantisol {
namespace {

// Gives the processes started while it lives a kernel-object folder of their own, apart from
// tests that run in parallel.
class ScopedRuntimeFolder {
 public:
  ScopedRuntimeFolder() {
    std::filesystem::permissions(folder_.str(), std::filesystem::perms::owner_all);
    const char* previous = getenv("XDG_RUNTIME_DIR");
    if (previous) saved_ = previous;
    had_ = previous != nullptr;
    setenv("XDG_RUNTIME_DIR", folder_.str().c_str(), 1);
  }
  ~ScopedRuntimeFolder() {
    if (had_)
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }
  const std::string& str() const { return folder_.str(); }

 private:
  test::TemporaryFolder folder_;
  std::string saved_;
  bool had_ = false;
};

// A driver without OpenGL 4.3: the render thread cannot build its context. The waiting GUI thread
// gets the failure as an exception, the error signal carries it, and nothing hangs.
TEST(PipelineProcessTest, StartUpFailureReachesTheWaitingThreadAndTheErrorSignal) {
  ScopedRuntimeFolder runtime;
  setenv("MESA_GL_VERSION_OVERRIDE", "3.3", 1);
  // Its error lines are on standard error.
  test::ChildProcess runner({"/bin/sh", "-c", "exec /usr/bin/timeout 120 \"$0\" \"$@\" 2>&1",
                             VANTISOL_PIPELINE_RUN, "--frames", "5"});
  unsetenv("MESA_GL_VERSION_OVERRIDE");
  const std::string text = "The render thread could not create its OpenGL 4.3 context.";
  EXPECT_TRUE(runner.WaitFor("error: " + text)) << runner.output();
  EXPECT_EQ(runner.Finish(), 2) << runner.output();
  EXPECT_NE(runner.output().find("error signal: " + text), std::string::npos) << runner.output();
}

// The newest output picture a runner wrote into `folder` (output_<frame>.png), or "".
std::string LastOutputPicture(const std::string& folder) {
  std::string last;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("output_", 0) == 0 && name > last) last = name;
  }
  return last.empty() ? last : folder + "/" + last;
}

// The whole road: camera, render thread, watermark, frame writer, and a client process that
// reads the frames out of the shared memory; what it gets is the output, pixel for pixel. The
// client may miss frames (one slot, the newest wins), so the count of its pictures says nothing
// about which frame it holds; but it reads once more after the pipeline has stopped, so its last
// picture is the last output.
TEST(PipelineProcessTest, FramesReachAChannelClientInAnotherProcess) {
  ScopedRuntimeFolder folder;
  test::ChildProcess runner(
      {"/usr/bin/timeout", "240", VANTISOL_PIPELINE_RUN, "--frames", "12", "--client", "--size",
       "320x240", "--png-every", "1", "--out", folder.str()},
      std::chrono::seconds(240));
  EXPECT_EQ(runner.Finish(), 0) << runner.output();
  // The render thread may finish one more frame while the runner stops.
  std::smatch report;
  const std::string said = runner.output();
  ASSERT_TRUE(std::regex_search(said, report, std::regex("frames (\\d+) in "))) << said;
  EXPECT_GE(std::stoi(report[1].str()), 12) << said;
  EXPECT_NE(runner.output().find("client: received "), std::string::npos) << runner.output();
  const std::string last_output = LastOutputPicture(folder.str());
  const cv::Mat output = cv::imread(last_output);
  const cv::Mat received = cv::imread(folder.str() + "/client_last.png");
  ASSERT_EQ(output.size(), cv::Size(320, 240)) << last_output;
  ASSERT_EQ(received.size(), output.size()) << runner.output();
  EXPECT_EQ(cv::norm(output, received, cv::NORM_INF), 0) << last_output;
}

}  // namespace
}  // namespace vantisol
