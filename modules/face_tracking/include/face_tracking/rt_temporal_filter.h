#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <vector>

namespace vantisol {

// Smooths a pose over the last `length` poses, with weights that fall off faster the more the
// recent poses spread; nearly equal poses pass through unchanged.
class RT_TemporalFilter {
 public:
  RT_TemporalFilter();
  virtual ~RT_TemporalFilter() = default;

  // Every ring slot and the last output rotation and translation become the pose; `output` stays.
  void Reset(const Eigen::Affine3f& pose);
  void Filter(const Eigen::Affine3f& pose);
  const Eigen::Affine3f& output() const { return output_; }

  int index = 0;
  int length = 5;
  std::vector<Eigen::Quaternionf> rotations;
  std::vector<Eigen::Vector3f> translations;
  Eigen::Matrix3f rotation = Eigen::Matrix3f::Identity();
  Eigen::Vector3f translation = Eigen::Vector3f::Zero();
  float translation_sharpness = 100;
  float rotation_sharpness = 1.0f;

 private:
  Eigen::Affine3f output_ = Eigen::Affine3f::Identity();
};

// Angular distance in radians between two unit quaternions.
float AngularDistance(const Eigen::Quaternionf& a, const Eigen::Quaternionf& b);

}  // namespace vantisol
