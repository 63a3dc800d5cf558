#include "camera/camera_realsense.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "test_support.h"
#include "watchdog.h"

namespace vantisol {
namespace {

std::unique_ptr<CameraRealSense> First() {
  auto cameras = CameraRealSense::GetCameras();
  return cameras.empty() ? nullptr : std::move(cameras[0]);
}

// Counts frames and stops from the camera thread; waits on them without sleeping, each wait
// bounded (false when it ran out).
class Observer {
 public:
  explicit Observer(Camera& camera) {
    frames_ = camera.frame_signal_.connect([this](std::shared_ptr<const ImageData>) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++frame_count_;
      changed_.notify_all();
    });
    stops_ = camera.stopped_signal_.connect([this] {
      std::lock_guard<std::mutex> lock(mutex_);
      ++stop_count_;
      changed_.notify_all();
    });
  }
  bool WaitForFrames(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, test::kWaitLimit, [&] { return frame_count_ >= count; });
  }
  bool WaitForStop() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, test::kWaitLimit, [&] { return stop_count_ > 0; });
  }
  int frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frame_count_;
  }
  int stops() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int frame_count_ = 0;
  int stop_count_ = 0;
  utils::ScopedConnection frames_, stops_;
};

TEST(CameraRealSense, EnumeratesOneCameraPerCaptureModule) {
  {
    test::ScopedScenario scenario(R"({"devices": ["generic", "F200", "SR300"]})");
    test::LogCapture log;
    auto cameras = CameraRealSense::GetCameras();
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_FLOAT_EQ(cameras[0]->BrightnessControlGain(), 0.25f);  // the F200 came first
    EXPECT_EQ(cameras[0]->BrightnessControlInterval(), 2500000000);
    EXPECT_EQ(log.Count("Found generic camera: Simulated Webcam"), 1);
    EXPECT_EQ(log.Count("Found F200: Simulated Depth Camera F200"), 1);
    EXPECT_EQ(log.Count("Found SR300: Simulated Depth Camera SR300"), 0);
  }
  {
    test::ScopedScenario scenario(R"({"devices": ["generic"]})");
    EXPECT_TRUE(CreateCameras().empty());
  }
  test::ScopedScenario scenario;
  auto cameras = CreateCameras();
  ASSERT_EQ(cameras.size(), 1u);
  EXPECT_FLOAT_EQ(cameras[0]->BrightnessControlGain(), 0.05f);
  EXPECT_EQ(cameras[0]->BrightnessControlInterval(), 250000000);
}

TEST(CameraRealSense, StartsOnceAndStopsAndRestarts) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  camera->EnableFaceTracking();
  camera->EnableDepthmap();
  Observer observer(*camera);
  test::LogCapture log;
  camera->Start();
  camera->Start();
  EXPECT_EQ(log.Count("Start"), 2);
  ASSERT_TRUE(observer.WaitForFrames(3)) << "no three frames after Start";
  EXPECT_EQ(log.Count("Running..."), 1);
  camera->Stop();
  EXPECT_FALSE(camera->internal_camera()->device_open());
  const int frames = observer.frames();
  camera->Start();
  ASSERT_TRUE(observer.WaitForFrames(frames + 2)) << "no frames after the restart";
  camera->Stop();
  EXPECT_EQ(observer.stops(), 0);
}

TEST(CameraRealSense, StopBeforeStartLeavesTheDeviceOpen) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  camera->ColorBrightness();  // opens the device
  test::LogCapture log;
  camera->Stop();
  EXPECT_EQ(log.Count("Stop"), 1);
  EXPECT_TRUE(camera->internal_camera()->device_open());
}

TEST(CameraRealSense, ALoopThatEndsByItselfSignalsStoppedOnce) {
  test::ScopedScenario scenario(R"({"frames": 3})");
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  Observer observer(*camera);
  camera->Start();
  ASSERT_TRUE(observer.WaitForStop()) << "the loop did not end after its three frames";
  camera->Stop();
  EXPECT_EQ(observer.stops(), 1);
  EXPECT_EQ(observer.frames(), 3);
}

TEST(CameraRealSense, AFailedStartReachesTheCallerAndFreesTheLock) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  camera->EnableFaceTracking();
  camera->SetColorResolution({1920, 1080});  // more than the face module can take
  try {
    camera->Start();
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "CameraRealSense: Could not initialize camera: -4");
  }
  camera->SetColorResolution({1280, 720});
  Observer observer(*camera);
  camera->Start();
  ASSERT_TRUE(observer.WaitForFrames(1)) << "no frame after a start that followed a failed one";
  camera->Stop();
}

TEST(CameraRealSense, BrightnessIsSentAsAWholeNumber) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  camera->SetColorBrightness(12.7f);
  EXPECT_FLOAT_EQ(camera->ColorBrightness(), 12);
  float min = 0, max = 0;
  camera->GetColorBrightnessRange(&min, &max);
  EXPECT_FLOAT_EQ(min, 0);
  EXPECT_FLOAT_EQ(max, 128);
  camera->GetColorBrightnessRange(nullptr, nullptr);

  test::ScopedScenario f200(R"({"devices": ["F200"]})");
  auto other = First();
  ASSERT_NE(other, nullptr);
  other->SetColorBrightness(-5.9f);
  EXPECT_FLOAT_EQ(other->ColorBrightness(), -5);
  other->GetColorBrightnessRange(&min, &max);
  EXPECT_FLOAT_EQ(min, -64);
}

TEST(CameraRealSense, PlaybackSendsNoBrightness) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  camera->SetSimulationMode(Camera::SimulationMode::Realtime, false);
  test::LogCapture log;
  camera->SetColorBrightness(20);
  EXPECT_FALSE(camera->internal_camera()->device_open());
  EXPECT_EQ(log.Count("SetColorBrightness: 20"), 1);
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST(CameraRealSense, AFailedBrightnessQueryGives32767) {
  test::ScopedScenario scenario(R"({"fail_property_queries": true})");
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  EXPECT_FLOAT_EQ(camera->ColorBrightness(), 32767);
  float min = 0, max = 0;
  camera->GetColorBrightnessRange(&min, &max);
  EXPECT_FLOAT_EQ(min, 32767);
  EXPECT_FLOAT_EQ(max, 32767);
}

TEST(CameraRealSense, FlagsAndPlaybackChecks) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  camera->SetPaused(true);
  EXPECT_TRUE(camera->paused());
  camera->SetLoop(true);
  EXPECT_TRUE(camera->loop());
  test::LogCapture log;
  camera->SetFrameByIndex(3);
  EXPECT_EQ(log.Count("Check failed: [camera->simulation_mode() == SimulationMode::FrameByFrame] "),
            1);
}

// Four callers queue behind a holder in a known order; each release must let in exactly the next
// ticket. Repeated many times: a release that wakes only one waiter deadlocks only when that
// waiter is not the next, which one round shows by chance at best.
TEST(TicketLock, ServesCallersInArrivalOrder) {
  struct Round {
    TicketLock lock;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> order;
  };
  constexpr int kCallers = 4;
  for (int round = 0; round < 200; ++round) {
    auto state = std::make_shared<Round>();
    state->lock.Take();
    std::vector<std::thread> threads;
    bool queued = true;
    for (int i = 0; i < kCallers && queued; ++i) {
      threads.emplace_back([state, i] {
        state->lock.Take();
        {
          std::lock_guard<std::mutex> guard(state->mutex);
          state->order.push_back(i);
        }
        state->changed.notify_all();
        state->lock.Release();
      });
      // The next caller starts only once this one holds its ticket.
      const auto deadline = std::chrono::steady_clock::now() + test::kWaitLimit;
      while (state->lock.tickets_issued() != uint32_t(i + 2) &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
      }
      queued = state->lock.tickets_issued() == uint32_t(i + 2);
    }
    state->lock.Release();
    std::unique_lock<std::mutex> lock(state->mutex);
    const bool all_served = state->changed.wait_for(
        lock, test::kWaitLimit, [&] { return state->order.size() == size_t(kCallers); });
    if (!queued || !all_served) {
      // The callers left waiting hold the round's state; they end with the test program.
      for (auto& t : threads) t.detach();
      FAIL() << "round " << round << ": " << state->order.size() << " of " << kCallers
             << " callers got the lock within " << test::kWaitLimit.count() << " s"
             << (queued ? "" : " (a caller never drew its ticket)");
    }
    lock.unlock();
    for (auto& t : threads) t.join();
    ASSERT_EQ(state->order, (std::vector<int>{0, 1, 2, 3})) << "round " << round;
  }
}

// The capture thread asks for the camera again at once after every frame; the ticket order
// still lets each other caller in after the capture's current step: while one call waits, at
// most two frames are counted (the one in progress, and one whose signal was under way).
TEST(CameraRealSense, OtherThreadsGetTheirTurnWhileCapturing) {
  test::ScopedScenario scenario;
  auto camera = First();
  ASSERT_NE(camera, nullptr);
  Observer observer(*camera);
  camera->Start();
  ASSERT_TRUE(observer.WaitForFrames(1)) << "no frame after Start";
  {
    test::Watchdog watchdog("twenty calls beside a running capture");
    for (int i = 0; i < 20; ++i) {
      const int before = observer.frames();
      camera->SetSingleUserMode(i % 2 == 0);
      EXPECT_LE(observer.frames() - before, 2) << "call " << i << " waited for several frames";
    }
  }
  // The capture goes on after the calls, and the last call took effect.
  const int frames = observer.frames();
  ASSERT_TRUE(observer.WaitForFrames(frames + 1)) << "the capture stopped after the calls";
  camera->Stop();
  EXPECT_FALSE(camera->internal_camera()->single_user());
}

// Brightness reaches the device while live or recording, and never in either playback mode.
TEST(CameraRealSense, BrightnessIsSentLiveAndWhileRecordingOnly) {
  test::ScopedScenario scenario;
  test::TemporaryFolder folder;  // a recording writes its file into the working folder
  char previous[PATH_MAX];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(folder.str().c_str()), 0);
  using Mode = Camera::SimulationMode;
  for (const auto& [mode, sent] :
       {std::pair{Mode::None, true}, std::pair{Mode::Recording, true},
        std::pair{Mode::Realtime, false}, std::pair{Mode::FrameByFrame, false}}) {
    auto camera = First();
    if (camera == nullptr) {
      ADD_FAILURE() << "no camera";  // no return: the working folder is restored below
      continue;
    }
    if (mode != Mode::None) camera->SetSimulationMode(mode, false);
    camera->SetColorBrightness(37.4f);
    if (sent) {
      EXPECT_FLOAT_EQ(camera->ColorBrightness(), 37) << int(mode);
    } else {
      EXPECT_FALSE(camera->internal_camera()->device_open()) << int(mode);
    }
  }
  ASSERT_EQ(chdir(previous), 0);
}

}  // namespace
}  // namespace vantisol
