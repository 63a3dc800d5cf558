#pragma once

#include <cstdlib>
#include <string>

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

}  // namespace test
}  // namespace vantisol
