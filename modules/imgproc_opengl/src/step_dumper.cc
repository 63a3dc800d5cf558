#include "imgproc_opengl/step_dumper.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "imgproc/save.h"

namespace vantisol {
namespace opengl {

StepDumper::StepDumper(std::string name) : name_(std::move(name)) {
  if (const char* directory = std::getenv(kDirectoryVariable)) directory_ = directory;
}

void StepDumper::Save(std::string step, Texture& texture) {
  auto found = std::find(steps_.begin(), steps_.end(), step);
  const int index = int(found - steps_.begin());
  if (found == steps_.end()) steps_.push_back(step);
  if (directory_.empty()) return;
  if (!offered_.insert(step).second) {
    ++frame_;
    offered_ = {step};
  }
  char counter[16];
  std::snprintf(counter, sizeof(counter), "%04d", frame_ % 10000);
  std::string file = directory_ + "/";
  if (!counter_last_) file += std::string(counter) + " ";
  file += prefix_ + name_ + " " + std::to_string(index) + "." + step;
  if (counter_last_) file += std::string(" ") + counter;
  imgproc::Save(texture.Download(), file + ".png");
}

}  // namespace opengl
}  // namespace vantisol
