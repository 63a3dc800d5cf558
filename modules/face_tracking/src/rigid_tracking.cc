#include "face_tracking/rigid_tracking.h"

#include <Eigen/SVD>

namespace vantisol {

Eigen::Matrix4d WeightedRigidAlign(Eigen::Matrix3Xd source, Eigen::Matrix3Xd target,
                                   Eigen::VectorXd weights) {
  Eigen::Matrix4d result = Eigen::Matrix4d::Identity();
  const double sum = weights.sum();
  if (source.cols() == 0 || source.cols() != target.cols() || weights.size() != source.cols() ||
      !(sum > 0) || !std::isfinite(sum)) {
    return result;
  }
  weights /= sum;
  const Eigen::Vector3d mean_source = source * weights;
  const Eigen::Vector3d mean_target = target * weights;
  source.colwise() -= mean_source;
  target.colwise() -= mean_target;
  const Eigen::Matrix3d covariance = source * weights.asDiagonal() * target.transpose();
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(covariance,
                                              Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::Matrix3d& U = svd.matrixU();
  const Eigen::Matrix3d& V = svd.matrixV();
  Eigen::Matrix3d R;
  if (V.determinant() * U.determinant() >= 0) {
    R = V * U.transpose();
  } else {
    R = V * Eigen::Vector3d(1, 1, -1).asDiagonal() * U.transpose();
  }
  result.topLeftCorner<3, 3>() = R;
  result.topRightCorner<3, 1>() = mean_target - R * mean_source;
  if (!result.allFinite()) return Eigen::Matrix4d::Identity();
  return result;
}

Eigen::Affine3f RigidTracking::Track(const std::vector<LandmarkData>& landmarks,
                                     const FaceMesh& mesh, const Eigen::Affine3f& previous_pose,
                                     const Calibration& /*depth_calibration*/,
                                     const Calibration& /*color_calibration*/, float* error) {
  Eigen::Matrix3Xf source(3, mesh.matching.size());
  Eigen::Matrix3Xf target(3, mesh.matching.size());
  Eigen::Index n = 0;
  for (const auto& [a, v] : mesh.matching) {
    if (a < 0 || a >= static_cast<int>(landmarks.size()) || v < 0 || v >= mesh.vertex_count()) {
      continue;
    }
    target.col(n) = Eigen::Vector3f::Map(landmarks[a].world.data());
    source.col(n) = previous_pose * mesh.vertices[v];
    ++n;
  }
  if (error) *error = 0;
  if (n == 0) return previous_pose;
  source.conservativeResize(3, n);
  target.conservativeResize(3, n);
  if (error) *error = (target - source).colwise().squaredNorm().sum();
  const Eigen::Matrix4d motion =
      WeightedRigidAlign(source.cast<double>(), target.cast<double>(), Eigen::VectorXd::Ones(n));
  return Eigen::Affine3f(motion.cast<float>()) * previous_pose;
}

}  // namespace vantisol
