// The face model's text lists: triangle subsets, landmark matching and eye offsets. The first byte
// picks the list; the matching is then used in an expression fit, as the tracker does.
#include <Eigen/Geometry>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "face_tracking/blendshapes.h"
#include "face_tracking/face_mesh.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantisol::fuzz::QuietLogging();
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  vantisol::FaceMesh mesh;
  mesh.ParseObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 2 3\nf 1 3 4\n");
  switch (data[0] % 3) {
    case 0:
      vantisol::FaceMesh::ParseSubsetIndices(text, mesh.front_triangles);
      break;
    case 1: {
      mesh.ParseMatching(text);
      // A model of the mesh's four vertices with two expressions.
      vantisol::Blendshapes shapes;
      shapes.mean = Eigen::VectorXf::LinSpaced(12, 0, 1);
      shapes.shapes = Eigen::MatrixXf::Identity(12, 2);
      shapes.weights = Eigen::VectorXf::Zero(2);
      std::vector<vantisol::LandmarkData> landmarks(8);
      for (size_t i = 0; i < landmarks.size(); ++i) landmarks[i].world = {float(i), 1, 2};
      shapes.UpdateExpression(nullptr, landmarks, Eigen::Affine3f::Identity(), &mesh);
      break;
    }
    default:
      mesh.ParseEyeRotationOffsets(text);
      break;
  }
  return 0;
}
