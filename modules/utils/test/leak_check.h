#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "child_process.h"

namespace vantisol {
namespace test {

// Mesa's software rasteriser leaves a few allocations from its generated code behind at exit, with
// no symbol and nothing this project can free. Programs that a test starts and that draw (the
// program, the pipeline runner) would fail on them under the leak checker, so they run without
// it; the address checks stay on. The variable only reaches processes started after this call.
inline void SkipLeakCheckInChildren() {
  const char* current = std::getenv("ASAN_OPTIONS");
  std::string options = current ? current : "";
  if (!options.empty()) options += ":";
  options += "detect_leaks=0";
  setenv("ASAN_OPTIONS", options.c_str(), 1);
}

struct LeakCheckRun {
  int exit_code;
  std::string output;
};

// Runs one test of this test program (a disabled one, as "Suite.DISABLED_Name") in a process of its
// own with the leak checker on, whatever this process passes on to its children. Needs
// utils_child_process.
inline LeakCheckRun RunWithLeakCheck(const std::string& test_name) {
  ChildProcess child({"/bin/sh", "-c",
                      "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=1\" exec \"$0\" "
                      "--gtest_also_run_disabled_tests --gtest_filter=\"$1\" 2>&1",
                      std::filesystem::read_symlink("/proc/self/exe").string(), test_name},
                     std::chrono::seconds(120));
  const int code = child.Finish();
  return {code, child.output()};
}

}  // namespace test
}  // namespace vantisol
