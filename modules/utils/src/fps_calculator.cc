#include "utils/fps_calculator.h"

#include <algorithm>
#include <chrono>

namespace vantisol {

namespace {
constexpr int64_t kTicksPerSecond = 10000000;  // 100-ns ticks

int64_t SystemTicks() {
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, kTicksPerSecond>>;
  return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}
}  // namespace

FpsCalculator::FpsCalculator() : FpsCalculator(SystemTicks) {}

FpsCalculator::FpsCalculator(Clock clock) : clock_(std::move(clock)) {}

float FpsCalculator::AddFrame() {
  time_stamps_.push_back(clock_());
  if (time_stamps_.size() < 2) return 0.0f;

  const int64_t last = time_stamps_.back();
  auto first = std::upper_bound(time_stamps_.begin(), time_stamps_.end(), last - kTicksPerSecond);
  if (first != time_stamps_.begin()) --first;

  const auto intervals = static_cast<float>(std::distance(first, time_stamps_.end()) - 1);
  const float span_s = static_cast<float>(last - *first) / static_cast<float>(kTicksPerSecond);
  time_stamps_.erase(time_stamps_.begin(), first);
  return intervals / span_s;
}

}  // namespace vantisol
