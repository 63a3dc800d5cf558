#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <vector>

#include "face_tracking/face_mesh.h"
#include "utils/camera_image.h"

namespace vantisol {

// The weighted least-squares rigid motion (rotation and translation, no scale, never a reflection)
// that maps `source` onto `target`, as a 4 × 4 transform. Without any weight it is the identity.
Eigen::Matrix4d WeightedRigidAlign(Eigen::Matrix3Xd source, Eigen::Matrix3Xd target,
                                   Eigen::VectorXd weights);

// Head pose from landmarks matched to model vertices.
class RigidTracking {
 public:
  virtual ~RigidTracking() = default;

  // The motion that best maps the mesh, moved by `previous_pose`, onto the landmarks, applied
  // after `previous_pose`. `error` gets the summed squared distances before that motion. The
  // calibrations are not used. Without any usable pair it returns `previous_pose` with error 0.
  Eigen::Affine3f Track(const std::vector<LandmarkData>& landmarks, const FaceMesh& mesh,
                        const Eigen::Affine3f& previous_pose, const Calibration& depth_calibration,
                        const Calibration& color_calibration, float* error);
};

}  // namespace vantisol
