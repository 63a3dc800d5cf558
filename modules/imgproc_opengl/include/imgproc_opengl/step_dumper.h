#pragma once

#include <set>
#include <string>
#include <vector>

#include "opengl/texture.h"

namespace vantisol {
namespace opengl {

// Debugging aid: the intermediate textures of an operator, offered under step names, are written
// as PNG files when the environment variable VANTISOL_DUMP_STEPS names a folder. Otherwise only
// the step names are recorded.
class StepDumper {
 public:
  static constexpr const char* kDirectoryVariable = "VANTISOL_DUMP_STEPS";

  explicit StepDumper(std::string name);

  void Save(std::string step, Texture& texture);

  const std::vector<std::string>& steps() const { return steps_; }
  int frame() const { return frame_; }

 private:
  std::string name_;
  std::string prefix_;
  int frame_ = 0;
  std::string directory_;
  bool counter_last_ = false;
  std::vector<std::string> steps_;
  // Steps offered since the counter last moved; offering one again starts the next frame.
  std::set<std::string> offered_;
};

}  // namespace opengl
}  // namespace vantisol
