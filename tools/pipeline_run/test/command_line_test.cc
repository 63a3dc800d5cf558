// The tool's command line is read before anything needs a display: help and bad options answer
// on a machine without one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"

namespace vantisol::tools {
namespace {

struct CommandCase {
  std::vector<std::string> arguments;
  int exit_code;
  const char* said;  // a line the tool must print on its standard output; empty for none
};

TEST(PipelineRunCommandLineTest, AnswersWithoutADisplay) {
  const CommandCase cases[] = {
      {{"--help"}, 0, "  --frames N            output frames to run (300)"},
      {{"--mode", "2", "--help"}, 0, "  --frames N            output frames to run (300)"},
      {{"--no-such-option"}, 2, ""},
      {{"--frames"}, 2, ""},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    std::vector<std::string> command = {"/usr/bin/env",
                                        "-u",
                                        "DISPLAY",
                                        "-u",
                                        "WAYLAND_DISPLAY",
                                        "QT_QPA_PLATFORM=xcb",
                                        "/usr/bin/timeout",
                                        "30",
                                        VANTISOL_PIPELINE_RUN};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    test::ChildProcess tool(command);
    if (*c.said != '\0') {
      EXPECT_TRUE(tool.WaitFor(c.said)) << tool.output();
    }
    EXPECT_EQ(tool.Finish(), c.exit_code) << tool.output();
  }
}

}  // namespace
}  // namespace vantisol::tools
