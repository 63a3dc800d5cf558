// The tool's command line is read before anything needs a display: help and bad options answer
// on a machine without one.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "child_process.h"

namespace vantisol::tools {
namespace {

struct CommandCase {
  std::vector<std::string> arguments;
  int exit_code;
  std::string said;  // text the tool must print (standard output or error); empty for none
};

TEST(PipelineRunCommandLineTest, AnswersWithoutADisplay) {
  const std::string help = "  --frames N            output frames to run (300)";
  std::vector<CommandCase> cases = {
      {{"--help"}, 0, help},
      {{"--mode", "2", "--help"}, 0, help},
      {{"--no-such-option"}, 2, ""},
      {{"--frames"}, 2, ""},
      {{"--frames", "10", "--size", "640x480", "--seconds", "5", "--png-every", "0", "--bg-thresh",
        "-1", "--face-scale", "80", "120", "--help"},
       0,
       help},
      {{"--size", "640x480junk"},
       2,
       "--size wants WxH with whole numbers from 1 to 8192, not \"640x480junk\""},
      {{"--mode", "3"}, 2, "--mode wants a whole number from 0 to 2, not \"3\""},
      {{"--face-scale", "100", "abc"},
       2,
       "--face-scale wants a whole number from 80 to 120, not \"abc\""},
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
                     2,
                     std::string(option) + " wants a whole number from " + range + ", not \"7x\""});
  }
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    std::vector<std::string> command = {
        "/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb",
        // Standard error joins the output.
        "/bin/sh", "-c", "exec /usr/bin/timeout 30 \"$@\" 2>&1", "sh", VANTISOL_PIPELINE_RUN};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    test::ChildProcess tool(command);
    EXPECT_EQ(tool.Finish(), c.exit_code) << tool.output();
    EXPECT_NE(tool.output().find(c.said), std::string::npos) << tool.output();
  }
}

}  // namespace
}  // namespace vantisol::tools
