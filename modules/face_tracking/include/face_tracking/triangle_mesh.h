#pragma once

#include <Eigen/Core>
#include <array>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vantisol {

using vec3 = Eigen::Vector3f;

// A triangle mesh with per-vertex normals and the edge topology derived from its triangles.
class TriangleMesh {
 public:
  TriangleMesh() = default;
  // Copies geometry and rebuilds the topology; the OBJ index lists start empty.
  TriangleMesh(const TriangleMesh& other);
  TriangleMesh& operator=(const TriangleMesh& other);
  virtual ~TriangleMesh() = default;

  // One OBJ line: vertices, normals and triangle faces; everything else is ignored.
  void ParseObjLine(std::string line);
  void RebuildTopology();
  void ComputeNormals();
  vec3 Centroid() const;
  void Scale(float x, float y, float z);
  void Scale(const std::array<float, 3>& factors);
  // Ignores an index outside [0, vertex count).
  void SetVertex(int i, vec3 p);
  // Range-checked: throws std::out_of_range.
  const vec3& vertex(int i) const { return vertices.at(static_cast<size_t>(i)); }
  int vertex_count() const { return static_cast<int>(vertices.size()); }

  std::vector<vec3> vertices;
  std::vector<int> triangles;
  std::vector<int> texture_indices;
  std::vector<vec3> normals;
  std::vector<int> normal_indices;
  std::set<std::pair<int, int>> edges;
  std::vector<std::vector<int>> neighbours;
  std::vector<int> vertex_values;

 private:
  void CopyFrom(const TriangleMesh& other);
};

}  // namespace vantisol
