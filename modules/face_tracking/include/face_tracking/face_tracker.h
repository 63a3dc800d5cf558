#pragma once

#include <map>
#include <memory>

#include "face_tracking/face_template.h"
#include "utils/camera_image.h"

namespace vantisol {

// One face template per face id of the current frame.
class FaceTracker {
 public:
  FaceTracker();
  virtual ~FaceTracker();

  void Update(std::shared_ptr<const ImageData> data);
  void ResetScale();
  void SetScale(float x, float y, float z);
  // Asks every current face for one scale fit; faces that arrive later are not asked.
  void AdaptScale();

  std::map<int, std::unique_ptr<FaceTemplate>> face_templates_;
  std::unique_ptr<FaceTemplate> base_template_;
  bool filtering_ = true;
};

}  // namespace vantisol
