#include "recording.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace pxcsim {
namespace {

// A recording as the runtime writes it: header, then per frame two stamps and the pixels, each
// pixel byte its frame's number.
std::string Recording(int32_t cw, int32_t ch, int32_t dw, int32_t dh, int frames,
                      size_t extra_bytes = 0) {
  std::string bytes(kRecordingMagic, 8);
  const int32_t sizes[4] = {cw, ch, dw, dh};
  bytes.append(reinterpret_cast<const char*>(sizes), 16);
  for (int f = 0; f < frames; ++f) {
    const int64_t stamps[2] = {1000 + f, 2000 + f};
    bytes.append(reinterpret_cast<const char*>(stamps), 16);
    bytes.append(size_t(cw) * ch * 2 + size_t(dw) * dh * 2, char(f + 1));
  }
  return bytes + std::string(extra_bytes, 'x');
}

int32_t Frames(const std::string& bytes) {
  std::istringstream in(bytes);
  RecordingSizes sizes{};
  return ReadRecordingHeader(in, &sizes);
}

TEST(RecordingTest, CountsWholeFramesAndReadsEachBack) {
  // 4x2 colour (16 bytes) and 2x2 depth (8 bytes): 40 bytes a frame with the stamps.
  std::istringstream in(Recording(4, 2, 2, 2, 3, 39));
  RecordingSizes sizes{};
  ASSERT_EQ(ReadRecordingHeader(in, &sizes), 3);
  EXPECT_EQ(RecordingFrameBytes(sizes), 40);
  std::vector<uint8_t> color(16), depth(8);
  int64_t stamps[2];
  ASSERT_TRUE(ReadRecordedFrame(in, sizes, 1, stamps, color.data(), depth.data()));
  EXPECT_EQ(stamps[0], 1001);
  EXPECT_EQ(stamps[1], 2001);
  EXPECT_EQ(color, std::vector<uint8_t>(16, 2));
  EXPECT_EQ(depth, std::vector<uint8_t>(8, 2));
  // The 39 bytes after the third frame are no fourth one; without depth a frame is 32 bytes.
  EXPECT_FALSE(ReadRecordedFrame(in, sizes, 3, stamps, color.data(), depth.data()));
  EXPECT_EQ(Frames(Recording(4, 2, 0, 0, 2, 31)), 2);
  EXPECT_EQ(Frames(Recording(4, 2, 0, 0, 2, 32)), 3);
}

TEST(RecordingTest, RefusesForeignFilesAndSizesOutOfRange) {
  EXPECT_EQ(Frames(Recording(4, 2, 0, 0, 0)), 0);
  EXPECT_EQ(Frames(Recording(4, 2, 0, 0, 1).substr(0, 23)), -1);
  std::string foreign = Recording(4, 2, 0, 0, 1);
  foreign[7] = '2';
  EXPECT_EQ(Frames(foreign), -1);
  // Each side from 1 to kRecordingMaxSide; depth both 0 or both in range.
  EXPECT_EQ(Frames(Recording(kRecordingMaxSide, 1, 0, 0, 0)), 0);
  EXPECT_EQ(Frames(Recording(kRecordingMaxSide + 1, 1, 0, 0, 0)), -1);
  EXPECT_EQ(Frames(Recording(1, kRecordingMaxSide + 1, 0, 0, 0)), -1);
  EXPECT_EQ(Frames(Recording(0, 2, 0, 0, 0)), -1);
  EXPECT_EQ(Frames(Recording(4, -2, 0, 0, 0)), -1);
  EXPECT_EQ(Frames(Recording(4, 2, 1, kRecordingMaxSide, 0)), 0);
  EXPECT_EQ(Frames(Recording(4, 2, 1, kRecordingMaxSide + 1, 0)), -1);
  EXPECT_EQ(Frames(Recording(4, 2, 640, 0, 0)), -1);
  EXPECT_EQ(Frames(Recording(4, 2, -640, -480, 0)), -1);
}

}  // namespace
}  // namespace pxcsim
