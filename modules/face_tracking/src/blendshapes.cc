#include "face_tracking/blendshapes.h"

#include <Eigen/LU>
#include <QFile>
#include <cstring>

#include "utils/logging.h"

namespace vantisol {

bool LoadExpressionsQt(const std::string& name, const std::vector<int>& indices,
                       Eigen::VectorXf* mean, Eigen::MatrixXf* shapes) {
  QFile file(QString::fromStdString(":/" + name));
  if (!file.open(QIODevice::ReadOnly)) {
    LOG(WARNING) << "Could not open blendshapes file: " << name;
    return false;
  }
  const QByteArray bytes = file.readAll();
  return ParseExpressions(bytes.constData(), static_cast<size_t>(bytes.size()), name, indices, mean,
                          shapes);
}

bool ParseExpressions(const char* bytes, size_t size, const std::string& name,
                      const std::vector<int>& indices, Eigen::VectorXf* mean,
                      Eigen::MatrixXf* shapes) {
  int32_t header[3] = {0, 0, 0};
  if (size >= 12) std::memcpy(header, bytes, 12);
  const int64_t s = header[0], v = header[1];
  // Both counts fit 31 bits, so their product fits 62 and the division below cannot overflow.
  const bool sizes_ok = size >= 12 && s >= 0 && v >= 0 && (size - 12) % 12 == 0 &&
                        static_cast<uint64_t>(v) * static_cast<uint64_t>(s + 1) == (size - 12) / 12;
  bool indices_ok = true;
  for (int index : indices) indices_ok = indices_ok && index >= 0 && index < s;
  if (!sizes_ok || !indices_ok) {
    LOG(WARNING) << "Blendshapes file " << name << " is malformed: " << size << " bytes for " << s
                 << " shapes of " << v << " vertices";
    return false;
  }
  // The bytes need not be aligned for floats: copy them out once.
  std::vector<float> data((size - 12) / sizeof(float));
  if (!data.empty()) std::memcpy(data.data(), bytes + 12, data.size() * sizeof(float));
  const Eigen::Index n = 3 * v;
  *mean = Eigen::Map<const Eigen::VectorXf>(data.data(), n);
  shapes->resize(n, static_cast<Eigen::Index>(indices.size()));
  for (size_t k = 0; k < indices.size(); ++k) {
    shapes->col(k) =
        Eigen::Map<const Eigen::VectorXf>(data.data() + n * (indices[k] + 1), n) - *mean;
  }
  return true;
}

bool SolveBounded(const Eigen::MatrixXf& H, const Eigen::MatrixXf& C, const Eigen::VectorXf& l,
                  const Eigen::VectorXf& u, const Eigen::VectorXf& x0, Eigen::VectorXf* x) {
  const Eigen::MatrixXf M = H.partialPivLu().inverse();
  const Eigen::MatrixXf MCt = M * C.transpose();
  const Eigen::VectorXf d = (C * MCt).diagonal();
  *x = x0;
  Eigen::VectorXf lambda = Eigen::VectorXf::Zero(C.rows());
  Eigen::VectorXf s = Eigen::VectorXf::Zero(C.rows());
  for (int n = 0; n < 1000; ++n) {
    lambda -= s;
    const Eigen::VectorXf v = C * *x;
    for (Eigen::Index i = 0; i < C.rows(); ++i) {
      const float q = 0.5f * (u[i] - v[i]) / d[i], p = 0.5f * (l[i] - v[i]) / d[i];
      s[i] = std::max(std::min(lambda[i], q), std::min(std::max(lambda[i], q), p));
    }
    *x += MCt * s;
    const Eigen::VectorXf cx = C * *x;
    const float r = (cx.cwiseMin(l) - l).norm() + (cx.cwiseMax(u) - u).norm();
    if (static_cast<double>(r) < 0.0001) return true;
  }
  return false;
}

const std::vector<int>& Blendshapes::KeptShapes() {
  static const std::vector<int> kept = {0, 1, 21, 27, 28, 35, 38};
  return kept;
}

void Blendshapes::Load(const std::string& name) {
  if (LoadExpressionsQt(name, KeptShapes(), &mean, &shapes)) {
    weights = Eigen::VectorXf::Zero(shapes.cols());
  }
}

void Blendshapes::ResetExpression(FaceMesh* mesh) {
  weights = Eigen::VectorXf::Zero(shapes.cols());
  WriteModelFace(mesh);
}

void Blendshapes::WriteModelFace(FaceMesh* mesh) const {
  if (empty()) return;  // no model: the mesh keeps what it has
  const Eigen::VectorXf m = mean + shapes * weights;
  // Only vertices that both the mesh and the model have.
  const int n = std::min<int>(mesh->vertex_count(), static_cast<int>(m.size() / 3));
  for (int i = 0; i < n; ++i) mesh->vertices[i] = m.segment<3>(3 * i);
  mesh->ComputeNormals();
}

void Blendshapes::UpdateExpression(std::shared_ptr<const ImageData> /*data*/,
                                   const std::vector<LandmarkData>& landmarks,
                                   const Eigen::Affine3f& pose, FaceMesh* mesh) {
  if (empty()) return;
  const int k_count = static_cast<int>(shapes.cols());
  const int model_vertices = static_cast<int>(mean.size() / 3);
  const Eigen::Matrix3f R = pose.linear();
  const Eigen::Vector3f t = pose.translation();
  Eigen::MatrixXf A(3 * mesh->matching.size(), k_count);
  Eigen::VectorXf b(3 * mesh->matching.size());
  int rows = 0;
  for (const auto& [a, v] : mesh->matching) {
    if (a < 0 || a >= static_cast<int>(landmarks.size()) || v < 0 || v >= model_vertices) continue;
    const Eigen::Vector3f w0 = R * mean.segment<3>(3 * v) + t;
    b.segment<3>(rows) = Eigen::Vector3f::Map(landmarks[a].world.data()) - w0;
    for (int k = 0; k < k_count; ++k) A.block<3, 1>(rows, k) = R * shapes.block<3, 1>(3 * v, k);
    rows += 3;
  }
  const auto A_used = A.topRows(rows);
  Eigen::MatrixXf H = A_used.transpose() * A_used;
  const Eigen::VectorXf g = A_used.transpose() * b.head(rows);
  // A shape that moves no matched vertex leaves H singular: a small ridge makes the fit keep such
  // weights at 0 instead of dividing by zero.
  const float ridge = 1e-6f * std::max(H.trace() / std::max(k_count, 1), 1e-12f);
  if (Eigen::FullPivLU<Eigen::MatrixXf>(H).rank() < k_count) {
    H += ridge * Eigen::MatrixXf::Identity(k_count, k_count);
  }
  const Eigen::VectorXf x0 = H.partialPivLu().solve(g);
  Eigen::VectorXf x;
  const Eigen::MatrixXf C = Eigen::MatrixXf::Identity(k_count, k_count);
  const bool converged =
      x0.allFinite() &&
      SolveBounded(H, C, Eigen::VectorXf::Zero(k_count), Eigen::VectorXf::Ones(k_count), x0, &x) &&
      x.allFinite();
  if (converged) {
    weights = x;
  } else {
    LOG(WARNING) << "Blendshapes::updateExpression() not converged";
    weights = Eigen::VectorXf::Zero(k_count);
  }
  WriteModelFace(mesh);
}

void Blendshapes::Scale(const std::array<float, 3>& factors) {
  for (Eigen::Index i = 0; i < mean.size(); ++i) mean[i] *= factors[i % 3];
  for (Eigen::Index i = 0; i < shapes.rows(); ++i) shapes.row(i) *= factors[i % 3];
}

}  // namespace vantisol
