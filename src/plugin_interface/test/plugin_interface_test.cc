// The frame writer against a real client process: the block holds the output as bottom-up BGR,
// the flag follows the sizes, and the writer reports every change of the requested size once.
#include "plugin_interface/plugin_interface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "child_process.h"
#include "gl_test.h"
#include "opengl/locked_texture.h"
#include "test_folder.h"

namespace vantisol {
namespace {

using test::ChildProcess;

class PluginInterfaceTest : public testing::Test {
 protected:
  // Each test has its own kernel-object folder, shared with the client processes it starts.
  void SetUp() override { setenv("XDG_RUNTIME_DIR", runtime_.str().c_str(), 1); }

  std::unique_ptr<PluginInterface> MakeWriter() {
    auto writer = std::make_unique<PluginInterface>();
    QObject::connect(writer.get(), &PluginInterface::SizeChanged,
                     [this](QSize size) { signals_.push_back(size); });
    return writer;
  }

  static std::unique_ptr<ChildProcess> StartClient(int width, int height) {
    auto client = std::make_unique<ChildProcess>(std::vector<std::string>{
        VANTISOL_CLIENT_PROBE, std::to_string(width), std::to_string(height)});
    EXPECT_TRUE(client->WaitFor("ready")) << client->output();
    return client;
  }

  // A random kRGB output picture.
  std::shared_ptr<LockedTexture> Output(Size size, unsigned seed = 1) {
    picture_ = test::RandomImage(size, Image::Format::kRGB, seed);
    auto output = std::make_shared<LockedTexture>(Image::Format::kRGB);
    output->Lock()->Assign(picture_);
    return output;
  }

  // Block row i is picture row height - 1 - i, each pixel's red and blue swapped.
  std::string ExpectedBlock() const {
    const int w = picture_.size.width, h = picture_.size.height;
    std::string block(size_t(w) * h * 3, '\0');
    const uint8_t* rgb = picture_.data.get();
    for (int i = 0; i < h; ++i)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          block[(size_t(i) * w + x) * 3 + c] = char(rgb[(size_t(h - 1 - i) * w + x) * 3 + 2 - c]);
    return block;
  }

  // Asks the client for the block; returns whether the new-frame flag was set, and the bytes.
  bool Read(ChildProcess& client, std::string* bytes = nullptr) {
    const std::string file = runtime_.str() + "/frame.bin";
    std::filesystem::remove(file);
    client.Send("read " + file);
    const std::string flag = client.ReadLine();
    EXPECT_TRUE(client.WaitFor("ok")) << client.output();
    if (bytes != nullptr) {
      std::ifstream in(file, std::ios::binary);
      bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return flag == "flag 1";
  }

  void Ask(ChildProcess& client, int width, int height) {
    client.Send("size " + std::to_string(width) + " " + std::to_string(height));
    EXPECT_TRUE(client.WaitFor("ok")) << client.output();
  }

  // Names of the kernel objects that exist now.
  std::vector<std::string> Objects() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(runtime_.str() + "/vantisol"))
      names.push_back(entry.path().filename().string());
    return names;
  }

  test::TemporaryFolder runtime_;
  Image picture_;
  std::vector<QSize> signals_;
  LatencyCalculator latency_;
};

TEST_F(PluginInterfaceTest, WithoutAClientNothingIsWrittenAndNoDataBlockExists) {
  auto writer = MakeWriter();
  auto output = Output({640, 480});
  for (int frame = 0; frame < 3; ++frame) writer->Process(output, latency_);
  EXPECT_EQ(writer->requested_size(), (Size{-1, -1}));
  EXPECT_TRUE(signals_.empty());
  for (const std::string& name : Objects()) EXPECT_EQ(name.find("Data"), std::string::npos) << name;
}

TEST_F(PluginInterfaceTest, TheBlockHoldsTheOutputAsBottomUpBgr) {
  auto client = StartClient(640, 480);
  auto writer = MakeWriter();
  // The client was there first: its size is known at once, without a signal.
  EXPECT_EQ(writer->requested_size(), (Size{640, 480}));
  auto output = Output({640, 480}, 7);
  writer->Process(output, latency_);
  std::string block;
  ASSERT_TRUE(Read(*client, &block));
  EXPECT_TRUE(block == ExpectedBlock()) << "the block differs from the flipped BGR picture";
  // Every frame of the right size sets the flag again, with the new picture.
  EXPECT_FALSE(Read(*client));
  output = Output({640, 480}, 8);
  writer->Process(output, latency_);
  ASSERT_TRUE(Read(*client, &block));
  EXPECT_TRUE(block == ExpectedBlock());
  EXPECT_TRUE(signals_.empty());
}

TEST_F(PluginInterfaceTest, TheFlagIsSetOnlyWhenTheSizesMatch) {
  auto writer = MakeWriter();
  auto client = StartClient(1280, 720);
  auto small = Output({640, 480});
  for (int frame = 0; frame < 3; ++frame) writer->Process(small, latency_);
  EXPECT_FALSE(Read(*client));
  ASSERT_EQ(signals_.size(), 1u);  // reported once, not per frame
  EXPECT_EQ(signals_[0], QSize(1280, 720));
  EXPECT_EQ(writer->requested_size(), (Size{1280, 720}));

  // One column short of the request: still no frame.
  auto narrow = Output({1279, 720});
  writer->Process(narrow, latency_);
  EXPECT_FALSE(Read(*client));
  auto exact = Output({1280, 720}, 3);
  writer->Process(exact, latency_);
  std::string block;
  ASSERT_TRUE(Read(*client, &block));
  EXPECT_TRUE(block == ExpectedBlock());
  EXPECT_EQ(signals_.size(), 1u);
}

TEST_F(PluginInterfaceTest, ReportsEachSizeChangeOnceAndTheClientLeaving) {
  auto writer = MakeWriter();
  auto output = Output({320, 240});
  auto client = StartClient(640, 480);
  writer->Process(output, latency_);
  Ask(*client, 320, 240);
  writer->Process(output, latency_);
  writer->Process(output, latency_);
  EXPECT_TRUE(Read(*client));
  EXPECT_EQ(client->Finish(), 0);
  writer->Process(output, latency_);
  writer->Process(output, latency_);
  EXPECT_EQ(signals_, (std::vector<QSize>{{640, 480}, {320, 240}, {-1, -1}}));
  EXPECT_EQ(writer->requested_size(), (Size{-1, -1}));

  // A new client is picked up by the next frame.
  auto next = StartClient(320, 240);
  writer->Process(output, latency_);
  EXPECT_TRUE(Read(*next));
  ASSERT_FALSE(signals_.empty());
  EXPECT_EQ(signals_.back(), QSize(320, 240));
}

TEST_F(PluginInterfaceTest, ABlockThatCannotBeMappedIsNeverWrittenAndTheFlagStaysClear) {
  // A folder where the 640 × 480 block's file would go: neither side can create the block.
  // The object folder must stay private to its user, as the channel made it.
  const std::string folder = runtime_.str() + "/vantisol";
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
  std::filesystem::create_directory(folder + "/map.Vantisol%3A%3AData%20921600");
  auto client = StartClient(640, 480);
  auto writer = MakeWriter();
  auto output = Output({640, 480});
  test::LogCapture log;
  writer->Process(output, latency_);
  writer->Process(output, latency_);
  EXPECT_FALSE(Read(*client));
  EXPECT_EQ(log.Count("WARNING Could not map the frame data for 640x480"), 1);
  // Once the block can be made, frames flow again.
  std::filesystem::remove(folder + "/map.Vantisol%3A%3AData%20921600");
  writer->Process(output, latency_);
  std::string block;
  ASSERT_TRUE(Read(*client, &block));
  EXPECT_TRUE(block == ExpectedBlock());
}

TEST_F(PluginInterfaceTest, AnotherThreadReadsConsistentSizesWhileFramesArePublished) {
  auto writer = MakeWriter();
  auto output = Output({320, 240});
  auto client = StartClient(640, 480);
  std::atomic<bool> done{false};
  std::vector<Size> seen;
  std::thread reader([&] {
    while (!done) {
      const Size size = writer->requested_size();
      if (seen.empty() || seen.back() != size) seen.push_back(size);
    }
  });
  for (int round = 0; round < 20; ++round) {
    Ask(*client, round % 2 ? 640 : 320, round % 2 ? 480 : 240);
    writer->Process(output, latency_);
  }
  done = true;
  reader.join();
  for (const Size& size : seen) {
    EXPECT_TRUE(size == (Size{-1, -1}) || size == (Size{320, 240}) || size == (Size{640, 480}))
        << size;
  }
  EXPECT_EQ(signals_.size(), 20u);  // the client asked for another size before every frame
}

}  // namespace
}  // namespace vantisol
