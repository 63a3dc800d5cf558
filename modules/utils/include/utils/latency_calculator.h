#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantisol {

// A per-frame stage record. Stages mark named points as the frame passes; in this system marking
// records nothing, but the record still travels with the frame and its output.
class LatencyCalculatorInterface {
 public:
  struct StageTime {
    std::string stage;
    int64_t time = 0;
  };

  virtual ~LatencyCalculatorInterface() = default;
  virtual void Checkpoint(const std::string& stage) = 0;
  virtual std::vector<StageTime> checkpoints() const = 0;

  std::string name;

 protected:
  LatencyCalculatorInterface() = default;
  LatencyCalculatorInterface(const LatencyCalculatorInterface&) = default;
  LatencyCalculatorInterface& operator=(const LatencyCalculatorInterface&) = default;
};

class LatencyCalculator : public LatencyCalculatorInterface {
 public:
  LatencyCalculator() = default;
  LatencyCalculator(const LatencyCalculator&) = default;
  LatencyCalculator& operator=(const LatencyCalculator&) = default;

  void Checkpoint(const std::string& stage) override;
  std::vector<StageTime> checkpoints() const override;

 private:
  std::vector<StageTime> stage_times_;
};

}  // namespace vantisol
