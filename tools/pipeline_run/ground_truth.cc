#include "ground_truth.h"

#include <algorithm>

#include "pxc/simulation.h"

namespace vantisol::tools {

Rectangle MiddleThird(const Rectangle& box) {
  return Rectangle{box.x + box.width / 3, box.y, box.width / 3, box.height};
}

TruthRecorder::TruthRecorder(CameraRealSense* camera) : camera_(camera) {
  // The camera thread emits after it let go of the runtime, which then still holds this frame.
  connection_ = camera_->frame_signal_.connect(
      [this](std::shared_ptr<const ImageData> frame) { Record(*frame); });
}

void TruthRecorder::Record(const ImageData& frame) {
  Truth truth;
  {
    auto internal = camera_->internal_camera();
    auto* simulation = static_cast<PXCSimulationTruth*>(
        internal->sense_manager()->QueryInstance(PXCSimulationTruth::CUID));
    if (simulation == nullptr) return;
    PXCSizeI32 size{0, 0};
    const uint8_t* mask = simulation->QueryPersonMask(&size);
    if (mask != nullptr) {
      truth.person.assign(mask, mask + size_t(size.width) * size.height);
      truth.size = Size{size.width, size.height};
    }
    for (int i = 0; i < simulation->QueryNumberOfPersons(); ++i) {
      PXCSimulationTruth::Person person{};
      if (simulation->QueryPerson(i, &person) != PXC_STATUS_NO_ERROR) continue;
      truth.faces.push_back(Rectangle{person.box.x, person.box.y, person.box.w, person.box.h});
    }
  }
  if (frame.color.format == Image::Format::kYUY2 && !truth.faces.empty()) {
    double sum = 0;
    long count = 0;
    const Size s = frame.color.size;
    for (const Rectangle& face : truth.faces) {
      const Rectangle r = MiddleThird(face);
      for (int y = std::max(0, r.y); y < std::min(s.height, r.y + r.height); ++y)
        for (int x = std::max(0, r.x); x < std::min(s.width, r.x + r.width); ++x, ++count)
          sum += frame.color.data.get()[(size_t(y) * s.width + x) * 2];
    }
    if (count > 0) truth.camera_face_y = sum / count;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  truths_[frame.color.time_stamp] = std::move(truth);
  // A paused camera or a lost frame must not let the record grow.
  while (truths_.size() > 64) truths_.erase(truths_.begin());
}

bool TruthRecorder::Take(int64_t time_stamp, Truth* truth) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = truths_.find(time_stamp);
  if (it == truths_.end()) return false;
  *truth = it->second;
  truths_.erase(truths_.begin(), it);
  return true;
}

}  // namespace vantisol::tools
