#pragma once

#include <cstdint>
#include <iosfwd>

namespace pxcsim {

// The runtime's own recording format: "PXCSIMR1", the four sizes (int32), then per frame the
// colour and depth time stamps (int64) and the packed YUY2 and depth pixels.
constexpr char kRecordingMagic[8] = {'P', 'X', 'C', 'S', 'I', 'M', 'R', '1'};
constexpr int64_t kRecordingHeader = 8 + 16;
// Larger than any camera gives; a file claiming more is refused rather than allocated for.
constexpr int32_t kRecordingMaxSide = 8192;

struct RecordingSizes {
  int32_t color_width, color_height, depth_width, depth_height;
};

int64_t RecordingFrameBytes(const RecordingSizes& sizes);
// Reads and checks the header: the number of whole frames in the file, or -1 when it is none of
// ours or its sizes are out of range.
int32_t ReadRecordingHeader(std::istream& in, RecordingSizes* sizes);
// Reads frame `index` into `color` (width x height x 2 bytes) and, with a depth stream, `depth`.
// False when the file ends early.
bool ReadRecordedFrame(std::istream& in, const RecordingSizes& sizes, int32_t index,
                       int64_t stamps[2], uint8_t* color, uint8_t* depth);

}  // namespace pxcsim
