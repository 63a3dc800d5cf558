#include "face_tracking/face_template.h"

#include <Eigen/Cholesky>
#include <QtGlobal>
#include <cmath>

#include "utils/logging.h"

// Q_INIT_RESOURCE declares its function in the enclosing namespace, so it lives out here.
static void RegisterFaceModelResources() { Q_INIT_RESOURCE(face_model); }

namespace vantisol {
namespace {

bool ValidFactor(float f) { return std::isfinite(f) && f > 0; }

}  // namespace

FaceTemplate::FaceTemplate()
    : model_mesh_(std::make_unique<FaceMesh>()),
      world_mesh_(std::make_unique<FaceMesh>()),
      rigid_tracking_(std::make_unique<RigidTracking>()),
      blendshapes_(std::make_unique<Blendshapes>()),
      temporal_filter_(std::make_unique<RT_TemporalFilter>()),
      landmark_filter_(std::make_unique<LandmarkFilter>()) {
  RegisterFaceModelResources();
  world_mesh_->LoadObjQt("resources/average_face_0.obj");
  world_mesh_->LoadSubsetIndicesQt("resources/fill_triangles.txt", world_mesh_->fill_triangles);
  world_mesh_->LoadMatchingQt("resources/matching_facewarehouse_mirrored.txt");
  world_mesh_->LoadSubsetIndicesQt("resources/front_triangles.txt", world_mesh_->front_triangles);
  world_mesh_->LoadSubsetIndicesQt("resources/eye_triangles.txt", world_mesh_->eye_triangles);
  world_mesh_->LoadEyeRotationOffsetsQt("resources/eye_offsets.txt");
  blendshapes_->Load("resources/shape_avg.bs");
  scale_ = {1, 1, 1};
  blendshapes_->ResetExpression(world_mesh_.get());
  *model_mesh_ = *world_mesh_;
  temporal_filter_->Reset(raw_pose_);
}

FaceTemplate::FaceTemplate(const FaceTemplate& base)
    : model_mesh_(std::make_unique<FaceMesh>(*base.world_mesh_)),
      world_mesh_(std::make_unique<FaceMesh>(*base.world_mesh_)),
      rigid_tracking_(std::make_unique<RigidTracking>()),
      blendshapes_(std::make_unique<Blendshapes>(*base.blendshapes_)),
      temporal_filter_(std::make_unique<RT_TemporalFilter>()),
      landmark_filter_(std::make_unique<LandmarkFilter>()) {
  // The model mesh carries the base's scale from the start, like the blendshapes.
  blendshapes_->ResetExpression(model_mesh_.get());
  blendshapes_->ResetExpression(world_mesh_.get());
  scale_ = base.scale_;
  temporal_filter_->Reset(Eigen::Affine3f::Identity());
}

FaceTemplate::~FaceTemplate() = default;

void FaceTemplate::ApplyScale(const std::array<float, 3>& factors) {
  model_mesh_->Scale(factors);
  blendshapes_->Scale(factors);
  for (int k = 0; k < 3; ++k) scale_[k] *= factors[k];
}

void FaceTemplate::ResetScale() {
  // Every scale that reaches scale_ is finite and positive, so the inverse is too.
  model_mesh_->Scale(1 / scale_[0], 1 / scale_[1], 1 / scale_[2]);
  blendshapes_->Scale({1 / scale_[0], 1 / scale_[1], 1 / scale_[2]});
  LOG(INFO) << "Reset Scale";
  scale_ = {1, 1, 1};
}

void FaceTemplate::SetScale(float x, float y, float z) {
  if (!ValidFactor(x) || !ValidFactor(y) || !ValidFactor(z)) {
    LOG(WARNING) << "Face template scale refused: " << x << " " << y << " " << z;
    return;
  }
  ResetScale();
  ApplyScale({x, y, z});
}

float FaceTemplate::HeadAngle(std::shared_ptr<const ImageData> data) const {
  const Eigen::Vector3f f = (pose_.rotation() * Eigen::Vector3f(0, 0, -1)).normalized();
  const Eigen::Vector3f c = Eigen::Vector3f::Map(data->color.calibration.T.data());
  const Eigen::Vector3f to_camera = c - pose_.translation();
  if (!(to_camera.norm() > 0)) return 0;
  const float cosine = std::clamp(f.dot(to_camera.normalized()), -1.0f, 1.0f);
  return std::acos(cosine) * 180 / 3.1415927f;
}

std::array<float, 3> FaceTemplate::ScaleStep(const std::vector<LandmarkData>& landmarks) const {
  Eigen::Matrix2f AtA = Eigen::Matrix2f::Zero();
  Eigen::Vector2f Atb = Eigen::Vector2f::Zero();
  for (const auto& [a, v] : model_mesh_->matching) {
    if (a < 0 || a >= static_cast<int>(landmarks.size()) || v < 0 ||
        v >= model_mesh_->vertex_count() || landmarks[a].confidence_world < 100) {
      continue;
    }
    const Eigen::Vector3f w = raw_pose_ * model_mesh_->vertices[v];
    AtA(0, 0) += w.x() * w.x();
    AtA(1, 1) += w.y() * w.y();
    Atb[0] += w.x() * landmarks[a].world[0];
    Atb[1] += w.y() * landmarks[a].world[1];
  }
  const Eigen::LDLT<Eigen::Matrix2f> ldlt(AtA);
  const Eigen::Vector2f x = ldlt.solve(Atb);
  // No usable pair (or all on an axis): no step, which ends the fit with the scale unchanged.
  if (ldlt.info() != Eigen::Success || !(AtA(0, 0) > 0) || !(AtA(1, 1) > 0) || !ValidFactor(x[0]) ||
      !ValidFactor(x[1])) {
    return {1, 1, 1};
  }
  return {x[0], x[1], 1};
}

void FaceTemplate::FitScale(std::shared_ptr<const ImageData> data,
                            const std::vector<LandmarkData>& landmarks) {
  bool converged = false;
  for (int n = 0; n < 500; ++n) {
    float error = 0;
    raw_pose_ = rigid_tracking_->Track(landmarks, *model_mesh_, raw_pose_, data->depth.calibration,
                                       data->color.calibration, &error);
    blendshapes_->UpdateExpression(data, landmarks, raw_pose_, model_mesh_.get());
    const std::array<float, 3> f = ScaleStep(landmarks);
    ApplyScale(f);
    if (f[0] == 1 && f[1] == 1) {
      LOG(INFO) << "face template scale converged at " << n << " iterations";
      converged = true;
      break;
    }
  }
  LOG(INFO) << "Update scale: x  " << scale_[0] << " y " << scale_[1];
  if (!converged) {
    LOG(INFO) << "face template scale not converged";
    ResetScale();
  }
  adapt_scale_requested_ = false;
}

bool FaceTemplate::Lost(std::shared_ptr<const ImageData> data) const {
  const Eigen::Vector3f t = raw_pose_.translation();
  const double jump = (t - previous_pose_.translation()).norm();
  const double turn = AngularDistance(Eigen::Quaternionf(raw_pose_.rotation()).normalized(),
                                      Eigen::Quaternionf(previous_pose_.rotation()).normalized());
  // A new template (no fade step yet) has no previous pose of its own, only the identity: the jump
  // from there and the error measured there say nothing about the fit.
  const bool first_frame = good_frames_ == 1000;
  const bool jumped = !first_frame && (jump > 0.0275604 || turn > 0.2913003 ||
                                       static_cast<double>(tracking_error_) > 0.021003609313869475);
  return jumped || HeadAngle(data) > 50.0f || static_cast<double>(t.norm()) < 0.1 ||
         raw_pose_.linear().determinant() < 0.0f || !raw_pose_.matrix().allFinite();
}

void FaceTemplate::Fade(bool lost) {
  good_frames_ = lost ? 0 : std::min(good_frames_ + 1, 10);
  weight_ = good_frames_ < 10 ? std::max(0.0f, weight_ - 0.05f) : std::min(1.0f, weight_ + 0.05f);
}

void FaceTemplate::Update(std::shared_ptr<const ImageData> data, int id) {
  const auto face = data->faces.find(id);
  if (face == data->faces.end()) return;
  std::vector<LandmarkData> landmarks = face->second.landmarks;
  if (landmarks.empty()) return;
  if (filtering_) {
    landmark_filter_->Filter(landmarks, &filtered_landmarks_);
    landmarks = filtered_landmarks_;
  }
  if (adapt_scale_requested_) FitScale(data, landmarks);

  previous_pose_ = raw_pose_;
  raw_pose_ = rigid_tracking_->Track(landmarks, *model_mesh_, raw_pose_, data->depth.calibration,
                                     data->color.calibration, &tracking_error_);
  pose_ = raw_pose_;
  if (filtering_) {
    temporal_filter_->Filter(raw_pose_);
    pose_ = temporal_filter_->output();
  }
  blendshapes_->UpdateExpression(data, landmarks, pose_, model_mesh_.get());

  const bool lost = Lost(data);
  Fade(lost);
  if (lost) return;
  const int n = std::min(world_mesh_->vertex_count(), model_mesh_->vertex_count());
  for (int i = 0; i < n; ++i) world_mesh_->vertices[i] = pose_ * model_mesh_->vertices[i];
}

}  // namespace vantisol
