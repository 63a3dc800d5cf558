#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "face_tracking/face_mesh.h"
#include "utils/camera_image.h"

namespace vantisol {

// Reads the blendshape file ":/" + name: `mean` = the neutral face, column k of `shapes` = file
// shape indices[k] minus the neutral face. A missing or malformed file logs a warning and leaves
// both unchanged; returns whether they were read.
bool LoadExpressionsQt(const std::string& name, const std::vector<int>& indices,
                       Eigen::VectorXf* mean, Eigen::MatrixXf* shapes);
// The same over the file's bytes; `name` is for the warning.
bool ParseExpressions(const char* bytes, size_t size, const std::string& name,
                      const std::vector<int>& indices, Eigen::VectorXf* mean,
                      Eigen::MatrixXf* shapes);

// Minimises ½ xᵀHx − gᵀx (x0 = H⁻¹g) subject to l ≤ Cx ≤ u by projection on the constraints.
// Returns whether the bound residual fell below 1e-4 within 1000 iterations; `x` gets the last
// iterate either way.
bool SolveBounded(const Eigen::MatrixXf& H, const Eigen::MatrixXf& C, const Eigen::VectorXf& l,
                  const Eigen::VectorXf& u, const Eigen::VectorXf& x0, Eigen::VectorXf* x);

// The expression model: neutral face plus kept expression shapes, with weights in [0, 1].
class Blendshapes {
 public:
  // File indices of the kept expression shapes, in weight order.
  static const std::vector<int>& KeptShapes();

  virtual ~Blendshapes() = default;

  void Load(const std::string& name);
  // Neutral expression: weights 0, the mesh's vertices the neutral face, normals recomputed.
  void ResetExpression(FaceMesh* mesh);
  // Fits the weights to the landmarks under `pose` and writes the model face into `mesh`.
  void UpdateExpression(std::shared_ptr<const ImageData> data,
                        const std::vector<LandmarkData>& landmarks, const Eigen::Affine3f& pose,
                        FaceMesh* mesh);
  void Scale(const std::array<float, 3>& factors);

  bool empty() const { return mean.size() == 0; }

  Eigen::MatrixXf shapes;
  Eigen::VectorXf mean;
  Eigen::VectorXf weights;

 private:
  void WriteModelFace(FaceMesh* mesh) const;
};

}  // namespace vantisol
