#include "algorithms/transformation.h"

#include <cmath>

#include "utils/logging.h"

namespace vantisol {

namespace {

Eigen::Vector2f Project(const Eigen::Matrix3f& m, float x, float y) {
  const Eigen::Vector3f q = m * Eigen::Vector3f(x, y, 1.0f);
  return Eigen::Vector2f(q.x() / q.z(), q.y() / q.z());
}

std::vector<Eigen::Vector2f> Corners(const Eigen::Matrix3f& m, Size size) {
  const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
  return {Project(m, 0, 0), Project(m, w, 0), Project(m, w, h), Project(m, 0, h)};
}

}  // namespace

Transformation::Transformation() = default;

Transformation::Transformation(const Eigen::Matrix3f& K, Size input_resolution,
                               Size output_resolution, const Eigen::Quaternionf& rotation,
                               float scale)
    : input_K_(K), output_resolution_(output_resolution), input_resolution_(input_resolution) {
  SetTargetPosition(PixelBox(), rotation, scale);
}

Transformation::Transformation(const Eigen::Matrix3f& K, Size input_resolution,
                               Size output_resolution, const PixelBox& box)
    : input_K_(K), output_resolution_(output_resolution), input_resolution_(input_resolution) {
  if (!box.isEmpty()) SetTargetPosition(box, Eigen::Quaternionf::Identity(), 0.0f);
}

void Transformation::SetTargetPosition(const PixelBox& box, const Eigen::Quaternionf& rotation,
                                       float scale) {
  const Eigen::Matrix3f k_inv = input_K_.inverse();
  if (box.isEmpty()) {
    rotation_ = rotation;
    scale_ = scale;
  } else {
    const Eigen::Vector2i centre = (box.min() + box.max()) / 2;
    const Eigen::Vector3f direction =
        (k_inv * Eigen::Vector3f(static_cast<float>(centre.x()), static_cast<float>(centre.y()), 1))
            .normalized();
    rotation_ = Eigen::Quaternionf::FromTwoVectors(Eigen::Vector3f::UnitZ(), direction);
  }
  const float half_w = output_resolution_.width * 0.5f;
  const float half_h = output_resolution_.height * 0.5f;
  // The condition's text is part of the log vocabulary: keep its spacing.
  // clang-format off
  VANTISOL_CHECK(input_K_(0, 0) >= input_K_(1, 1)*0.99 && input_K_(0, 0) <= input_K_(1, 1)*1.01)
      << "Expect focal length to be the same for x and y";
  // clang-format on
  // Eigen's inverse of a zero quaternion is the zero quaternion, whose rotation matrix would be
  // the identity; the view of a degenerate rotation must be degenerate too.
  const Eigen::Matrix3f r_inv = rotation_.squaredNorm() > 0 ? rotation_.inverse().toRotationMatrix()
                                                            : Eigen::Matrix3f::Zero().eval();
  if (!box.isEmpty()) {
    Eigen::Matrix3f k1;
    k1 << input_K_(0, 0), 0, half_w, 0, input_K_(1, 1), half_h, 0, 0, 1;
    const Eigen::Matrix3f m1 = k1 * r_inv * k_inv;
    const auto corners = Corners(m1.inverse(), output_resolution_);
    float area = 0;
    for (size_t i = 0; i < corners.size(); ++i) {
      const Eigen::Vector2f& a = corners[i];
      const Eigen::Vector2f& b = corners[(i + 1) % corners.size()];
      area += a.x() * b.y() - b.x() * a.y();
    }
    area *= 0.5f;
    const Eigen::Vector2i extent = box.max() - box.min();
    // In float: the area of a box of large coordinates does not fit an int.
    scale_ = std::sqrt(area / (static_cast<float>(extent.x()) * static_cast<float>(extent.y())));
  }
  Eigen::Matrix3f k2;
  k2 << scale_ * input_K_(0, 0), 0, half_w, 0, scale_ * input_K_(1, 1), half_h, 0, 0, 1;
  matrix_ = k2 * r_inv * k_inv;
}

void Transformation::UpdateMatrix() { SetTargetPosition(PixelBox(), rotation_, scale_); }

void Transformation::SetRotation(const Eigen::Quaternionf& rotation) {
  rotation_ = rotation;
  SetTargetPosition(PixelBox(), rotation, scale_);
}

std::vector<Eigen::Vector2f> Transformation::InputOutline() const {
  return Corners(matrix_.inverse(), output_resolution_);
}

namespace utils {

Transformation Interpolate(const Transformation& current_transform,
                           const Transformation& new_transform, float t) {
  VANTISOL_CHECK(current_transform.input_K().isApprox(new_transform.input_K()));
  VANTISOL_CHECK(current_transform.input_resolution() == new_transform.input_resolution());
  VANTISOL_CHECK(current_transform.output_resolution() == new_transform.output_resolution());
  // A blend of two equal values can be an ulp off in float; a view held still by the dead zone
  // must come out bit for bit the same, so equal ends are kept as they are.
  const Eigen::Quaternionf& a = current_transform.rotation();
  const Eigen::Quaternionf& b = new_transform.rotation();
  const Eigen::Quaternionf rotation = a.coeffs() == b.coeffs() ? a : a.slerp(t, b);
  const float sa = current_transform.scale(), sb = new_transform.scale();
  const float scale = sa == sb ? sa : (1 - t) * sa + t * sb;
  return Transformation(current_transform.input_K(), current_transform.input_resolution(),
                        current_transform.output_resolution(), rotation, scale);
}

}  // namespace utils
}  // namespace vantisol
