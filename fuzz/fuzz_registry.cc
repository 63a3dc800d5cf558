// The registry store. The first line names the value looked up, the rest is the store.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "camera/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t line_end = input.find('\n');
  if (line_end == std::string::npos) return 0;
  const std::string wanted = input.substr(0, line_end);
  const size_t slash = wanted.rfind('\\');
  if (slash == std::string::npos) return 0;
  std::istringstream store(input.substr(line_end + 1));
  const auto value =
      vantisol::Registry::ReadStringFrom(store, wanted.substr(0, slash), wanted.substr(slash + 1));
  // What a REG_SZ read of 520 bytes can hold.
  if (value && (value->empty() || value->size() > 259)) __builtin_trap();
  return 0;
}
