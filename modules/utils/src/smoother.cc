#include "utils/smoother.h"

#include <cmath>

#include "utils/logging.h"

namespace vantisol::utils {

SmootherAlphaCalculator::SmootherAlphaCalculator(float time_constant_s)
    : time_constant_s_(time_constant_s) {}

float SmootherAlphaCalculator::GetAlpha(int64_t time_ns) {
  if (!initialized_) {
    last_time_ns_ = time_ns;
    initialized_ = true;
    return 1.0f;
  }
  const float delta_t_s = static_cast<float>(time_ns - last_time_ns_) * 1e-9f;
  VANTISOL_CHECK(delta_t_s >= 0);
  last_time_ns_ = time_ns;
  if (time_constant_s_ == 0.0f) return 1.0f;
  // A stamp from the past carries no newer information: keep the smoothed value.
  if (delta_t_s < 0) return 0.0f;
  return 1.0f - std::exp(-delta_t_s / time_constant_s_);
}

void SmootherAlphaCalculator::Reset() { initialized_ = false; }

}  // namespace vantisol::utils
