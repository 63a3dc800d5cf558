#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "camera/camera_realsense.h"
#include "utils/camera_image.h"

namespace vantisol::tools {

// What the simulation knew about one frame, taken on the camera thread as the frame left it.
struct Truth {
  std::vector<uint8_t> person;  // colour size, 255 where a person is seen
  Size size;
  std::vector<Rectangle> faces;  // true face boxes, colour pixels
  double camera_face_y = -1;     // the frame's own mean Y in the boxes' middle thirds, -1: none
};

// Records the truth of every frame the camera sends, by colour time stamp.
class TruthRecorder {
 public:
  explicit TruthRecorder(CameraRealSense* camera);
  // The truth of the frame with this time stamp, removed with everything older; false if none.
  bool Take(int64_t time_stamp, Truth* truth);

 private:
  void Record(const ImageData& frame);

  CameraRealSense* camera_;
  std::mutex mutex_;
  std::map<int64_t, Truth> truths_;
  utils::ScopedConnection connection_;
};

// The middle third of a face box, as the colour correction measures it.
Rectangle MiddleThird(const Rectangle& box);

}  // namespace vantisol::tools
