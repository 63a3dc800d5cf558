#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "algorithms/transformation.h"
#include "utils/camera_image.h"
#include "utils/smoother.h"

namespace vantisol {

// The automatic camera: once per frame it turns the tracked faces into one view each, shown side
// by side in equal vertical strips ordered as the people stand. Views are forced inside the
// picture, held still by a dead zone and smoothed over time. Render thread only.
class FaceCropper {
 public:
  FaceCropper();
  ~FaceCropper();
  FaceCropper(const FaceCropper&) = delete;
  FaceCropper& operator=(const FaceCropper&) = delete;

  // One tile per tracked face; none without faces. `color` supplies the input size, K and the
  // time stamp.
  std::vector<CropTile> Update(const CameraImage& color, std::map<int, FaceData> faces,
                               Size output_size);

 private:
  struct FaceState;

  Size input_size_;
  std::unique_ptr<std::vector<FaceState>> faces_;
  float top_padding_;
  float side_padding_;
  float bottom_padding_;
  float time_constant_;
  float max_angle_;
  float max_scale_deviation_;
  int bisection_steps_;
};

}  // namespace vantisol
