#include "recording.h"

#include <cstring>
#include <istream>
#include <limits>

namespace pxcsim {

int64_t RecordingFrameBytes(const RecordingSizes& sizes) {
  return 16 + int64_t(sizes.color_width) * sizes.color_height * 2 +
         int64_t(sizes.depth_width) * sizes.depth_height * 2;
}

int32_t ReadRecordingHeader(std::istream& in, RecordingSizes* sizes) {
  char magic[8] = {};
  in.read(magic, 8);
  in.read(reinterpret_cast<char*>(sizes), sizeof(*sizes));
  auto side = [](int32_t n, int32_t least) { return n >= least && n <= kRecordingMaxSide; };
  // Depth is either absent (both 0) or a real size.
  const bool depth_ok = (sizes->depth_width == 0 && sizes->depth_height == 0) ||
                        (side(sizes->depth_width, 1) && side(sizes->depth_height, 1));
  if (!in || std::memcmp(magic, kRecordingMagic, 8) != 0 || !side(sizes->color_width, 1) ||
      !side(sizes->color_height, 1) || !depth_ok) {
    return -1;
  }
  in.seekg(0, std::ios::end);
  const int64_t size = int64_t(in.tellg()) - kRecordingHeader;
  if (size < 0) return -1;
  const int64_t frames = size / RecordingFrameBytes(*sizes);
  return int32_t(std::min<int64_t>(frames, std::numeric_limits<int32_t>::max()));
}

bool ReadRecordedFrame(std::istream& in, const RecordingSizes& sizes, int32_t index,
                       int64_t stamps[2], uint8_t* color, uint8_t* depth) {
  in.clear();
  in.seekg(kRecordingHeader + index * RecordingFrameBytes(sizes));
  in.read(reinterpret_cast<char*>(stamps), 2 * sizeof(int64_t));
  in.read(reinterpret_cast<char*>(color),
          std::streamsize(sizes.color_width) * sizes.color_height * 2);
  if (sizes.depth_width > 0) {
    in.read(reinterpret_cast<char*>(depth),
            std::streamsize(sizes.depth_width) * sizes.depth_height * 2);
  }
  return bool(in);
}

bool RecordingWriter::Start(const RecordingSizes& sizes) {
  sizes_ = sizes;
  out_.open(file_, std::ios::binary | std::ios::trunc);
  if (!out_) return false;
  out_.write(kRecordingMagic, 8);
  out_.write(reinterpret_cast<const char*>(&sizes_), sizeof(sizes_));
  return true;
}

void RecordingWriter::Write(const int64_t stamps[2], const uint8_t* color, int color_pitch,
                            const uint8_t* depth) {
  out_.write(reinterpret_cast<const char*>(stamps), 2 * sizeof(int64_t));
  for (int y = 0; y < sizes_.color_height; ++y)
    out_.write(reinterpret_cast<const char*>(color + size_t(y) * color_pitch),
               sizes_.color_width * 2);
  if (depth && sizes_.depth_width > 0)
    out_.write(reinterpret_cast<const char*>(depth),
               std::streamsize(sizes_.depth_width) * sizes_.depth_height * 2);
  out_.flush();
}

void RecordingWriter::Close() {
  out_.close();
  file_.clear();
}

}  // namespace pxcsim
