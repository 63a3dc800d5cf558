// The tool's command line is read before anything needs a display: help and bad options answer
// on a machine without one. Running needs an X display with OpenGL 4.3: without one the tool says
// so and stops, instead of being ended by Qt or crashing on a missing context.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "watchdog.h"

namespace vantisol::tools {
namespace {

struct CommandCase {
  std::vector<std::string> arguments;
  std::vector<std::string> environment;  // set on top of one without a display
  int exit_code;
  std::string said;  // a line the tool must print on its standard output; empty for none
};

TEST(PipelineRunCommandLineTest, AnswersWithoutADisplay) {
  const std::string needs =
      "; pipeline_run needs an X display with OpenGL 4.3 (Xvfb will do: xvfb-run -a -s \"-screen "
      "0 1280x1024x24\" pipeline_run ...)";
  const std::string help = "  --frames N            output frames to run (300)";
  const CommandCase cases[] = {
      {{"--help"}, {"QT_QPA_PLATFORM=xcb"}, 0, help},
      {{"--mode", "2", "--help"}, {"QT_QPA_PLATFORM=xcb"}, 0, help},
      {{"--no-such-option"}, {"QT_QPA_PLATFORM=xcb"}, 2, ""},
      {{"--frames"}, {"QT_QPA_PLATFORM=xcb"}, 2, ""},
      {{"--frames", "1"},
       {"QT_QPA_PLATFORM=xcb"},
       2,
       "error: no X display could be opened" + needs},
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
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.arguments.front() + " " + c.environment.back());
    std::vector<std::string> command = {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
    command.insert(command.end(), c.environment.begin(), c.environment.end());
    // A run gets as far as Qt's start and the context: the limit of a start.
    command.insert(command.end(), {"/usr/bin/timeout", std::to_string(test::kStartLimit.count()),
                                   VANTISOL_PIPELINE_RUN});
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    test::ChildProcess tool(command, test::kStartLimit);
    if (!c.said.empty()) {
      EXPECT_TRUE(tool.WaitFor(c.said)) << tool.output();
    }
    EXPECT_EQ(tool.Finish(), c.exit_code) << tool.output();
  }
}

}  // namespace
}  // namespace vantisol::tools
