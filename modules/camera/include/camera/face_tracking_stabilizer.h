#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "utils/camera_image.h"

namespace vantisol {

// Keeps face ids stable across the runtime's renames and short losses.
class FaceTrackingStabilizer {
 public:
  struct TrackedFace {
    int32_t stable_id = 0;
    int32_t runtime_id = 0;
    bool seen = false;
    int64_t last_time_stamp = 0;
    FaceData face;

    void Update(const FaceData& new_face, int64_t time_stamp);
  };

  explicit FaceTrackingStabilizer(float timeout = 7.5f) : timeout_(timeout) {}

  std::map<int, FaceData> Stabilize(std::map<int, FaceData> faces, int64_t time_stamp);
  void AddOrReplace(int id, const FaceData& face, int64_t time_stamp);

  float timeout() const { return timeout_; }
  void set_timeout(float seconds) { timeout_ = seconds; }

 private:
  TrackedFace* FindNearest(const FaceData& face);
  void RemoveExpired(int64_t time_stamp);

  std::vector<TrackedFace> tracked_faces_;
  float timeout_;
};

}  // namespace vantisol
