#pragma once

#include <cstdint>

namespace vantisol::utils {

// Turns the time between two samples into the weight of the new sample for exponential smoothing
// with a fixed time constant, so that irregular frame intervals smooth equally in time.
class SmootherAlphaCalculator {
 public:
  // A time constant of 0 turns smoothing off.
  explicit SmootherAlphaCalculator(float time_constant_s);

  // Weight of a sample taken at `time_ns`: 1 takes the new value, 0 keeps the old one.
  float GetAlpha(int64_t time_ns);
  void Reset();

 private:
  float time_constant_s_;
  int64_t last_time_ns_ = 0;
  bool initialized_ = false;
};

}  // namespace vantisol::utils
