#pragma once

#include <link.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

// The loaded libraries whose thread-local data a thread gets only when it first touches it (loaded
// by dlopen, without the static-TLS model): such a block comes from malloc, and this toolchain's
// leak checker misreads one that happens to start 16 bytes into a page (about 1 in 256) and
// crashes scanning it. A fresh thread, which has touched nothing, shows them.
inline std::vector<std::string> ThreadDataAllocatedOnFirstUse() {
  std::vector<std::string> names;
  std::thread([&names] {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
          if (info->dlpi_tls_modid != 0 && info->dlpi_tls_data == nullptr)
            static_cast<std::vector<std::string>*>(found)->push_back(info->dlpi_name);
          return 0;
        },
        &names);
  }).join();
  return names;
}

}  // namespace test
}  // namespace vantisol
