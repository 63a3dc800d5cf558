#include "camera/face_data.h"

#include <vector>

#include "camera/session.h"
#include "utils/logging.h"

namespace vantisol {
namespace {

Rectangle BoundingRect(PXCFaceData::DetectionData* detection_data) {
  PXCRectI32 rect{};
  if (!detection_data) {
    CLOG(FATAL, "default") << "Check failed: [detection_data->QueryBoundingRect(&rect)] ";
  } else {
    VANTISOL_CHECK(detection_data->QueryBoundingRect(&rect));
  }
  return {rect.x, rect.y, rect.w, rect.h};
}

}  // namespace

std::map<int, FaceData> ProcessFace(PXCFaceModule* face_module, bool single_user) {
  std::map<int, FaceData> faces;
  if (!face_module) {
    LOG(WARNING) << "No face module!";
    return faces;
  }
  PXCPtr<PXCFaceData> output(face_module->CreateOutput());
  if (!output) return faces;
  output->Update();
  const int32_t count = output->QueryNumberOfDetectedFaces();
  for (int32_t i = 0; i < count; ++i) {
    PXCFaceData::Face* face = output->QueryFaceByIndex(i);
    if (!face) continue;
    FaceData data;
    PXCFaceData::DetectionData* detection = face->QueryDetection();
    data.rect = BoundingRect(detection);
    float depth = 0;
    if (detection && detection->QueryFaceAverageDepth(&depth)) {
      data.average_depth = static_cast<int32_t>(depth);
    }
    const int id = face->QueryUserID();

    bool pose_valid = false;
    if (PXCFaceData::PoseData* pose = face->QueryPose()) {
      PXCFaceData::PoseEulerAngles angles{};
      pose_valid = pose->QueryPoseAngles(&angles) == 1;
      PXCFaceData::HeadPosition head{};
      pose->QueryHeadPosition(&head);
      data.position = {head.headCenter.x / 1000, -head.headCenter.y / 1000,
                       head.headCenter.z / 1000};
      data.angles = {-angles.pitch, angles.yaw, -angles.roll};
    }

    int confident = 0;
    PXCFaceData::LandmarksData* landmarks = face->QueryLandmarks();
    if (landmarks) {
      std::vector<PXCFaceData::LandmarkPoint> points(
          static_cast<size_t>(std::max(0, landmarks->QueryNumPoints())));
      if (!points.empty() && landmarks->QueryPoints(points.data())) {
        data.landmarks.reserve(points.size());
        for (const auto& point : points) {
          LandmarkData landmark;
          landmark.world = {point.world.x, -point.world.y, point.world.z};
          landmark.image = {point.image.x, point.image.y};
          landmark.confidence_image = point.confidenceImage;
          landmark.confidence_world = point.confidenceWorld;
          confident += point.confidenceImage == 100 && point.confidenceWorld == 100;
          data.landmarks.push_back(landmark);
        }
      }
    }
    data.landmarks_invalid = !landmarks || confident == 0 || !pose_valid;
    data.not_seen = false;
    faces[id] = std::move(data);
    if (single_user) break;
  }
  return faces;
}

}  // namespace vantisol
