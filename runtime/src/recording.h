#pragma once

#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <string>
#include <utility>

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

// Writes the camera's frames into a file of this format as they are captured.
class RecordingWriter {
 public:
  // The file the next start writes; empty: none.
  void set_file(std::string file) { file_ = std::move(file); }
  bool wanted() const { return !file_.empty(); }
  // Starts the file with its header; false when it cannot be written.
  bool Start(const RecordingSizes& sizes);
  bool is_open() const { return out_.is_open(); }
  // One frame: colour rows `color_pitch` bytes apart, depth (or null) packed.
  void Write(const int64_t stamps[2], const uint8_t* color, int color_pitch, const uint8_t* depth);
  // Ends the file and forgets it.
  void Close();

 private:
  std::string file_;
  RecordingSizes sizes_{0, 0, 0, 0};
  std::ofstream out_;
};

}  // namespace pxcsim
