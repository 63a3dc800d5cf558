#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace vantisol {

// Output frames per second over the last second.
class FpsCalculator {
 public:
  // Current time in ticks of 100 ns.
  using Clock = std::function<int64_t()>;

  FpsCalculator();
  explicit FpsCalculator(Clock clock);

  float AddFrame();

  // Stamps still kept, oldest first.
  const std::vector<int64_t>& time_stamps() const { return time_stamps_; }

 private:
  Clock clock_;
  std::vector<int64_t> time_stamps_;
};

}  // namespace vantisol
