#include "camera/face_tracking_stabilizer.h"

#include <algorithm>
#include <limits>

#include "utils/logging.h"

namespace vantisol {
namespace {

void Centre(const Rectangle& r, float* x, float* y) {
  *x = r.x + r.width * 0.5f;
  *y = r.y + r.height * 0.5f;
}

}  // namespace

void FaceTrackingStabilizer::TrackedFace::Update(const FaceData& new_face, int64_t time_stamp) {
  const int32_t depth = face.average_depth;
  face = new_face;
  if (new_face.average_depth == 0) face.average_depth = depth;
  last_time_stamp = time_stamp;
  seen = true;
}

std::map<int, FaceData> FaceTrackingStabilizer::Stabilize(std::map<int, FaceData> faces,
                                                          int64_t time_stamp) {
  for (TrackedFace& tracked : tracked_faces_) {
    if (faces.count(tracked.stable_id)) tracked.runtime_id = tracked.stable_id;
  }
  for (TrackedFace& tracked : tracked_faces_) {
    auto it = faces.find(tracked.runtime_id);
    if (it == faces.end()) {
      tracked.seen = false;
      continue;
    }
    tracked.Update(it->second, time_stamp);
    faces.erase(it);
  }
  for (const auto& [id, face] : faces) AddOrReplace(id, face, time_stamp);
  RemoveExpired(time_stamp);

  std::map<int, FaceData> output;
  for (const TrackedFace& tracked : tracked_faces_) {
    FaceData& face = output[tracked.stable_id] = tracked.face;
    face.not_seen = !tracked.seen;
  }
  return output;
}

FaceTrackingStabilizer::TrackedFace* FaceTrackingStabilizer::FindNearest(const FaceData& face) {
  float x, y;
  Centre(face.rect, &x, &y);
  TrackedFace* best = nullptr;
  float best_distance = std::numeric_limits<float>::max();
  for (TrackedFace& tracked : tracked_faces_) {
    float distance = std::numeric_limits<float>::max();
    if (!tracked.seen) {
      float tx, ty;
      Centre(tracked.face.rect, &tx, &ty);
      distance = (tx - x) * (tx - x) + (ty - y) * (ty - y);
    }
    if (!best || distance < best_distance) {
      best = &tracked;
      best_distance = distance;
    }
  }
  return best;
}

void FaceTrackingStabilizer::AddOrReplace(int id, const FaceData& face, int64_t time_stamp) {
  TrackedFace* nearest = FindNearest(face);
  if (nearest && !nearest->seen) {
    LOG(INFO) << "Face changed id from " << nearest->runtime_id << " to " << id;
    nearest->Update(face, time_stamp);
    nearest->runtime_id = id;
    return;
  }
  LOG(INFO) << "Found new face: " << id;
  tracked_faces_.push_back(TrackedFace{id, id, true, time_stamp, face});
}

void FaceTrackingStabilizer::RemoveExpired(int64_t time_stamp) {
  tracked_faces_.erase(std::remove_if(tracked_faces_.begin(), tracked_faces_.end(),
                                      [&](const TrackedFace& tracked) {
                                        return !tracked.seen &&
                                               double(time_stamp - tracked.last_time_stamp) / 1e9 >
                                                   timeout_;
                                      }),
                       tracked_faces_.end());
}

}  // namespace vantisol
