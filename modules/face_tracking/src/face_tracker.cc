#include "face_tracking/face_tracker.h"

#include "utils/logging.h"

namespace vantisol {

FaceTracker::FaceTracker() : base_template_(std::make_unique<FaceTemplate>()) {
  base_template_->filtering_ = filtering_;
}

FaceTracker::~FaceTracker() {
  face_templates_.clear();
  base_template_.reset();
}

void FaceTracker::Update(std::shared_ptr<const ImageData> data) {
  for (const auto& entry : data->faces) {
    const int id = entry.first;
    if (face_templates_.count(id) == 0) {
      face_templates_[id] = std::make_unique<FaceTemplate>(*base_template_);
      LOG(INFO) << "FaceTracker - face added " << id;
    }
  }
  for (auto it = face_templates_.begin(); it != face_templates_.end();) {
    if (data->faces.count(it->first) == 0) {
      LOG(INFO) << "FaceTracker - face deleted " << it->first;
      it = face_templates_.erase(it);
    } else {
      ++it;
    }
  }
  VANTISOL_CHECK(data->faces.size() == face_templates_.size());
  for (auto& [id, face_template] : face_templates_) face_template->Update(data, id);
}

void FaceTracker::ResetScale() {
  for (auto& entry : face_templates_) entry.second->ResetScale();
  base_template_->ResetScale();
}

void FaceTracker::SetScale(float x, float y, float z) {
  for (auto& entry : face_templates_) entry.second->SetScale(x, y, z);
  base_template_->SetScale(x, y, z);
}

void FaceTracker::AdaptScale() {
  for (auto& entry : face_templates_) entry.second->adapt_scale_requested_ = true;
}

}  // namespace vantisol
