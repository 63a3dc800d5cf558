#pragma once

#include <Eigen/Geometry>
#include <array>
#include <memory>
#include <random>

#include "face_tracking/face_template.h"

namespace vantisol {
namespace test {

// A face made from the model itself: known pose, expression weights and width/height scale.
struct SyntheticFace {
  Eigen::Affine3f pose = Eigen::Affine3f(Eigen::Translation3f(0.02f, -0.01f, 0.55f));
  Eigen::VectorXf weights = Eigen::VectorXf::Zero(7);
  std::array<float, 3> scale = {1, 1, 1};
  bool mirrored = false;
  float noise = 0;  // metres, per coordinate
};

// The landmarks of `face` (one per matching pair, in landmark order) under the model of `model`,
// which must be unscaled and neutral.
inline std::vector<LandmarkData> MakeLandmarks(const FaceTemplate& model, const SyntheticFace& face,
                                               std::mt19937& random) {
  const Blendshapes& b = *model.blendshapes_;
  const Eigen::VectorXf m = b.mean + b.shapes * face.weights;
  std::normal_distribution<float> noise(0, face.noise > 0 ? face.noise : 1);
  std::vector<LandmarkData> landmarks;
  for (const auto& [a, v] : model.world_mesh_->matching) {
    if (static_cast<int>(landmarks.size()) <= a) landmarks.resize(a + 1);
    Eigen::Vector3f p(m.segment<3>(3 * v));
    p = p.cwiseProduct(Eigen::Vector3f(face.scale[0], face.scale[1], face.scale[2]));
    if (face.mirrored) p.x() = -p.x();
    p = face.pose * p;
    if (face.noise > 0) p += Eigen::Vector3f(noise(random), noise(random), noise(random));
    Eigen::Vector3f::Map(landmarks[a].world.data()) = p;
    landmarks[a].confidence_image = landmarks[a].confidence_world = 100;
  }
  return landmarks;
}

inline std::shared_ptr<const ImageData> MakeFrame(std::map<int, FaceData> faces) {
  CameraImage color;
  color.calibration.R = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  return std::make_shared<const ImageData>(color, CameraImage(), CameraImage(), CameraImage(),
                                           faces, LatencyCalculator());
}

inline std::shared_ptr<const ImageData> MakeFrame(const FaceTemplate& model,
                                                  const SyntheticFace& face, std::mt19937& random,
                                                  int id = 1) {
  FaceData data;
  data.landmarks = MakeLandmarks(model, face, random);
  return MakeFrame({{id, data}});
}

}  // namespace test
}  // namespace vantisol
