// The simulated camera's scenario file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "scene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  const pxcsim::Scenario scenario =
      pxcsim::Scenario::Parse(std::string(reinterpret_cast<const char*>(data), size), &error);
  // Every scene takes the period as a divisor.
  if (!(scenario.period > 0)) __builtin_trap();
  return 0;
}
