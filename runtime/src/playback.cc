#include "playback.h"

namespace pxcsim {

bool Player::Open(const std::string& file) {
  reader_.open(file, std::ios::binary);
  const int32_t frames = ReadRecordingHeader(reader_, &sizes_);
  if (frames < 0) {
    reader_.close();
    failed_ = true;
    return false;
  }
  frames_ = frames;
  index_ = 0;
  return true;
}

void Player::Close() {
  reader_.close();
  failed_ = false;
}

bool Player::Read(std::unique_ptr<Image>* color, std::unique_ptr<Image>* depth) {
  const int w = sizes_.color_width, h = sizes_.color_height;
  int64_t stamps[2] = {};
  color->reset(new Image(w, h, PXCImage::PIXEL_FORMAT_YUY2, w * 2, 0));
  depth->reset();
  if (sizes_.depth_width > 0) {
    depth->reset(new Image(sizes_.depth_width, sizes_.depth_height, PXCImage::PIXEL_FORMAT_DEPTH,
                           sizes_.depth_width * 2, 0));
  }
  const bool read = ReadRecordedFrame(reader_, sizes_, index_, stamps, (*color)->pixels(),
                                      *depth ? (*depth)->pixels() : nullptr);
  (*color)->set_time_stamp(stamps[0]);
  if (*depth) (*depth)->set_time_stamp(stamps[1]);
  if (read && !paused_) ++index_;
  return read;
}

}  // namespace pxcsim
