#include "utils/shared_queue.h"

#include "utils/logging.h"

namespace vantisol {

void SharedQueue::Push(std::shared_ptr<const ImageData> frame) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    not_full_.wait(lock, [this] { return !slot_ || finish_; });
    if (finish_) return;
    slot_ = std::move(frame);
  }
  not_empty_.notify_one();
}

bool SharedQueue::Pop(std::shared_ptr<const ImageData>& out) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    not_empty_.wait(lock, [this] { return slot_ || finish_; });
    if (finish_) return false;
    out = std::move(slot_);
    slot_.reset();
  }
  not_full_.notify_one();
  return true;
}

void SharedQueue::SetFinish() {
  LOG(INFO) << "SetFinish";
  {
    std::lock_guard<std::mutex> lock(mutex_);
    LOG(INFO) << "Got the lock";
    finish_ = true;
  }
  LOG(INFO) << "Notify...";
  not_empty_.notify_one();
  not_full_.notify_one();
}

}  // namespace vantisol
