#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <array>
#include <memory>
#include <vector>

#include "face_tracking/blendshapes.h"
#include "face_tracking/face_mesh.h"
#include "face_tracking/landmark_filter.h"
#include "face_tracking/rigid_tracking.h"
#include "face_tracking/rt_temporal_filter.h"
#include "utils/camera_image.h"

namespace vantisol {

// The fitted 3D face model of one tracked face: pose, expression, scale and a fade weight.
class FaceTemplate {
 public:
  // Loads the face model from the compiled-in resources.
  FaceTemplate();
  // A fresh template for a new face with the base's model and scale.
  FaceTemplate(const FaceTemplate& base);
  FaceTemplate& operator=(const FaceTemplate&) = delete;
  virtual ~FaceTemplate();

  void Update(std::shared_ptr<const ImageData> data, int id);
  void ResetScale();
  void SetScale(float x, float y, float z);
  // Degrees between the face's forward axis and the direction to the colour camera.
  float HeadAngle(std::shared_ptr<const ImageData> data) const;

  float weight_ = 0;
  int32_t good_frames_ = 1000;
  float tracking_error_ = 0;
  Eigen::Affine3f raw_pose_ = Eigen::Affine3f::Identity();
  Eigen::Affine3f pose_ = Eigen::Affine3f::Identity();
  Eigen::Affine3f previous_pose_ = Eigen::Affine3f::Identity();
  std::vector<LandmarkData> filtered_landmarks_;
  std::unique_ptr<FaceMesh> model_mesh_;
  std::unique_ptr<FaceMesh> world_mesh_;
  std::unique_ptr<RigidTracking> rigid_tracking_;
  std::unique_ptr<Blendshapes> blendshapes_;
  std::unique_ptr<RT_TemporalFilter> temporal_filter_;
  std::unique_ptr<LandmarkFilter> landmark_filter_;
  bool adapt_scale_requested_ = false;
  bool filtering_ = true;
  std::array<float, 3> scale_ = {1, 1, 1};

 private:
  void FitScale(std::shared_ptr<const ImageData> data, const std::vector<LandmarkData>& landmarks);
  std::array<float, 3> ScaleStep(const std::vector<LandmarkData>& landmarks) const;
  void ApplyScale(const std::array<float, 3>& factors);
  bool Lost(std::shared_ptr<const ImageData> data) const;
  void Fade(bool lost);
};

}  // namespace vantisol
