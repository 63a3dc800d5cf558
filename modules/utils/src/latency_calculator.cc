#include "utils/latency_calculator.h"

namespace vantisol {

void LatencyCalculator::Checkpoint(const std::string& /*stage*/) {}

std::vector<LatencyCalculator::StageTime> LatencyCalculator::checkpoints() const {
  return stage_times_;
}

}  // namespace vantisol
