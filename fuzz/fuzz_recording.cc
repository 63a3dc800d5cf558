// The runtime's recording file: the header, then the first frames and the last one, as playback
// reads them.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "recording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  pxcsim::RecordingSizes sizes{};
  const int32_t frames = pxcsim::ReadRecordingHeader(in, &sizes);
  if (frames <= 0) return 0;
  // The frame's bytes come from the sizes: whatever the header says, they fit the file.
  if (pxcsim::kRecordingHeader + frames * pxcsim::RecordingFrameBytes(sizes) >
      static_cast<int64_t>(size)) {
    __builtin_trap();
  }
  std::vector<uint8_t> color(size_t(sizes.color_width) * sizes.color_height * 2);
  std::vector<uint8_t> depth(size_t(sizes.depth_width) * sizes.depth_height * 2);
  int64_t stamps[2];
  for (int32_t index : {0, 1, frames - 1, frames}) {
    const bool read = pxcsim::ReadRecordedFrame(in, sizes, index, stamps, color.data(),
                                                depth.empty() ? nullptr : depth.data());
    if (read != (index < frames)) __builtin_trap();
  }
  return 0;
}
