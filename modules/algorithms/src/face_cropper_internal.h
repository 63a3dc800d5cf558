#pragma once

// The automatic camera's geometry, one function a step; shared with its tests.

#include <cstdint>

#include "algorithms/transformation.h"
#include "utils/smoother.h"

namespace vantisol {
namespace algorithms {

// A face's smoother and the view it holds.
struct FaceSmoother {
  explicit FaceSmoother(float time_constant_s) : alpha(time_constant_s) {}
  utils::SmootherAlphaCalculator alpha;
  Transformation smoothed_;
};

// The rotation taking unit vector u onto unit vector v about an axis in the image plane (no
// roll). Parallel vectors give the identity.
Eigen::Quaternionf RotationBetween(const Eigen::Vector3f& u, const Eigen::Vector3f& v);

// The dead zone: the result follows `new_transform` only as far as it has left a cone of
// `max_angle` radians and a band of ±`max_scale_deviation` around `current_transform`.
Transformation GetStuckMapping(const Transformation& current_transform,
                               const Transformation& new_transform, float max_angle,
                               float max_scale_deviation);

// The view of the face box grown by the paddings (fractions of the box's height above and below,
// of its width at the sides), widened or heightened toward the tile's aspect.
Transformation ComputeTarget(const PixelBox& box, Size tile_size, Size input_size,
                             const Eigen::Matrix3f& K, float top, float side, float bottom);

// True when the view lies inside the picture, possibly after the cheapest turn that brings it
// there (then stored in `t`); false and `t` unchanged when no turn does.
bool FitInside(Transformation& t);

// Zooms in just enough (doubling, then `steps` rounds of bisection) for the view to fit inside.
// A view that no zoom brings inside comes back unchanged.
Transformation ZoomInside(const Transformation& t, int steps);

// Blends `value` into the smoother's view with the weight of time stamp `time_ns`.
Transformation SmoothTransformation(FaceSmoother& smoother, const Transformation& value,
                                    int64_t time_ns);

// Every outline point inside [0, width] x [0, height] of the input.
bool OutlineInside(const Transformation& t);

}  // namespace algorithms
}  // namespace vantisol
