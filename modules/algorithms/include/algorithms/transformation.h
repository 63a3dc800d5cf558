#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <vector>

#include "utils/camera_image.h"

namespace vantisol {

// An integer box in input pixels (min and max corner); the default box is empty.
using PixelBox = Eigen::AlignedBox<int, 2>;

// One virtual camera view of the colour picture: the colour camera turned about its own centre
// and zoomed, seen through a pinhole of the same focal length centred on an output rectangle.
class Transformation {
 public:
  // A placeholder to be assigned before use.
  Transformation();
  Transformation(const Eigen::Matrix3f& K, Size input_resolution, Size output_resolution,
                 const Eigen::Quaternionf& rotation, float scale);
  // Aims at the box centre and zooms so that the view covers as many input pixels as the box.
  Transformation(const Eigen::Matrix3f& K, Size input_resolution, Size output_resolution,
                 const PixelBox& box);

  // With an empty box the rotation and the scale are taken as given; otherwise both are derived
  // from the box and the arguments are not used.
  void SetTargetPosition(const PixelBox& box, const Eigen::Quaternionf& rotation, float scale);
  // Recomputes the matrix after the scale has changed.
  void UpdateMatrix();
  void SetRotation(const Eigen::Quaternionf& rotation);

  // The output corners (0, 0), (W, 0), (W, H), (0, H) in input pixels.
  std::vector<Eigen::Vector2f> InputOutline() const;

  const Eigen::Matrix3f& input_K() const { return input_K_; }
  Size input_resolution() const { return input_resolution_; }
  Size output_resolution() const { return output_resolution_; }
  const Eigen::Quaternionf& rotation() const { return rotation_; }
  float scale() const { return scale_; }
  void set_scale(float scale) { scale_ = scale; }
  // Input pixel (x, y, 1) to output pixel, projective.
  const Eigen::Matrix3f& matrix() const { return matrix_; }

 private:
  Eigen::Quaternionf rotation_ = Eigen::Quaternionf::Identity();
  float scale_ = 1.0f;
  Eigen::Matrix3f input_K_ = Eigen::Matrix3f::Identity();
  Size output_resolution_;
  Size input_resolution_;
  Eigen::Matrix3f matrix_ = Eigen::Matrix3f::Identity();
};

// One face's part of the output: `matrix` maps input pixels to pixels relative to the corner of
// `rectangle`. Stored column-major (Eigen's order) and uploaded untransposed.
struct CropTile {
  Rectangle rectangle;
  Eigen::Matrix3f matrix = Eigen::Matrix3f::Identity();
};

namespace utils {

// Slerp of the rotation and a linear blend of the scale; both views must share K and sizes.
Transformation Interpolate(const Transformation& current_transform,
                           const Transformation& new_transform, float t);

}  // namespace utils
}  // namespace vantisol
