// The frame-client tool as a separate process: its help, its refusals, and a run without --dir
// from a copy of the build's layout, with the stand-in as the program.

#include <gtest/gtest.h>
#include <lodepng.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_folder.h"
#include "watchdog.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int code = -1;
  std::string out;
};

// Runs the tool with `arguments` (at most 60 s); its exit code and output (standard output and
// error together).
ToolRun RunTool(const std::string& tool, const std::string& arguments) {
  ToolRun run;
  const std::string command = "timeout 60 '" + tool + "' " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0;) run.out.append(chunk, n);
  const int status = pclose(pipe);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(VcamClientToolTest, HelpAndRefusals) {
  const ToolRun help = RunTool(VANTISOL_VCAM_CLIENT, "--help");
  EXPECT_EQ(help.code, 0);
  for (const char* option :
       {"--size WxH", "--seconds S", "--every K", "--out FOLDER", "--dir FOLDER", "--help"}) {
    EXPECT_TRUE(Has(help.out, option)) << option << " missing from:\n" << help.out;
  }
  const struct {
    const char* arguments;
    const char* said;
  } wrong[] = {
      {"--bogus", "vcam_client: unknown or incomplete option --bogus"},
      {"--size", "vcam_client: unknown or incomplete option --size"},
      {"--size 0x480", "--size wants WxH with whole numbers from 1 to 8192, not \"0x480\""},
      {"--size 640by480", "--size wants WxH with whole numbers from 1 to 8192, not \"640by480\""},
      {"--size 640x480junk",
       "--size wants WxH with whole numbers from 1 to 8192, not \"640x480junk\""},
      {"--seconds abc", "--seconds wants a number from 0 to 604800, not \"abc\""},
      {"--every 2x", "--every wants a whole number from 0 to 2147483647, not \"2x\""},
      {"--recent -1", "--recent wants a whole number from 0 to 1000, not \"-1\""},
  };
  for (const auto& c : wrong) {
    // With no program to start, should the refusal fail.
    const ToolRun run =
        RunTool(VANTISOL_VCAM_CLIENT, std::string("--dir /nonexistent/folder ") + c.arguments);
    EXPECT_EQ(run.code, 2) << c.arguments;
    EXPECT_TRUE(Has(run.out, c.said)) << c.arguments << ":\n" << run.out;
  }
}

class VcamClientLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(root_.str() + "/run");
    fs::permissions(root_.str() + "/run", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (root_.str() + "/run").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_.str() + "/data").c_str(), 1);
  }
  void TearDown() override {
    std::ifstream in(program_ / "vantisol_started.txt");
    for (long pid = 0; in >> pid;) kill(static_cast<pid_t>(pid), SIGKILL);
    unsetenv("VANTISOL_STAND_IN_DELAY_MS");
  }

  vantisol::test::TemporaryFolder root_;
  const fs::path tool_folder_ = fs::path(root_.str()) / "build/tools/vcam_client";
  const fs::path program_ = (tool_folder_ / VANTISOL_PROGRAM_FOLDER).lexically_normal();
};

// Without --dir the tool finds the program and the loading picture where the build puts them, from
// wherever it is started; the first samples show the loading picture until the program serves.
TEST_F(VcamClientLayoutTest, FindsTheProgramAndLoadingPictureOfItsBuild) {
  fs::create_directories(tool_folder_);
  fs::create_directories(program_);
  const fs::path tool = tool_folder_ / "vcam_client";
  fs::copy_file(VANTISOL_VCAM_CLIENT, tool);
  fs::copy_file(VANTISOL_STAND_IN, program_ / "Vantisol");
  fs::copy_file(VANTISOL_LOADING_PICTURE, program_ / "vantisol_loading.png");
  const fs::path out = fs::path(root_.str()) / "frames";
  fs::create_directory(out);
  setenv("VANTISOL_STAND_IN_DELAY_MS", "1000", 1);

  // Long enough for the stand-in to start and serve after its delay, also under a sanitizer.
  const std::string seconds = std::to_string(2.5 * vantisol::test::kTimeScale);
  const ToolRun run = RunTool(tool.string(), "--size 640x480 --seconds " + seconds +
                                                 " --every 1 --out '" + out.string() + "'");
  ASSERT_EQ(run.code, 0) << run.out;
  EXPECT_TRUE(Has(run.out, "program folder: " + program_.string() + "\n")) << run.out;
  EXPECT_TRUE(Has(run.out, "stamped frames")) << "no frame from the program:\n" << run.out;
  std::ifstream started(program_ / "vantisol_started.txt");
  long pid = 0;
  EXPECT_TRUE(started >> pid) << "the program was not started from " << program_;

  // The first sample, saved upright: the 400 x 300 picture centred on white, its red mark top left.
  std::vector<unsigned char> rgb;
  unsigned width = 0;
  unsigned height = 0;
  ASSERT_EQ(lodepng::decode(rgb, width, height, (out / "frame_00000.png").string(), LCT_RGB, 8),
            0u);
  ASSERT_EQ(width, 640u);
  ASSERT_EQ(height, 480u);
  auto seen = [&](unsigned x, unsigned y) {
    const unsigned char* p = &rgb[(y * width + x) * 3];
    return std::vector<int>{p[0], p[1], p[2]};
  };
  EXPECT_EQ(seen(0, 0), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(seen(120 + 5, 90 + 5), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(seen(120 + 394, 90 + 5), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(seen(120 + 5, 90 + 294), (std::vector<int>{0, 0, 255}));
}

// A refused start says why: the camera held by another client (a process of its own), or no
// program to start in the folder or the one above.
TEST_F(VcamClientLayoutTest, RefusedStartSaysWhy) {
  const std::string folder = root_.str() + "/without_program";
  fs::create_directory(folder);
  const struct {
    bool camera_taken;
    std::string said;
    const char* not_said;
  } cases[] = {
      {true,
       "vcam_client: could not start the stream: another application is using the camera "
       "(Already a client running!)",
       "folder above"},
      {false,
       "vcam_client: could not start the stream; is the program Vantisol in " + folder +
           " or the folder above?",
       "another application"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.camera_taken ? "camera taken" : "no program");
    std::unique_ptr<vantisol::test::ChildProcess> holder;
    if (c.camera_taken) {
      holder = std::make_unique<vantisol::test::ChildProcess>(
          std::vector<std::string>{VANTISOL_CHANNEL_PROBE, "client", "640", "480"});
      ASSERT_TRUE(holder->WaitFor("ready")) << holder->output();
    }
    const ToolRun run = RunTool(VANTISOL_VCAM_CLIENT, "--dir '" + folder + "'");
    EXPECT_EQ(run.code, 1) << run.out;
    EXPECT_TRUE(Has(run.out, c.said)) << run.out;
    EXPECT_FALSE(Has(run.out, c.not_said)) << run.out;
  }
}

}  // namespace
