#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "image.h"
#include "recording.h"

namespace pxcsim {

// Plays a recording of the runtime's own format back as the camera's frames.
class Player {
 public:
  // Opens the file at its first frame; false when it is none of ours, which failed() then tells.
  bool Open(const std::string& file);
  // Closes the file and forgets a failure to open one.
  void Close();
  bool is_open() const { return reader_.is_open(); }
  bool failed() const { return failed_; }
  const RecordingSizes& sizes() const { return sizes_; }
  bool at_end() const { return index_ >= frames_; }
  // The frame at the index with its recorded time stamps; the index moves on unless paused. False
  // when the file ends early.
  bool Read(std::unique_ptr<Image>* color, std::unique_ptr<Image>* depth);

  void set_paused(bool paused) { paused_ = paused; }
  bool realtime() const { return realtime_; }
  void set_realtime(bool realtime) { realtime_ = realtime; }
  void set_index(int32_t index) { index_ = std::clamp(index, 0, frames_); }
  int32_t index() const { return index_; }
  int32_t frames() const { return frames_; }

 private:
  std::ifstream reader_;
  RecordingSizes sizes_{0, 0, 0, 0};
  int32_t frames_ = 0;
  int32_t index_ = 0;
  bool paused_ = false;
  bool failed_ = false;
  bool realtime_ = true;
};

}  // namespace pxcsim
