#include "face_tracking/rt_temporal_filter.h"

#include <Eigen/Eigenvalues>
#include <cmath>

namespace vantisol {

float AngularDistance(const Eigen::Quaternionf& a, const Eigen::Quaternionf& b) {
  const Eigen::Quaternionf d = a * b.conjugate();
  return std::abs(2 * std::atan2(d.vec().norm(), std::abs(d.w())));
}

RT_TemporalFilter::RT_TemporalFilter()
    : rotations(length, Eigen::Quaternionf::Identity()),
      translations(length, Eigen::Vector3f::Zero()) {}

void RT_TemporalFilter::Reset(const Eigen::Affine3f& pose) {
  rotation = pose.rotation();
  translation = pose.translation();
  const Eigen::Quaternionf q(rotation);
  rotations.assign(length, q.normalized());
  translations.assign(length, translation);
}

void RT_TemporalFilter::Filter(const Eigen::Affine3f& pose) {
  const Eigen::Matrix3f R = pose.rotation();
  const Eigen::Vector3f t = pose.translation();
  index = (index + 1) % length;
  rotations[index] = Eigen::Quaternionf(R).normalized();
  translations[index] = t;
  auto slot = [this](int j) { return (length - j + index) % length; };
  float spread_t = 0, spread_r = 0;
  for (int j = 1; j < length; ++j) {
    spread_t = std::max(spread_t, (translations[index] - translations[slot(j)]).norm());
    spread_r = std::max(spread_r, AngularDistance(rotations[index], rotations[slot(j)]));
  }
  if (length < 2 || (spread_r < 0.0001f && spread_t < 0.0001f)) {
    rotation = R;
    translation = t;
  } else {
    Eigen::Vector3f sum_t = Eigen::Vector3f::Zero();
    float sum_a = 0;
    Eigen::Matrix4Xf Q(4, length);
    for (int j = 0; j < length; ++j) {
      const float a = std::exp(-j * translation_sharpness * spread_t);
      sum_t += a * translations[slot(j)];
      sum_a += a;
      Q.col(j) = std::exp(-j * rotation_sharpness * spread_r) * rotations[slot(j)].coeffs();
    }
    translation = sum_t / sum_a;
    // The weighted mean rotation is the dominant eigenvector of Σ b q qᵀ.
    const Eigen::Matrix4f M = Q * Q.transpose();
    const Eigen::EigenSolver<Eigen::Matrix4f> solver(M);
    Eigen::Index best = 0;
    for (Eigen::Index i = 1; i < 4; ++i) {
      if (solver.eigenvalues()[i].real() > solver.eigenvalues()[best].real()) best = i;
    }
    const Eigen::Vector4f v = solver.eigenvectors().col(best).real().normalized();
    const Eigen::Quaternionf q(v[3], v[0], v[1], v[2]);
    if (q.coeffs().allFinite()) rotation = q.toRotationMatrix();
  }
  output_ = Eigen::Affine3f::Identity();
  output_.translate(translation);
  output_.rotate(rotation);
}

}  // namespace vantisol
