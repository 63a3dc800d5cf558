#pragma once

#include <string>
#include <vector>

#include "utils/latency_calculator.h"

namespace vantisol {
namespace opengl {

// The GPU side's stage record; like LatencyCalculator it records nothing.
class GpuLatencyCalculator : public LatencyCalculatorInterface {
 public:
  GpuLatencyCalculator() = default;
  GpuLatencyCalculator(const GpuLatencyCalculator&) = default;
  GpuLatencyCalculator& operator=(const GpuLatencyCalculator&) = default;

  void Checkpoint(const std::string&) override {}
  std::vector<StageTime> checkpoints() const override { return stage_times_; }

 private:
  std::vector<StageTime> stage_times_;
};

}  // namespace opengl
}  // namespace vantisol
