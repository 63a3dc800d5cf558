#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "utils/camera_image.h"

namespace vantisol {

// One-slot blocking hand-over of frames from the camera thread to the render thread. A full slot
// holds the producer back; nothing is dropped until the queue is finished.
class SharedQueue {
 public:
  SharedQueue() = default;
  SharedQueue(const SharedQueue&) = delete;
  SharedQueue& operator=(const SharedQueue&) = delete;

  // Waits while the slot is full; a finished queue drops the frame.
  void Push(std::shared_ptr<const ImageData> frame);
  // Waits while the slot is empty; false once the queue is finished.
  bool Pop(std::shared_ptr<const ImageData>& out);
  // Releases both sides for good.
  void SetFinish();

 private:
  std::condition_variable not_empty_;
  std::condition_variable not_full_;
  std::shared_ptr<const ImageData> slot_;
  bool finish_ = false;
  std::mutex mutex_;
};

}  // namespace vantisol
