#include "utils/shared_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "child_process.h"
#include "test_folder.h"
#include "utils/logging.h"
#include "utils/shared_memory_image.h"
#include "utils/single_instance_application.h"
#include "watchdog.h"

namespace vantisol {
namespace {

using test::ChildProcess;

size_t Count(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

constexpr char kHeaderKey[] = "Vantisol::SharedImageHeader";

// Log lines of this process as "LEVEL message" on standard output, captured.
class LogCapture {
 public:
  LogCapture() {
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::Format, "%level %msg");
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "true");
    testing::internal::CaptureStdout();
  }
  std::string Text() {
    el::Loggers::flushAll();
    std::string text = testing::internal::GetCapturedStdout();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
  }
};

// Every test gets its own object namespace, shared with the children it starts.
class ChannelTest : public testing::Test {
 protected:
  void SetUp() override {
#if !defined(_WIN32)
    setenv("XDG_RUNTIME_DIR", runtime_.str().c_str(), 1);
#endif
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
  }

  static std::vector<std::string> Probe(std::vector<std::string> arguments) {
#if defined(_WIN32)
    char self[MAX_PATH];
    std::string folder(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    folder.erase(folder.find_last_of('\\') + 1);
    arguments.insert(arguments.begin(), folder + VANTISOL_CHANNEL_PROBE);
#else
    arguments.insert(arguments.begin(), VANTISOL_CHANNEL_PROBE);
#endif
    return arguments;
  }

  static bool BlockExists(const std::string& key) {
    SharedMemory block(key);
    return block.Attach();
  }

  std::string ObjectFile(const std::string& escaped_name) const {
    return runtime_.str() + "/vantisol/map." + escaped_name;
  }

  // The raw 12 header bytes, read under the header lock by a plain observer.
  std::string HeaderBytes() {
    SharedMemory header(kHeaderKey);
    if (!header.Attach()) return {};
    header.Lock();
    std::string bytes(static_cast<const char*>(header.data()), 12);
    header.Unlock();
    return bytes;
  }

  test::TemporaryFolder runtime_;
};

TEST_F(ChannelTest, FirstSideCreatesZeroHeaderAndSecondSideSeesIt) {
  ChildProcess server(Probe({"server"}));
  ASSERT_TRUE(server.WaitFor("ready")) << server.output();
  EXPECT_EQ(HeaderBytes(), std::string("\0\0\0\0\0\0\0\0\0\1\0\0", 12));

  SharedMemoryImage client(true);
  {
    auto image = client.Lock();
    EXPECT_TRUE(image.server_registered());
    EXPECT_TRUE(image.client_registered());
    EXPECT_FALSE(image.new_frame());
  }
  // Destroying a side clears only its own byte.
  EXPECT_EQ(server.Finish(), 0);
  auto image = client.Lock();
  EXPECT_FALSE(image.server_registered());
  EXPECT_TRUE(image.client_registered());
}

TEST_F(ChannelTest, SecondServerIsRefusedEvenWhenTheHeaderShowsNone) {
  ChildProcess first(Probe({"server"}));
  ASSERT_TRUE(first.WaitFor("ready")) << first.output();
  SharedMemoryImage client(true);
  client.Lock().header()->server_registered = 0;

  ChildProcess second(Probe({"server"}));
  EXPECT_EQ(second.Finish(), 1);
  EXPECT_NE(second.output().find("ERROR Already a server running!\n"), std::string::npos);
  EXPECT_NE(second.output().find("error: Already a server running!\n"), std::string::npos);
  EXPECT_FALSE(client.Lock().server_registered());
}

TEST_F(ChannelTest, SecondClientIsRefusedAndLeavesTheHeader) {
  SharedMemoryImage client(true);
  client.Lock().SetSize(640, 480);
  ChildProcess second(Probe({"client", "320", "240"}));
  EXPECT_EQ(second.Finish(), 1);
  EXPECT_NE(second.output().find("ERROR Already a client running!\n"), std::string::npos);
  auto image = client.Lock();
  EXPECT_TRUE(image.client_registered());
  EXPECT_EQ(image.width(), 640);
  EXPECT_EQ(image.height(), 480);
  EXPECT_THROW(SharedMemoryImage(true), std::runtime_error);
}

TEST_F(ChannelTest, KilledServerIsTakenOverWithAWarning) {
  SharedMemoryImage client(true);
  ChildProcess crashed(Probe({"server"}));
  ASSERT_TRUE(crashed.WaitFor("ready")) << crashed.output();
  crashed.Kill();
  EXPECT_TRUE(client.Lock().server_registered());

  ChildProcess next(Probe({"server"}));
  ASSERT_TRUE(next.WaitFor("ready")) << next.output();
  EXPECT_NE(next.output().find("WARNING Server seems to have crashed before...\n"),
            std::string::npos);
  EXPECT_TRUE(client.Lock().server_registered());
  EXPECT_EQ(next.Finish(), 0);
  EXPECT_FALSE(client.Lock().server_registered());
}

// Whether a new client may register, and whether the server serves one, depends on a live holder
// of the client's claim, not on the byte alone. A live server keeps the header, and with it the
// byte, across the first client's end.
TEST_F(ChannelTest, ClientIsRefusedOnlyWhileAnotherLiveClientHoldsTheChannel) {
  enum class End { kNone, kClearedByte, kKilled, kFinished };
  struct Case {
    const char* name;
    End first_client;
    const char* server_sees;  // the server's answer when it looks first; null: it does not look
    bool refused;
    bool warning;
  };
  const Case cases[] = {
      {"live", End::kNone, "client 1", true, false},
      {"live with its byte cleared", End::kClearedByte, nullptr, true, false},
      {"killed", End::kKilled, nullptr, false, true},
      // The server drops the dead client's byte: the next client finds the channel free.
      {"killed, seen by the server", End::kKilled, "client 0", false, false},
      {"ended", End::kFinished, "client 0", false, false},
  };
  ChildProcess server(Probe({"server"}));
  ASSERT_TRUE(server.WaitFor("ready")) << server.output();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChildProcess first(Probe({"client", "64", "48"}));
    ASSERT_TRUE(first.WaitFor("ready")) << first.output();
    if (c.first_client == End::kClearedByte) {
      SharedMemory header(kHeaderKey);
      ASSERT_TRUE(header.Attach());
      header.Lock();
      static_cast<SharedMemoryImage::Header*>(header.data())->client_registered = 0;
      header.Unlock();
    } else if (c.first_client == End::kKilled) {
      first.Kill();
    } else if (c.first_client == End::kFinished) {
      EXPECT_EQ(first.Finish(), 0);
    }
    const std::string before = HeaderBytes();
    if (c.server_sees != nullptr) {
      server.Send("client");
      std::string answer = server.ReadLine();
      // Dropping a dead client's byte is logged first.
      if (answer == "WARNING Client seems to have crashed before...") answer = server.ReadLine();
      EXPECT_EQ(answer, c.server_sees) << server.output();
    }
    LogCapture log;
    std::unique_ptr<SharedMemoryImage> client;
    try {
      client = std::make_unique<SharedMemoryImage>(true);
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "Already a client running!");
    }
    const std::string text = log.Text();
    EXPECT_EQ(client == nullptr, c.refused) << text;
    EXPECT_EQ(Count(text, "ERROR Already a client running!\n"), c.refused ? 1u : 0u) << text;
    EXPECT_EQ(Count(text, "WARNING Client seems to have crashed before...\n"), c.warning ? 1u : 0u)
        << text;
    if (c.refused) {
      EXPECT_EQ(HeaderBytes(), before);
    } else if (client != nullptr) {
      EXPECT_TRUE(client->Lock().client_registered());
      // The new client holds the channel now, against other processes too.
      ChildProcess second(Probe({"client", "32", "24"}));
      EXPECT_EQ(second.Finish(), 1);
      EXPECT_NE(second.output().find("ERROR Already a client running!\n"), std::string::npos)
          << second.output();
    }
    client.reset();
    if (c.first_client != End::kKilled) first.Finish();
  }
  EXPECT_EQ(server.Finish(), 0);
}

// A client that sets its byte again after each drop but never takes the claim (here this process)
// is dropped at every frame of the server, with one warning for it until a claimed client is seen.
TEST_F(ChannelTest, ClientWithoutTheClaimIsDroppedAtEveryFrameWithOneWarning) {
  const std::string warning = "WARNING Client seems to have crashed before...\n";
  ChildProcess server(Probe({"server"}));
  ASSERT_TRUE(server.WaitFor("ready")) << server.output();
  SharedMemory header(kHeaderKey);
  ASSERT_TRUE(header.Attach());
  for (const size_t warnings : {1u, 2u}) {
    for (int frame = 0; frame < 30; ++frame) {
      header.Lock();
      static_cast<SharedMemoryImage::Header*>(header.data())->client_registered = 1;
      header.Unlock();
      server.Send("client");
      ASSERT_TRUE(server.WaitFor("client 0")) << server.output();
    }
    EXPECT_EQ(Count(server.output(), warning), warnings) << server.output();
    ChildProcess claimed(Probe({"client", "64", "48"}));
    ASSERT_TRUE(claimed.WaitFor("ready")) << claimed.output();
    server.Send("client");
    ASSERT_TRUE(server.WaitFor("client 1")) << server.output();
    EXPECT_EQ(claimed.Finish(), 0);
  }
  EXPECT_EQ(server.Finish(), 0);
}

// A claimless client dropped again is news only after a claimed client or after its byte stayed
// clear for 5 s since it was last set.
TEST(UnclaimedClientLogTest, SameClientUntilAClaimedOneOrFiveSecondsClear) {
  using Byte = SharedMemoryImage::UnclaimedClientLog::Byte;
  struct Step {
    int clear_ms;  // how long the server sees the byte clear before it sees `then`
    Byte then;
    bool warn;
  };
  const Step steps[] = {
      {0, Byte::kUnclaimed, true},
      {0, Byte::kUnclaimed, false},     // set again at once: the same client
      {4999, Byte::kUnclaimed, false},  // back within 5 s: the same client
      {4999, Byte::kUnclaimed, false},  // clear 10 s in all, but never 5 s at a stretch
      {5000, Byte::kUnclaimed, true},   // after 5 s clear: another one
      {0, Byte::kClaimed, false},
      {0, Byte::kUnclaimed, true},  // after a claimed client: another one
  };
  SharedMemoryImage::UnclaimedClientLog log;
  std::chrono::steady_clock::time_point now;
  for (size_t i = 0; i < std::size(steps); ++i) {
    log.Seen(Byte::kClear, now);
    now += std::chrono::milliseconds(steps[i].clear_ms);
    EXPECT_FALSE(log.Seen(Byte::kClear, now));
    EXPECT_EQ(log.Seen(steps[i].then, now), steps[i].warn) << "step " << i;
  }
}

// The virtual camera makes and drops a client at every stream start and stop in one host process:
// the claim must end with the object, and a second graph of the same application must be refused.
TEST_F(ChannelTest, ClientClaimEndsWithTheObjectNotWithTheProcess) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    {
      SharedMemoryImage client(true);
      client.Lock().header()->client_registered = 0;
      EXPECT_THROW(SharedMemoryImage(true), std::runtime_error);
      client.Lock().header()->client_registered = 1;
      ChildProcess refused(Probe({"client", "32", "24"}));
      EXPECT_EQ(refused.Finish(), 1) << refused.output();
    }
    ChildProcess accepted(Probe({"client", "32", "24"}));
    EXPECT_TRUE(accepted.WaitFor("ready")) << accepted.output();
    EXPECT_EQ(accepted.Finish(), 0);
  }
}

// A video application that hung and was ended while streaming: the next one takes the channel
// over and gets the program's frames.
TEST_F(ChannelTest, ClientEndedWhileStreamingIsTakenOverAndTheNextOneGetsFrames) {
  ChildProcess server(Probe({"server"}));
  ASSERT_TRUE(server.WaitFor("ready")) << server.output();
  server.Send("stream 90");
  ChildProcess crashed(Probe({"client", "64", "48"}));
  ASSERT_TRUE(crashed.WaitFor("ready")) << crashed.output();
  crashed.Send("stream");
  ASSERT_TRUE(crashed.WaitFor("streaming 90")) << crashed.output();
  crashed.Kill();

  LogCapture log;
  std::unique_ptr<SharedMemoryImage> client;
  ASSERT_NO_THROW(client = std::make_unique<SharedMemoryImage>(true)) << log.Text();
  {
    // A frame flagged before the size was written again is zeroed by it: wait for a fresh one.
    auto image = client->Lock();
    image.SetSize(64, 48);
    image.set_new_frame(false);
  }
  std::vector<unsigned char> frame;
  const auto deadline = std::chrono::steady_clock::now() + test::kWaitLimit;
  while (frame.empty() && std::chrono::steady_clock::now() < deadline) {
    {
      auto image = client->Lock();
      const auto* bytes = static_cast<const unsigned char*>(image.data());
      if (image.new_frame() && bytes != nullptr) {
        frame.assign(bytes, bytes + image.Bytes());
        image.set_new_frame(false);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const std::string text = log.Text();
  EXPECT_EQ(Count(text, "WARNING Client seems to have crashed before...\n"), 1u) << text;
  ASSERT_EQ(frame.size(), 64u * 48u * 3u)
      << "no frame from the streaming server for the new client";
  EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](unsigned char b) { return b == 90; }));
  client.reset();
  EXPECT_EQ(server.Finish(), 0);
}

// Two sides that open the channel at the same moment, round after round, each time on a channel
// that neither has yet: whichever creates the header, neither registration is lost.
TEST_F(ChannelTest, SidesOpeningTogetherBothStayRegistered) {
#if defined(_WIN32)
  constexpr int kRounds = 200;
#else
  constexpr int kRounds = 500;
#endif
  ChildProcess client(Probe({"rounds", "client"}));
  ChildProcess server(Probe({"rounds", "server"}));
  for (int round = 0; round < kRounds; ++round) {
    ASSERT_TRUE(client.WaitFor("waiting")) << "round " << round << ": " << client.output();
    ASSERT_TRUE(server.WaitFor("waiting")) << "round " << round << ": " << server.output();
    // Either side first.
    ChildProcess* order[] = {&client, &server};
    if (round % 2 == 1) std::swap(order[0], order[1]);
    order[0]->Send("go");
    order[1]->Send("go");
    ASSERT_TRUE(client.WaitFor("ready")) << "round " << round << ": " << client.output();
    ASSERT_TRUE(server.WaitFor("ready")) << "round " << round << ": " << server.output();
    const std::string header = HeaderBytes();
    ASSERT_EQ(header.size(), 12u) << "round " << round;
    ASSERT_EQ(header.substr(8), std::string("\1\1\0\0", 4)) << "round " << round;
    client.Send("end");
    server.Send("end");
    ASSERT_TRUE(client.WaitFor("ended")) << "round " << round << ": " << client.output();
    ASSERT_TRUE(server.WaitFor("ended")) << "round " << round << ": " << server.output();
    ASSERT_FALSE(BlockExists(kHeaderKey)) << "round " << round;
  }
  EXPECT_EQ(client.Finish(), 0);
  EXPECT_EQ(server.Finish(), 0);
}

TEST_F(ChannelTest, ChannelLeftByAKilledLastHolderStartsAfresh) {
  ChildProcess crashed(Probe({"client", "64", "48"}));
  ASSERT_TRUE(crashed.WaitFor("ready")) << crashed.output();
  crashed.Kill();
  SharedMemoryImage client(true);
  auto image = client.Lock();
  EXPECT_EQ(image.width(), 0);
  EXPECT_FALSE(image.server_registered());
}

TEST_F(ChannelTest, KilledMutexHolderGivesAnAbandonedWaitNotAHang) {
  SharedMemory block("Vantisol::Probe");
  ASSERT_TRUE(block.Lock());
  block.Unlock();
  ChildProcess holder(Probe({"hold", "Vantisol::Probe"}));
  ASSERT_TRUE(holder.WaitFor("ready")) << holder.output();
  holder.Kill();

  LogCapture log;
  EXPECT_TRUE(block.Lock());
  block.Unlock();
  EXPECT_TRUE(block.Lock());
  block.Unlock();
  EXPECT_EQ(log.Text(),
            "FATAL Check failed: [WaitForSingleObject(data_->mutex, 0xFFFFFFFF) == ((((DWORD "
            ")0x00000000L) ) + 0 )] \n");
}

TEST_F(ChannelTest, ClientSizeCreatesTheDataBlockThatTheServerFills) {
  SharedMemoryImage client(true);
  {
    auto image = client.Lock();
    image.SetSize(1280, 720);
    EXPECT_EQ(image.Bytes(), 2764800u);
    auto* bytes = static_cast<unsigned char*>(image.data());
    ASSERT_NE(bytes, nullptr);
    EXPECT_TRUE(std::all_of(bytes, bytes + 2764800, [](unsigned char b) { return b == 0; }));
    std::memset(bytes, 0x11, 2764800);
  }
  EXPECT_TRUE(BlockExists("Vantisol::Data 2764800"));

  ChildProcess server(Probe({"server"}));
  ASSERT_TRUE(server.WaitFor("ready")) << server.output();
  server.Send("frame 77");
  ASSERT_TRUE(server.WaitFor("wrote 2764800")) << server.output();
  auto image = client.Lock();
  EXPECT_TRUE(image.new_frame());
  auto* bytes = static_cast<unsigned char*>(image.data());
  ASSERT_NE(bytes, nullptr);
  EXPECT_TRUE(std::all_of(bytes, bytes + 2764800, [](unsigned char b) { return b == 77; }));
  image.set_new_frame(false);
}

TEST_F(ChannelTest, OldDataBlockGoesOnceNeitherSideHoldsIt) {
  SharedMemoryImage client(true);
  client.Lock().SetSize(640, 480);
  ChildProcess server(Probe({"server"}));
  ASSERT_TRUE(server.WaitFor("ready")) << server.output();
  server.Send("frame 5");
  ASSERT_TRUE(server.WaitFor("wrote 921600")) << server.output();

  client.Lock().SetSize(320, 240);
  // The server still holds the old size's block until its next frame.
  EXPECT_TRUE(BlockExists("Vantisol::Data 921600"));
  server.Send("frame 9");
  ASSERT_TRUE(server.WaitFor("wrote 230400")) << server.output();
  EXPECT_FALSE(BlockExists("Vantisol::Data 921600"));
#if !defined(_WIN32)
  EXPECT_FALSE(std::filesystem::exists(ObjectFile("Vantisol%3A%3AData%20921600")));
#endif
  auto image = client.Lock();
  const auto* bytes = static_cast<const unsigned char*>(image.data());
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[0], 9);
  EXPECT_EQ(bytes[230399], 9);
}

// A peer holds the block of a size's name at 12 bytes, more than a page short: the client's
// zero-fill would run past its end into whatever is mapped next.
TEST_F(ChannelTest, DataBlockShorterThanItsNameIsRefusedNotWrittenPast) {
  ChildProcess planter(Probe({"plant", "Vantisol::Data 30000", "12"}));
  ASSERT_TRUE(planter.WaitFor("ready")) << planter.output();
  SharedMemoryImage client(true);
  LogCapture log;
  for (int frame = 0; frame < 3; ++frame) {
    auto image = client.Lock();
    image.SetSize(100, 100);
    EXPECT_EQ(image.data(), nullptr);
  }
  const std::string text = log.Text();
  EXPECT_EQ(Count(text, "fewer than the 30000 it needs: refused\n"), 1u) << text;
  const std::string header = HeaderBytes();
  ASSERT_EQ(header.size(), 12u);
  int32_t size[2];
  std::memcpy(size, header.data(), 8);
  EXPECT_EQ(size[0], 100);
  EXPECT_EQ(size[1], 100);
  // Another size, with no planted block, works at once.
  auto image = client.Lock();
  image.SetSize(10, 10);
  EXPECT_NE(image.data(), nullptr);
  EXPECT_EQ(planter.Finish(), 0);
}

#if !defined(_WIN32)
// A block bigger than a side may make (RLIMIT_FSIZE, as a full disk would give it) fails on every
// frame; its log line comes once per change of condition, on both sides.
TEST_F(ChannelTest, BlockThatCannotBeMadeIsLoggedOncePerChangeOfCondition) {
  const std::string line = "Could not create file mapping with size 120000: File too large\n";
  ChildProcess client(Probe({"fsize", "100000", "client", "200", "200"}));
  ASSERT_TRUE(client.WaitFor("ready")) << client.output();
  ChildProcess server(Probe({"fsize", "100000", "server"}));
  ASSERT_TRUE(server.WaitFor("ready")) << server.output();
  for (int frame = 0; frame < 3; ++frame) {
    server.Send("frame 1");
    ASSERT_TRUE(server.WaitFor("no block for 120000")) << server.output();
  }
  client.Send("size 200 200");
  ASSERT_TRUE(client.WaitFor("no block for 120000")) << client.output();
  EXPECT_EQ(Count(client.output(), line), 1u) << client.output();
  EXPECT_EQ(Count(server.output(), line), 1u) << server.output();

  // Below the limit it works, and the next failure is news again.
  client.Send("size 10 10");
  ASSERT_TRUE(client.WaitFor("sized 300")) << client.output();
  server.Send("frame 2");
  ASSERT_TRUE(server.WaitFor("wrote 300")) << server.output();
  client.Send("size 200 200");
  ASSERT_TRUE(client.WaitFor("no block for 120000")) << client.output();
  server.Send("frame 3");
  ASSERT_TRUE(server.WaitFor("no block for 120000")) << server.output();
  EXPECT_EQ(Count(client.output(), line), 2u) << client.output();
  EXPECT_EQ(Count(server.output(), line), 2u) << server.output();
  EXPECT_EQ(server.Finish(), 0);
  EXPECT_EQ(client.Finish(), 0);
}

TEST_F(ChannelTest, LastHolderRemovesTheBlocks) {
  {
    SharedMemoryImage client(true);
    client.Lock().SetSize(16, 16);
  }
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(runtime_.str() + "/vantisol")) {
    if (entry.path().filename() != "lock") left.push_back(entry.path().filename().string());
  }
  EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(ChannelTest, WithoutRuntimeFolderObjectsLiveInAPrivateSharedMemoryFolder) {
  unsetenv("XDG_RUNTIME_DIR");
  const std::string folder = "/dev/shm/vantisol-" + std::to_string(geteuid());
  const std::string key = "Vantisol::Fallback " + std::to_string(getpid());
  const std::string file = folder + "/map.Vantisol%3A%3AFallback%20" + std::to_string(getpid());
  {
    SharedMemory block(key);
    block.Create(4);
    ASSERT_TRUE(block.open());
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ChannelTest, RefusedObjectFolderIsReportedOnceWithItsNameAndWhy) {
  const std::string folder = runtime_.str() + "/vantisol";
  const std::string prefix = "FATAL Check failed: [data_->mutex] Could not create mutex " +
                             std::string(kHeaderKey) + "_mutex: object folder " + folder +
                             " refused: ";
  struct Case {
    const char* why;
    void (*plant)(const std::string& folder);
  };
  const Case cases[] = {
      {"open to other users (mode 0777): Permission denied",
       [](const std::string& folder) {
         std::filesystem::create_directory(folder);
         std::filesystem::permissions(folder, std::filesystem::perms::all);
       }},
      {"open to other users (mode 0750): Permission denied",
       [](const std::string& folder) {
         std::filesystem::create_directory(folder);
         std::filesystem::permissions(folder, std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_read |
                                                  std::filesystem::perms::group_exec);
       }},
      {"it is a symbolic link: Permission denied",
       [](const std::string& folder) {
         std::filesystem::create_directory(folder + ".real");
         std::filesystem::permissions(folder + ".real", std::filesystem::perms::owner_all);
         std::filesystem::create_directory_symlink(folder + ".real", folder);
       }},
      {"it is no folder: Permission denied",
       [](const std::string& folder) { std::ofstream(folder) << "x"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::filesystem::remove_all(folder);
    std::filesystem::remove_all(folder + ".real");
    c.plant(folder);
    LogCapture log;
    EXPECT_THROW(SharedMemoryImage(true), std::runtime_error);
    const std::string text = log.Text();
    // Attach and create both fail on the same folder: one line.
    EXPECT_EQ(Count(text, prefix + c.why + "\n"), 1u) << text;
    EXPECT_EQ(Count(text, "ERROR Could not open the shared image header!\n"), 1u) << text;
  }
  // The sound folder right after: nothing is left over from the refusals.
  std::filesystem::remove_all(folder);
  EXPECT_NO_THROW(SharedMemoryImage(true));
}

TEST_F(ChannelTest, ObjectFolderOfAnotherUserIsReportedWithBothUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
  const std::string folder = runtime_.str() + "/vantisol";
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  LogCapture log;
  EXPECT_THROW(SharedMemoryImage(true), std::runtime_error);
  const std::string text = log.Text();
  EXPECT_NE(text.find("object folder " + folder +
                      " refused: owned by user 65534, not by this user (0): Permission denied\n"),
            std::string::npos)
      << text;
}

TEST_F(ChannelTest, ShortBlockLeftByACrashIsMadeAfreshAtFullSize) {
  // A crash between creating the file and sizing it: nobody holds it.
  const std::string file = ObjectFile("Vantisol%3A%3AData%2030000");
  std::filesystem::create_directory(runtime_.str() + "/vantisol");
  std::filesystem::permissions(runtime_.str() + "/vantisol", std::filesystem::perms::owner_all);
  std::ofstream(file) << "twelve bytes";
  ASSERT_EQ(std::filesystem::file_size(file), 12u);
  SharedMemoryImage client(true);
  auto image = client.Lock();
  image.SetSize(100, 100);
  auto* bytes = static_cast<unsigned char*>(image.data());
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::filesystem::file_size(file), 30000u);
  EXPECT_EQ(bytes[29999], 0);
}

TEST_F(ChannelTest, PeersBlockIsUsedOnlyWhenItHoldsTheWholeSize) {
  // Either side of the size the name promises; the header beside the block stays sound.
  for (const int planted : {299, 300}) {
    SCOPED_TRACE(planted);
    ChildProcess planter(Probe({"plant", "Vantisol::Data 300", std::to_string(planted)}));
    ASSERT_TRUE(planter.WaitFor("ready")) << planter.output();
    LogCapture log;
    {
      SharedMemoryImage client(true);
      auto image = client.Lock();
      image.SetSize(10, 10);
      EXPECT_EQ(image.data() != nullptr, planted == 300);
    }
    const std::string text = log.Text();
    EXPECT_EQ(Count(text,
                    "ERROR Shared block \"Vantisol::Data 300\" holds 299 bytes, fewer than "
                    "the 300 it needs: refused\n"),
              planted == 299 ? 1u : 0u)
        << text;
    EXPECT_EQ(planter.Finish(), 0);
  }
}

TEST_F(ChannelTest, ShortHeaderOfAPeerIsRefused) {
  ChildProcess planter(Probe({"plant", kHeaderKey, "4"}));
  ASSERT_TRUE(planter.WaitFor("ready")) << planter.output();
  LogCapture log;
  EXPECT_THROW(SharedMemoryImage(true), std::runtime_error);
  const std::string text = log.Text();
  EXPECT_EQ(Count(text,
                  "ERROR Shared block \"Vantisol::SharedImageHeader\" holds 4 bytes, fewer "
                  "than the 12 it needs: refused\n"),
            1u)
      << text;
  EXPECT_EQ(planter.Finish(), 0);
}

TEST_F(ChannelTest, MutexFileTooShortForAMutexIsRefused) {
  const std::string folder = runtime_.str() + "/vantisol";
  const std::string file = folder + "/mutex.Vantisol%3A%3AProbe_mutex";
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
  std::ofstream(file) << "four";
  // A live holder (its shared lock), so that the file is no crash's leftover.
  ChildProcess holder({"/usr/bin/flock", "-s", file, "/bin/sh", "-c", "echo ready; cat"});
  ASSERT_TRUE(holder.WaitFor("ready")) << holder.output();
  SharedMemory block("Vantisol::Probe");
  LogCapture log;
  EXPECT_FALSE(block.Lock());
  const std::string text = log.Text();
  EXPECT_NE(text.find("mutex file " + file + " holds 4 bytes, fewer than a mutex needs: "),
            std::string::npos)
      << text;
  EXPECT_EQ(holder.Finish(), 0);
  // Once the holder is gone the file is a leftover and a sound mutex takes its place.
  EXPECT_TRUE(block.Lock());
  block.Unlock();
}

// A client on a tmpfs of 64 KiB (mounted in its own mount namespace) asks for a 120000-byte block.
// Unreserved, the block's pages would be missing when the zero-fill touches them: SIGBUS.
TEST_F(ChannelTest, FullFileSystemIsAnErrorTheSideSurvives) {
  test::TemporaryFolder small;
  const std::string script =
      std::string("unshare ") + (geteuid() != 0 ? "--user --map-root-user " : "") +
      "--mount /bin/sh -c 'mount -t tmpfs -o size=65536 tmpfs \"$0\" || "
      "{ echo no small file system; exit 0; }; exec \"$@\"' \"$0\" \"$1\" client 200 200 2>&1";
  setenv("XDG_RUNTIME_DIR", small.str().c_str(), 1);
  ChildProcess client({"/bin/sh", "-c", script, small.str(), VANTISOL_CHANNEL_PROBE});
  setenv("XDG_RUNTIME_DIR", runtime_.str().c_str(), 1);
  if (!client.WaitFor("ready")) {
    if (client.output().find("no small file system") != std::string::npos ||
        client.output().rfind("unshare: ", 0) == 0) {
      GTEST_SKIP() << "no tmpfs of limited size can be mounted here: " << client.output();
    }
    FAIL() << "the client died: " << client.output();
  }
  client.Send("size 200 200");
  ASSERT_TRUE(client.WaitFor("no block for 120000")) << client.output();
  client.Send("size 10 10");
  ASSERT_TRUE(client.WaitFor("sized 300")) << client.output();
  EXPECT_EQ(Count(client.output(),
                  "Could not create file mapping with size 120000: No space left on device\n"),
            1u)
      << client.output();
  EXPECT_EQ(client.Finish(), 0) << client.output();
}

// Only the owner may reach the objects: any group or other bit on the folder, or a folder
// reached through a symbolic link, makes every object unavailable; the owner's 0700 works.
TEST_F(ChannelTest, ObjectFolderReachableByGroupOrOthersIsRefused) {
  namespace fs = std::filesystem;
  const std::string folder = runtime_.str() + "/vantisol";
  fs::create_directory(folder);
  const auto available = [](const std::string& key) {
    SharedMemory block(key);
    block.Create(4);
    return block.open();
  };
  for (const unsigned mode : {0700u, 0740u, 0720u, 0710u, 0770u, 0704u, 0702u, 0701u}) {
    fs::permissions(folder, fs::perms(mode));
    EXPECT_EQ(available("Vantisol::Mode" + std::to_string(mode)), mode == 0700u)
        << std::oct << mode;
  }
  const std::string target = runtime_.str() + "/elsewhere";
  fs::create_directory(target);
  fs::permissions(target, fs::perms(0700));
  fs::permissions(folder, fs::perms(0700));
  fs::remove_all(folder);
  fs::create_directory_symlink(target, folder);
  EXPECT_FALSE(available("Vantisol::Linked"));
}

#endif

TEST_F(ChannelTest, MisuseFailsItsChecks) {
  LogCapture log;
  SharedMemory unnamed;
  EXPECT_FALSE(unnamed.Attach());
  SharedMemory block("Vantisol::Misuse");
  block.Create(0);
  EXPECT_EQ(block.data(), nullptr);
  block.Create(8);
  block.Create(8);
  EXPECT_NE(block.data(), nullptr);
  EXPECT_EQ(log.Text(),
            "FATAL Check failed: [!key_.empty()] \n"
            "FATAL Check failed: [size > 0] \n"
            "FATAL Check failed: [open()] \n"
            "FATAL Check failed: [!open()] \n");
}

TEST_F(ChannelTest, UnregisteringAClearedSideFailsItsCheck) {
  auto client = std::make_unique<SharedMemoryImage>(true);
  client->Lock().header()->client_registered = 0;
  LogCapture log;
  client.reset();
  EXPECT_EQ(log.Text(),
            "FATAL Check failed: [(is_client_ && header->client_registered) || (!is_client_ && "
            "header->server_registered)] \n");
}

TEST_F(ChannelTest, DataLockIsHeldOnlyByTheAccessThatOpenedTheBlock) {
  SharedMemoryImage client(true);
  {
    auto image = client.Lock();
    image.SetSize(8, 8);
    EXPECT_TRUE(image.data_locked());
  }
  {
    auto image = client.Lock();
    EXPECT_NE(image.data(), nullptr);
    EXPECT_FALSE(image.data_locked());
    EXPECT_EQ(image.MapData(0), nullptr);
    EXPECT_FALSE(BlockExists("Vantisol::Data 192"));
    // The same size again opens the block anew instead of handing out a closed one.
    EXPECT_NE(image.data(), nullptr);
    EXPECT_TRUE(image.data_locked());
  }
  // A size from the other side that no block can have means no picture.
  auto image = client.Lock();
  image.header()->width = -4;
  EXPECT_EQ(image.Bytes(), 0u);
  image.header()->width = 0x7FFFFFFF;
  image.header()->height = 0x7FFFFFFF;
  EXPECT_EQ(image.Bytes(), 0u);
}

TEST_F(ChannelTest, FirstApplicationIsCachedAndPerName) {
  // Not "Server": on Windows all tests share one process, whose claims last.
  EXPECT_TRUE(utils::IsFirstApplication("Cached"));
  EXPECT_TRUE(utils::IsFirstApplication("Cached"));
  ChildProcess second(Probe({"first", "Cached", "Other"}));
  EXPECT_EQ(second.Finish(), 0);
  EXPECT_EQ(second.output(), "Cached 0\nOther 1\nready\n");
}

TEST_F(ChannelTest, FirstApplicationIsFreeAgainWhenItsHolderEnds) {
  ChildProcess first(Probe({"first", "Alpha"}));
  ASSERT_TRUE(first.WaitFor("ready"));
  EXPECT_EQ(first.output(), "Alpha 1\nready\n");
  ChildProcess refused(Probe({"first", "Alpha"}));
  EXPECT_EQ(refused.Finish(), 0);
  EXPECT_EQ(refused.output(), "Alpha 0\nready\n");
  first.Kill();
  ChildProcess after_kill(Probe({"first", "Alpha"}));
  EXPECT_EQ(after_kill.Finish(), 0);
  EXPECT_EQ(after_kill.output(), "Alpha 1\nready\n");
  ChildProcess after_exit(Probe({"first", "Alpha"}));
  EXPECT_EQ(after_exit.Finish(), 0);
  EXPECT_EQ(after_exit.output(), "Alpha 1\nready\n");
}

}  // namespace
}  // namespace vantisol
