// The tools' command lines are read before anything needs a display: help and bad options answer
// on a machine without one. Running needs an X display with OpenGL 4.3: without one the tool says
// so and stops, instead of being ended by Qt or crashing on a missing context. What cannot be run
// (a scenario that cannot be used, a folder that cannot be made or written, the channel held by
// the program or another producer) is one error line on standard error, nothing on standard
// output, and exit code 2; no run leaves a file behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "test_folder.h"
#include "watchdog.h"

namespace vantisol::tools {
namespace {

struct CommandCase {
  std::vector<std::string> arguments;
  std::vector<std::string> environment;  // set on top of one without a display
  int exit_code;
  // Text the tool must print: on standard output when it succeeds, else on standard error. The
  // other stream stays empty.
  std::string said;
  std::string tool = VANTISOL_PIPELINE_RUN;
  // The channel_probe command whose stand-in serves the frame channel meanwhile: "server" for
  // another producer, "program" for the program.
  std::string producer = "";
};

TEST(ToolCommandLineTest, AnswersOrRefusesWithOneLine) {
  // The channel and the files of this test only.
  test::TemporaryFolder folder;
  setenv("XDG_RUNTIME_DIR", folder.str().c_str(), 1);
  const std::string missing = folder.str() + "/missing.json",
                    broken = folder.str() + "/broken.json";
  std::ofstream(broken) << R"({"paced": )";
  // A file that cannot be written: a folder has its name.
  const std::string blocked = folder.str() + "/blocked";
  std::filesystem::create_directories(blocked + "/frame0_color.png");
  const char* display = std::getenv("DISPLAY");
  const std::vector<std::string> shown = {"QT_QPA_PLATFORM=xcb",
                                          std::string("DISPLAY=") + (display ? display : "")};
  const std::string cannot_start = "error: CameraRealSense: Could not start the camera runtime: ";
  const std::string needs =
      "; pipeline_run needs an X display with OpenGL 4.3 (Xvfb will do: xvfb-run -a -s \"-noreset "
      "-screen "
      "0 1280x1024x24\" pipeline_run ...)";
  const std::string help = "  --frames N            output frames to run (300)";
  const std::vector<std::string> xcb = {"QT_QPA_PLATFORM=xcb"};
  const std::string stdout_file = folder.str() + "/stdout";
  std::vector<CommandCase> cases = {
      {{"--help"}, xcb, 0, help},
      {{"--mode", "2", "--help"}, xcb, 0, help},
      {{"--no-such-option"}, xcb, 2, ""},
      {{"--frames"}, xcb, 2, ""},
      {{"--frames", "10", "--size", "640x480", "--seconds", "5", "--png-every", "0", "--bg-thresh",
        "-1", "--face-scale", "80", "120", "--help"},
       xcb,
       0,
       help},
      {{"--size", "640x480junk"},
       xcb,
       2,
       "--size wants WxH with whole numbers from 1 to 8192, not \"640x480junk\""},
      {{"--mode", "3"}, xcb, 2, "--mode wants a whole number from 0 to 2, not \"3\""},
      {{"--face-scale", "100", "abc"},
       xcb,
       2,
       "--face-scale wants a whole number from 80 to 120, not \"abc\""},
      {{"--frames", "1"}, xcb, 2, "error: no X display could be opened" + needs},
      // A display that is named but not there.
      {{"--frames", "1"},
       {"QT_QPA_PLATFORM=xcb", "DISPLAY=:9731"},
       2,
       "error: no X display could be opened" + needs},
      // Qt starts without X, but its contexts need one. (Qt's offscreen plug-in keeps its screen
      // to the end of the process, which the leak checker would report.)
      {{"--frames", "1"},
       {"ASAN_OPTIONS=detect_leaks=0", "QT_QPA_PLATFORM=offscreen"},
       2,
       "error: no OpenGL context could be made" + needs},
      {{"--frames", "1", "--scenario", missing},
       shown,
       2,
       cannot_start + "cannot open the scenario " + missing + ": No such file or directory"},
      {{"--frames", "1", "--scenario", broken},
       shown,
       2,
       cannot_start + "invalid JSON in the scenario " + broken},
      {{"--png-every", "1", "--out", "/dev/null/out"},
       xcb,
       2,
       "error: the folder /dev/null/out cannot be made: Not a directory"},
      {{"--frames", "1"},
       shown,
       2,
       "error: the program Vantisol is running (Already a server running!)",
       VANTISOL_PIPELINE_RUN,
       "program"},
      {{"--frames", "1"},
       shown,
       2,
       "error: another producer holds the frame channel (Already a server running!)",
       VANTISOL_PIPELINE_RUN,
       "server"},
      {{"--help"}, {}, 0, "usage: camera_dump [folder] [frames]", VANTISOL_CAMERA_DUMP},
      {{"/dev/null/out"},
       {},
       2,
       "error: the folder /dev/null/out cannot be made: Not a directory",
       VANTISOL_CAMERA_DUMP},
      {{folder.str(), "1", "junk"}, {}, 2, "unexpected argument junk", VANTISOL_CAMERA_DUMP},
      {{blocked, "1"},
       {},
       2,
       "error: cannot write " + blocked + "/frame0_color.png",
       VANTISOL_CAMERA_DUMP},
      // A store without the camera runtime.
      {{folder.str(), "1"},
       {"VANTISOL_REGISTRY=" + missing},
       2,
       "error: No camera found",
       VANTISOL_CAMERA_DUMP},
      {{folder.str(), "junk"},
       {},
       2,
       "frames wants a whole number from 1 to 100, not \"junk\"",
       VANTISOL_CAMERA_DUMP},
      {{folder.str(), "1"},
       {"VANTISOL_CAMERA_SCENARIO=" + missing},
       2,
       cannot_start + "cannot open the scenario " + missing,
       VANTISOL_CAMERA_DUMP},
  };
  // Every numeric option refuses a number with something after it, and names its range.
  const std::pair<const char*, const char*> ranges[] = {{"--frames", "1 to 2147483647"},
                                                        {"--png-every", "0 to 2147483647"},
                                                        {"--seconds", "0 to 604800"},
                                                        {"--cycle-effects", "0 to 604800"},
                                                        {"--mode", "0 to 2"},
                                                        {"--blur", "0 to 30"},
                                                        {"--gaze", "0 to 60"},
                                                        {"--undistortion", "0 to 40"},
                                                        {"--bg-thresh", "-1 to 5000"},
                                                        {"--face-scale", "80 to 120"}};
  for (const auto& [option, range] : ranges) {
    cases.push_back({{option, "7x"},
                     xcb,
                     2,
                     std::string(option) + " wants a whole number from " + range + ", not \"7x\""});
  }
  for (const CommandCase& c : cases) {
    std::string trace = c.tool;
    for (const std::string& text : c.environment) trace = text + " " + trace;
    for (const std::string& text : c.arguments) trace += " " + text;
    SCOPED_TRACE(trace);
    std::unique_ptr<test::ChildProcess> producer;
    if (!c.producer.empty()) {
      producer = std::make_unique<test::ChildProcess>(
          std::vector<std::string>{VANTISOL_CHANNEL_PROBE, c.producer});
      ASSERT_TRUE(producer->WaitFor("ready")) << producer->output();
    }
    // The temporary files of the runs are this test's too.
    std::vector<std::string> command = {
        "/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "TMPDIR=" + folder.str()};
    command.insert(command.end(), c.environment.begin(), c.environment.end());
    // Standard error is read through the pipe, standard output from a file. A run gets as far as
    // the camera's start: the limit of a start.
    command.insert(command.end(), {"/bin/sh", "-c", "exec /usr/bin/timeout \"$@\" 2>&1 >\"$0\"",
                                   stdout_file, std::to_string(test::kStartLimit.count()), c.tool});
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    test::ChildProcess tool(command, test::kStartLimit);
    EXPECT_EQ(tool.Finish(), c.exit_code) << tool.output();
    std::ifstream file(stdout_file);
    const std::string output{std::istreambuf_iterator<char>(file), {}};
    const bool failed = c.exit_code != 0;
    EXPECT_NE((failed ? tool.output() : output).find(c.said), std::string::npos)
        << "standard output: " << output << "\nstandard error: " << tool.output();
    EXPECT_EQ(failed ? output : tool.output(), "");
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder.str())) {
    EXPECT_NE(entry.path().filename().string().rfind("pipeline_run_", 0), 0u) << entry.path();
  }
}

}  // namespace
}  // namespace vantisol::tools
