#pragma once

#include <vector>

#include "utils/camera_image.h"

namespace vantisol {

// Averages each landmark's depth over the last `length` lists.
class LandmarkFilter {
 public:
  virtual ~LandmarkFilter() = default;

  // A list whose length differs from the stored ones refills the history with it.
  void Filter(const std::vector<LandmarkData>& in, std::vector<LandmarkData>* out);

  std::vector<std::vector<LandmarkData>> history;
  int index = 0;
  int length = 3;
  bool initialised = false;
};

}  // namespace vantisol
