#include "face_tracking/landmark_filter.h"

namespace vantisol {

void LandmarkFilter::Filter(const std::vector<LandmarkData>& in, std::vector<LandmarkData>* out) {
  const bool count_changed = initialised && history.front().size() != in.size();
  if (!initialised || count_changed) {
    history.assign(length, in);
    initialised = true;
  }
  index = (index + 1) % length;
  history[index] = in;
  *out = in;
  for (size_t i = 0; i < in.size(); ++i) {
    float sum = 0;
    for (const auto& list : history) sum += list[i].world[2];
    (*out)[i].world[2] = sum / static_cast<float>(length);
  }
}

}  // namespace vantisol
