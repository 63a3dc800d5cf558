// The frame client against the stand-in program in its own process, through the real channel.

#include "vantisol_client/vantisol_client.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_pattern.h"
#include "test_folder.h"
#include "utils/logging.h"
#include "utils/shared_memory.h"
#include "utils/shared_memory_image.h"
#include "watchdog.h"

namespace vantisol {
namespace {

namespace fs = std::filesystem;
constexpr int64_t kFrame = 33333333;

// Every log message of the process, for the tests that expect a warning.
class LogCapture : public el::LogDispatchCallback {
 public:
  static std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> result;
    result.swap(lines_);
    return result;
  }

 protected:
  void handle(const el::LogDispatchData* data) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(data->logMessage()->message());
  }

 private:
  static std::mutex mutex_;
  static std::vector<std::string> lines_;
};
std::mutex LogCapture::mutex_;
std::vector<std::string> LogCapture::lines_;

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines) {
    if (line == text) return true;
  }
  return false;
}

class VantisolClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    el::Helpers::installLogDispatchCallback<LogCapture>("capture");
    // Kernel objects and log files of this test only.
    fs::create_directory(root_.str() + "/run");
    fs::permissions(root_.str() + "/run", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (root_.str() + "/run").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_.str() + "/data").c_str(), 1);
    // Long enough that a loaded machine still shows the loading picture before the first frame.
    setenv("VANTISOL_STAND_IN_DELAY_MS", "1500", 1);
    fs::create_directory(plugin_);
    LogCapture::Take();
  }
  void TearDown() override {
    for (const std::string& folder : {plugin_, root_.str()}) {
      for (long pid : StartedPids(folder)) kill(static_cast<pid_t>(pid), SIGKILL);
    }
    unsetenv("VANTISOL_STAND_IN_DELAY_MS");
    unsetenv("VANTISOL_STAND_IN_SWITCH_MS");
  }

  void InstallProgram(const std::string& folder) {
    fs::copy_file(VANTISOL_STAND_IN, folder + "/Vantisol", fs::copy_options::overwrite_existing);
  }
  // A program that starts and ends without serving the channel.
  void InstallIdleProgram() {
    std::ofstream(plugin_ + "/Vantisol") << "#!/bin/sh\nexit 0\n";
    fs::permissions(plugin_ + "/Vantisol", fs::perms::owner_all);
  }
  void InstallPicture() {
    fs::copy_file(VANTISOL_LOADING_PICTURE, plugin_ + "/vantisol_loading.png");
  }

  static std::vector<long> StartedPids(const std::string& folder) {
    std::vector<long> pids;
    std::ifstream in(folder + "/vantisol_started.txt");
    for (long pid = 0; in >> pid;) pids.push_back(pid);
    return pids;
  }

  struct Sample {
    std::vector<unsigned char> bytes;
    int64_t start = -1;
    int64_t end = -1;
  };
  static Sample Fill(VirtualCamera* client) {
    const Size size = client->resolution();
    Sample sample;
    sample.bytes.assign(static_cast<size_t>(size.width) * size.height * 3, 0x5A);
    EXPECT_TRUE(client->FillBuffer(sample.bytes.data(), static_cast<long>(sample.bytes.size()),
                                   &sample.start, &sample.end));
    return sample;
  }
  static bool FromProducer(const Sample& sample) {
    return test::FirstPatternMismatch(sample.bytes.data(), sample.bytes.size()) ==
           sample.bytes.size();
  }
  // Samples until the producer's first frame; every one before it is kept in `before`.
  static Sample FirstProducerFrame(VirtualCamera* client, std::vector<Sample>* before = nullptr) {
    for (int i = 0; i < 60; ++i) {
      Sample sample = Fill(client);
      if (FromProducer(sample)) return sample;
      if (before != nullptr) before->push_back(std::move(sample));
    }
    ADD_FAILURE() << "no frame from the stand-in program within 60 samples";
    return {};
  }

  // Until the program has written a frame that the client has not taken.
  static bool WaitForUnreadFrame() {
    SharedMemory header("Vantisol::SharedImageHeader");
    if (!header.Attach()) return false;
    const auto limit = std::chrono::steady_clock::now() + test::kWaitLimit;
    for (; std::chrono::steady_clock::now() < limit;
         std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
      header.Lock();
      const bool unread = static_cast<SharedMemoryImage::Header*>(header.data())->new_frame > 0;
      header.Unlock();
      if (unread) return true;
    }
    return false;
  }

  test::TemporaryFolder root_;
  const std::string plugin_ = root_.str() + "/plugin";
};

// The loading picture as a viewer sees it: the sample is bottom-up blue-green-red, the picture
// 400 x 300 centred, with red, green and blue marks in its top-left, top-right and bottom-left
// corners and a dark bar across its middle on light grey.
void ExpectLoadingPicture(const std::vector<unsigned char>& sample, int W, int H) {
  auto seen = [&](int x, int y) {
    const unsigned char* p = &sample[(static_cast<size_t>(H - 1 - y) * W + x) * 3];
    return std::vector<int>{p[2], p[1], p[0]};  // red, green, blue
  };
  const int left = (W - 400) / 2;
  const int top = (H - 300) / 2;
  EXPECT_EQ(seen(left + 5, top + 5), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(seen(left + 394, top + 5), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(seen(left + 5, top + 294), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(seen(left + 394, top + 294), (std::vector<int>{230, 230, 230}));
  EXPECT_EQ(seen(left + 200, top + 150), (std::vector<int>{64, 64, 64}));
  // The picture's edges, and white just outside them.
  EXPECT_EQ(seen(left, top), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(seen(left + 399, top + 299), (std::vector<int>{230, 230, 230}));
  EXPECT_EQ(seen(left - 1, top), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(seen(left, top - 1), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(seen(left + 400, top + 299), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(seen(left + 399, top + 300), (std::vector<int>{255, 255, 255}));
  size_t white = 0;
  for (unsigned char byte : sample) white += byte == 255;
  // Everything outside the picture is white; the picture's own white is its red/green/blue marks.
  const size_t outside = (static_cast<size_t>(W) * H - 400 * 300) * 3;
  EXPECT_EQ(white, outside + 50 * 50 * 3);
}

class ProgramFolderTest : public VantisolClientTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ProgramFolderTest, LoadingPictureUntilTheStartedProgramsFramesArrive) {
  const bool above = GetParam();
  InstallProgram(above ? root_.str() : plugin_);
  InstallPicture();
  VantisolClient client{path(plugin_)};
  client.set_resolution({1280, 720});
  ASSERT_TRUE(client.StartThread());
  EXPECT_TRUE(Contains(LogCapture::Take(), "Started server process"));

  std::vector<Sample> loading;
  Sample first = FirstProducerFrame(&client, &loading);
  ASSERT_FALSE(loading.empty()) << "the program answered before its delay";
  for (const Sample& sample : loading) ExpectLoadingPicture(sample.bytes, 1280, 720);
  // The rows of the picture in the bottom-up sample: 210 to 509, from byte 440 x 3.
  const auto& bytes = loading.front().bytes;
  EXPECT_EQ(bytes[(209 * 1280 + 640) * 3], 255);
  EXPECT_NE(bytes[(210 * 1280 + 640) * 3], 255);
  EXPECT_NE(bytes[(509 * 1280 + 640) * 3], 255);
  EXPECT_EQ(bytes[(510 * 1280 + 640) * 3], 255);
  EXPECT_EQ(bytes[(300 * 1280) * 3 + 1319], 255);
  EXPECT_NE(bytes[(300 * 1280) * 3 + 1320], 255);

  // Then every sample is the program's newest frame, and the times run on without a gap. Both
  // sides keep 30 frames a second on their own clocks: on a busy machine a sample may repeat the
  // frame before it, but never go back, and the frames move on.
  std::vector<Sample> samples{first};
  for (int i = 0; i < 10; ++i) samples.push_back(Fill(&client));
  for (size_t i = 0; i < samples.size(); ++i) {
    EXPECT_TRUE(FromProducer(samples[i])) << "sample " << i;
    if (i > 0) {
      EXPECT_GE(test::FrameCounter(samples[i].bytes.data()),
                test::FrameCounter(samples[i - 1].bytes.data()))
          << "sample " << i;
    }
  }
  EXPECT_GT(test::FrameCounter(samples.back().bytes.data()),
            test::FrameCounter(samples.front().bytes.data()));
  const int64_t index = static_cast<int64_t>(loading.size());
  EXPECT_EQ(loading.front().start, 0);
  EXPECT_EQ(loading.front().end, kFrame);
  EXPECT_EQ(samples.back().start, (index + 10) * kFrame);
  EXPECT_EQ(samples.back().end, (index + 11) * kFrame);

  EXPECT_EQ(StartedPids(above ? root_.str() : plugin_).size(), 1u);
  EXPECT_TRUE(client.StopThread());
}

INSTANTIATE_TEST_SUITE_P(BesideOrAbove, ProgramFolderTest, ::testing::Bool());

TEST_F(VantisolClientTest, StreamRestartKeepsTheProgramAndRestartsTheTimes) {
  InstallProgram(plugin_);
  VantisolClient client{path(plugin_)};
  client.set_resolution({640, 360});
  for (int stream = 0; stream < 3; ++stream) {
    ASSERT_TRUE(client.StartThread());
    const Sample first = Fill(&client);
    EXPECT_EQ(first.start, 0);
    EXPECT_EQ(first.end, kFrame);
    const Sample frame = FirstProducerFrame(&client);
    EXPECT_EQ(frame.bytes.size(), 640u * 360 * 3);
    EXPECT_TRUE(client.StopThread());
  }
  // The program is still running between streams: started once.
  EXPECT_EQ(StartedPids(plugin_).size(), 1u);
  // Without the loading picture file the first samples were white, with a warning.
  EXPECT_TRUE(Contains(LogCapture::Take(), "Could not load image!"));
}

// Each application asks for another size and leaves the program's last frame unread; the program
// takes a while to serve a new size. Until its first frame at the size, the new client shows the
// loading picture (white here, without the picture's file), never the zeroed block.
TEST_F(VantisolClientTest, NewClientShowsTheLoadingPictureUntilTheProgramsFrameAtItsSize) {
  InstallProgram(plugin_);
  setenv("VANTISOL_STAND_IN_SWITCH_MS", "1000", 1);
  for (const Size size : {Size{640, 360}, Size{960, 540}, Size{640, 360}}) {
    SCOPED_TRACE(size);
    VantisolClient client{path(plugin_)};
    client.set_resolution(size);
    ASSERT_TRUE(client.StartThread());
    std::vector<Sample> before;
    const Sample frame = FirstProducerFrame(&client, &before);
    EXPECT_EQ(frame.bytes.size(), size_t(size.width) * size.height * 3);
    for (const Sample& sample : before) {
      EXPECT_TRUE(std::all_of(sample.bytes.begin(), sample.bytes.end(),
                              [](unsigned char byte) { return byte == 255; }))
          << "sample " << sample.start / kFrame << " is not the loading picture";
    }
    ASSERT_TRUE(WaitForUnreadFrame());
    EXPECT_TRUE(client.StopThread());
  }
}

TEST_F(VantisolClientTest, RepeatsTheLastFrameAfterTheProgramEnds) {
  InstallProgram(plugin_);
  VantisolClient client{path(plugin_)};
  client.set_resolution({960, 540});
  ASSERT_TRUE(client.StartThread());
  FirstProducerFrame(&client);
  const std::vector<long> pids = StartedPids(plugin_);
  ASSERT_EQ(pids.size(), 1u);
  ASSERT_EQ(kill(static_cast<pid_t>(pids[0]), SIGKILL), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  LogCapture::Take();

  const Sample last = Fill(&client);
  EXPECT_TRUE(test::FromKilledProducer(last.bytes.data(), last.bytes.size()))
      << "frame " << test::FrameCounter(last.bytes.data()) << ", first mismatch at byte "
      << test::FirstPatternMismatch(last.bytes.data(), last.bytes.size()) << " of "
      << last.bytes.size();
  for (int i = 0; i < 2; ++i) {
    const Sample again = Fill(&client);
    EXPECT_EQ(again.bytes, last.bytes);
  }
  EXPECT_TRUE(
      Contains(LogCapture::Take(), "Didn't manage to get data, even though client was running..."));
  EXPECT_TRUE(client.StopThread());
}

TEST_F(VantisolClientTest, SecondClientIsRefusedWhileTheFirstGoesOn) {
  InstallProgram(plugin_);
  VantisolClient first{path(plugin_)};
  ASSERT_TRUE(first.StartThread());
  const uint64_t before = test::FrameCounter(FirstProducerFrame(&first).bytes.data());

  VantisolClient second{path(plugin_)};
  LogCapture::Take();
  EXPECT_FALSE(second.StartThread());
  EXPECT_TRUE(
      Contains(LogCapture::Take(), "Could not create shared memory: Already a client running!"));
  EXPECT_TRUE(second.StopThread());

  const Sample later = Fill(&first);
  EXPECT_TRUE(FromProducer(later));
  EXPECT_GT(test::FrameCounter(later.bytes.data()), before);
  EXPECT_TRUE(first.StopThread());
  // The channel is free again.
  EXPECT_TRUE(second.StartThread());
  EXPECT_TRUE(second.StopThread());
}

TEST_F(VantisolClientTest, MissingProgramFailsTheStartAndFreesTheChannelOnStop) {
  VantisolClient client{path(plugin_)};
  EXPECT_FALSE(client.StartThread());
  EXPECT_TRUE(Contains(LogCapture::Take(), "Could not launch new server process"));
  EXPECT_TRUE(client.StopThread());
  InstallProgram(plugin_);
  EXPECT_TRUE(client.StartThread());
  EXPECT_TRUE(client.StopThread());
}

TEST_F(VantisolClientTest, NeverWritesOrReadsPastTheSample) {
  InstallIdleProgram();
  InstallPicture();
  VantisolClient client{path(plugin_)};
  // Smaller than the loading picture: it is clipped, centred.
  client.set_resolution({320, 240});
  ASSERT_TRUE(client.StartThread());
  const size_t bytes = 320 * 240 * 3;
  std::vector<unsigned char> guarded(bytes + 4096, 0x5A);
  int64_t start = 0;
  int64_t end = 0;
  EXPECT_TRUE(client.FillBuffer(guarded.data(), static_cast<long>(bytes), &start, &end));
  for (size_t i = bytes; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0x5A) << i;
  // Seen top-down: picture column 40 + x, row 30 + y lands at (x, y); the top-left red mark ends
  // at picture column 49 / row 49.
  auto seen_red = [&](int x, int y) { return guarded[((239 - y) * 320 + x) * 3 + 2]; };
  auto seen_blue = [&](int x, int y) { return guarded[((239 - y) * 320 + x) * 3]; };
  EXPECT_EQ(seen_red(0, 0), 255);
  EXPECT_EQ(seen_blue(0, 0), 0);
  EXPECT_EQ(seen_red(9, 19), 255);
  EXPECT_EQ(seen_red(10, 19), 230);
  EXPECT_EQ(seen_red(9, 20), 230);
  EXPECT_EQ(seen_blue(0, 239), 255);
  EXPECT_EQ(seen_red(0, 239), 0);
  EXPECT_EQ(seen_red(0, 120), 230);

  // A sample shorter than the size asked for.
  std::vector<unsigned char> short_sample(bytes / 2 + 4096, 0x5A);
  EXPECT_TRUE(client.FillBuffer(short_sample.data(), static_cast<long>(bytes / 2), &start, &end));
  for (size_t i = bytes / 2; i < short_sample.size(); ++i) ASSERT_EQ(short_sample[i], 0x5A) << i;
  EXPECT_TRUE(client.StopThread());
}

// The program's side played by the test itself: a header whose size has no data block (a
// negative width) leaves nothing to copy, and the sample shows the loading picture instead of the
// bytes its buffer held, before and after the first frame.
TEST_F(VantisolClientTest, UnmappableDataShowsTheLoadingPictureNotTheOldBuffer) {
  InstallPicture();
  SharedMemoryImage server(false);
  VantisolClient client{path(plugin_)};
  client.set_resolution({1280, 720});
  ASSERT_TRUE(client.StartThread());
  EXPECT_FALSE(Contains(LogCapture::Take(), "Started server process"));
  auto publish = [&](int width, unsigned char value) {
    SharedMemoryImage::LockedImage image = server.Lock();
    image.header()->width = width;
    if (width > 0) {
      void* data = image.data();
      ASSERT_NE(data, nullptr);
      std::memset(data, value, image.Bytes());
    }
    image.set_new_frame(true);
  };
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "before the first frame" : "after a frame");
    publish(-1, 0);
    ExpectLoadingPicture(Fill(&client).bytes, 1280, 720);
    // Still unreadable, nothing new: the repeat shows the loading picture too.
    ExpectLoadingPicture(Fill(&client).bytes, 1280, 720);
    publish(1280, 0x11);
    EXPECT_EQ(Fill(&client).bytes, std::vector<unsigned char>(1280 * 720 * 3, 0x11));
  }
  EXPECT_TRUE(client.StopThread());
}

TEST_F(VantisolClientTest, SampleLargerThanTheProgramsFrameTakesOnlyTheFrame) {
  InstallProgram(plugin_);
  VantisolClient client{path(plugin_)};
  ASSERT_TRUE(client.StartThread());
  FirstProducerFrame(&client);
  const size_t bytes = 640 * 480 * 3;
  std::vector<unsigned char> larger(bytes + 4096, 0x5A);
  int64_t start = 0;
  int64_t end = 0;
  EXPECT_TRUE(client.FillBuffer(larger.data(), static_cast<long>(larger.size()), &start, &end));
  EXPECT_EQ(test::FirstPatternMismatch(larger.data(), bytes), bytes);
  for (size_t i = bytes; i < larger.size(); ++i) ASSERT_EQ(larger[i], 0x5A) << i;
  EXPECT_TRUE(client.StopThread());
}

}  // namespace
}  // namespace vantisol
